"""The install folder of the player's choice, on a second drive letter that
Wine maps to a folder of the test's: --install-dir on the first start, the
choice remembered for later starts, the installed launcher, its shortcuts and
the Apps & features entry that knows the folder whatever the environment, and
the refusal of a folder that cannot hold the game before anything is
downloaded."""
import subprocess
from pathlib import Path

import pytest

from games import STATE_FILE, SAVED_MANIFEST, UPDATE_FOLDER, make_game, publish, random_bytes, tree
from launcher import LAUNCHER, TEST_LAUNCHER, read_log, run_wine, start_wine, wait_for_log, wine_env, winpath
from test_self_install import copy_of, display, env, links  # noqa: F401  (fixtures)
from test_uninstall import entry_values

OWN = r"HKCU\Software\tarnwick"
CHOSEN = r"T:\Games\tarnwick"
SKIPPED = (STATE_FILE, UPDATE_FOLDER, "launcher.log") + SAVED_MANIFEST
GAME = {"tarnwick.exe": b"MZ on another drive\n", "data/big.bin": random_bytes(3 << 20, seed=77)}


def remembered(env=None):
    out = run_wine("reg", ["query", OWN, "/v", "InstallDir"], env=env, timeout=60).stdout.decode(errors="replace")
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if parts[:2] == ["InstallDir", "REG_SZ"]:
            return parts[2] if len(parts) == 3 else ""
    return None


def map_drive(env, tmp_path):
    """Maps T: to a folder of the test in the prefix `env` names; returns
    the folder and the link to remove."""
    link = Path(wine_env(env)["WINEPREFIX"]) / "dosdevices" / "t:"
    if link.is_symlink():
        link.unlink()   # left by a test that was killed
    folder = tmp_path / "drive-t"
    folder.mkdir()
    link.symlink_to(folder)
    return folder, link


@pytest.fixture
def drive(tmp_path):
    folder, link = map_drive(None, tmp_path)
    yield folder
    link.unlink()
    run_wine("reg", ["delete", OWN, "/v", "InstallDir", "/f"], timeout=60)


def run(args, url, launcher=LAUNCHER, extra=None):
    """The launcher without TW_INSTALL_DIR, as a player starts it."""
    return run_wine(launcher, args, env={"TW_UPDATE_URL": url, **(extra or {})}, timeout=300)


def test_the_chosen_folder_is_used_and_remembered(drive, update_server, tmp_path):
    publish(make_game(tmp_path / "v1", GAME), update_server.root, version="1.0.0")
    proc = run(["--headless", "--install-dir", CHOSEN], update_server.url)
    folder = drive / "Games" / "tarnwick"
    assert proc.returncode == 0, proc.stdout
    assert tree(folder) == GAME
    assert remembered() == CHOSEN
    assert "install folder chosen with --install-dir -- later starts use it too" in read_log(folder)

    # A later start without the option updates the same folder.
    newer = {**GAME, "data/more.txt": b"release two\n"}
    publish(make_game(tmp_path / "v2", newer), update_server.root, version="2.0.0")
    assert run(["--headless"], update_server.url).returncode == 0
    assert tree(folder) == newer
    assert read_log(folder)[0].endswith(f", install {CHOSEN}, server {update_server.url}")


def test_a_folder_that_cannot_hold_the_game_is_refused_before_anything_is_downloaded(drive, update_server,
                                                                                       tmp_path):
    publish(make_game(tmp_path / "v1", GAME), update_server.root)
    protected = r"C:\Program Files\tarnwick"
    proc = run(["--headless", "--install-dir", protected], update_server.url)
    assert proc.returncode == 1
    assert proc.stdout.decode().strip() == (
        rf"the install folder {protected} is inside C:\Program Files, where only an administrator may write "
        "-- choose another folder")
    assert not (Path(wine_env()["WINEPREFIX"]) / "drive_c" / "Program Files" / "tarnwick").exists()

    (drive / "blocked").write_bytes(b"a file where a folder would go\n")
    proc = run(["--headless", "--install-dir", r"T:\blocked\tarnwick"], update_server.url)
    assert proc.returncode == 1
    out = proc.stdout.decode().strip()
    assert out.startswith(r"the install folder T:\blocked\tarnwick cannot be made (error ")
    assert out.endswith(") -- choose another folder")
    assert remembered() is None   # a refused folder is not remembered
    assert update_server.requests == []

    # Too little space: said with the folder, the space needed and the space free.
    proc = run(["--headless", "--install-dir", r"T:\small"], update_server.url, launcher=TEST_LAUNCHER,
               extra={"TW_TEST_FREE_BYTES": str(2 << 20)})
    assert proc.returncode == 1
    log = read_log(drive / "small")
    failed = [line for line in log if line.startswith("[8] ")]
    assert failed == [r"[8] not enough disk space: the update needs 9 MB free in T:\small, which has 2 MB"], log
    assert not any("/chunks/" in path for path, _ in update_server.requests)


def test_the_installed_launcher_shortcuts_and_entry_serve_the_chosen_folder(env, update_server, tmp_path):
    drive_folder, link = map_drive(env, tmp_path)
    try:
        publish(make_game(tmp_path / "game", GAME), update_server.root, version="1.0.0")
        download = copy_of(LAUNCHER, tmp_path / "downloads" / "tarnwick.exe")
        folder = drive_folder / "Games" / "tarnwick"
        installed = CHOSEN + r"\launcher\tarnwick.exe"
        # A windowed first start from a download, without TW_INSTALL_DIR.
        assert start_wine(download, ["--install-dir", CHOSEN, "--no-self-update"], env=env).wait(timeout=60) == 0
        # The installed copy knows its folder from its own place.
        wait_for_log(folder, lambda lines: bool(lines) and lines[0].startswith(f"tarnwick launcher v5 at {installed},")
                     and f", install {CHOSEN}," in lines[0])
        subprocess.run(["wineserver", "-k"], env=wine_env(env), check=False, timeout=60)
        subprocess.run(["wineserver", "-w"], env=wine_env(env), check=False, timeout=60)
        assert [entry[1] for entry in links(env)] == [installed, installed]
        values = entry_values(env)
        assert values["InstallLocation"] == CHOSEN
        assert values["UninstallString"] == f'"{installed}" --uninstall --install-dir "{CHOSEN}"'
        quiet = values["QuietUninstallString"]
        assert quiet == f'"{installed}" --uninstall --headless --install-dir "{CHOSEN}"'

        # The installed launcher, started as its shortcut starts it, updates there.
        assert run_wine(installed, ["--headless"], env=env, timeout=300).returncode == 0
        assert tree(folder, skip=SKIPPED + ("launcher",)) == GAME

        # Apps & features runs the command as it stands, whatever the
        # environment says: another folder's game stays.
        other = tmp_path / "other install"
        other.mkdir()
        (other / "tarnwick.exe").write_bytes(b"another install\n")
        proc = run_wine(installed, ["--uninstall", "--headless", "--install-dir", CHOSEN],
                        env={**env, "TW_INSTALL_DIR": winpath(other)}, timeout=180)
        assert proc.returncode == 0, proc.stdout
        assert not (folder / "tarnwick.exe").exists() and not (folder / "data").exists()
        assert (other / "tarnwick.exe").read_bytes() == b"another install\n"
        assert entry_values(env) == {}
        assert remembered(env) is None
    finally:
        link.unlink()
        run_wine("reg", ["delete", OWN, "/v", "InstallDir", "/f"], env=env, timeout=60)

