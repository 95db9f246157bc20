"""The launcher as a Windows citizen, under Wine: the "Apps & features" entry
the self-install writes and an update refreshes, the repair shortcut, and
--uninstall, which removes everything the launcher made (the running
installed launcher's own file included) and keeps what the player made.

These runs use the self-install tests' prefix, whose desktop lies in the
build tree, so the shortcuts they make and remove are the prefix's own."""
import random
import shutil
import subprocess
import time
from pathlib import Path

from games import SAVED_MANIFEST, SMALL_PIECE, STATE_FILE, make_game, publish, random_bytes, tree
from launcher import BUILD, LAUNCHER, TEST_LAUNCHER, WIN, run_launcher, run_wine, start_wine, wait_for_log, \
    wine_env, winpath
from test_layout_change import A as LAYOUT_A, B as LAYOUT_B, SAVE, SAVE_BYTES, hold
from test_self_install import FAKE_GAME, copy_of, display, env, links, start_launcher  # noqa: F401

ENTRY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tarnwick"
QUESTION = "Remove tarnwick and the installed game? Your own files in the game folder are kept."
EVERYTHING = (".twinstall.json", ".twupdate", ".twmanifest.json", ".twmanifest.sig", "launcher.log")
GAME = {
    "tarnwick.exe": b"MZ not really a game\n" * 20,
    "data/big.bin": random_bytes(3 * SMALL_PIECE + 100, seed=41),
    "data/maps/one.map": b"map one\n" * 300,
    "data/maps/deep/two.map": b"map two\n" * 30,
    "levels/one.lvl": b"level one\n" * 300,
}
PLAYER = {"saves/slot1.sav": b"my save\n", "data/settings.ini": b"volume=3\n"}


def entry_values(env):
    """The entry's values as name -> text ({} when there is none)."""
    out = run_wine("reg", ["query", ENTRY], env=env, timeout=60).stdout.decode("utf-8", "replace")
    values = {}
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) == 3 else ""
    return values


def kib(files):
    return -(-sum(len(data) for data in files.values()) // 1024)


def all_files(folder):
    return tree(folder, skip=())


def uninstall(exe, install_dir, env, extra=None, args=("--uninstall", "--headless")):
    return run_wine(exe, args, env={**env, "TW_INSTALL_DIR": winpath(install_dir), **(extra or {})}, timeout=180)


def update(installed, install_dir, env):
    proc = run_wine(installed, ["--headless"], env={**env, "TW_INSTALL_DIR": winpath(install_dir)}, timeout=180)
    assert proc.returncode == 0, proc.stdout


def self_install(env, install_dir, tmp_path):
    """A windowed start from a download: the copy, shortcuts and entry. The
    installed copy it starts is ended with the prefix's processes."""
    download = copy_of(LAUNCHER, tmp_path / "downloads" / "tarnwick.exe")
    installed = install_dir / "launcher" / "tarnwick.exe"
    assert start_launcher(download, env, winpath(install_dir), ["--no-self-update"]).wait(timeout=60) == 0
    wait_for_log(install_dir, lambda lines: bool(lines) and winpath(installed) in lines[0])
    subprocess.run(["wineserver", "-k"], env=wine_env(env), check=False, timeout=60)
    subprocess.run(["wineserver", "-w"], env=wine_env(env), check=False, timeout=60)
    return installed


def installed_game(env, install_dir, tmp_path, server):
    publish(make_game(tmp_path / "game", GAME), server.root, version="1.0.0")
    installed = self_install(env, install_dir, tmp_path)
    update(installed, install_dir, env)
    for name, data in PLAYER.items():
        (install_dir / name).parent.mkdir(parents=True, exist_ok=True)
        (install_dir / name).write_bytes(data)
    return installed


def test_the_entry_is_written_by_the_self_install_and_refreshed_by_an_update(env, install_dir, tmp_path,
                                                                              update_server):
    installed = installed_game(env, install_dir, tmp_path, update_server)
    target = winpath(installed)
    values = entry_values(env)
    assert {k: v for k, v in values.items() if k not in ("DisplayVersion", "EstimatedSize")} == {
        "DisplayName": "tarnwick", "DisplayIcon": target, "Publisher": "tarnwick",
        "InstallLocation": winpath(install_dir),
        "UninstallString": f'"{target}" --uninstall --install-dir "{winpath(install_dir)}"',
        "QuietUninstallString": f'"{target}" --uninstall --headless --install-dir "{winpath(install_dir)}"',
        "NoModify": "0x1", "NoRepair": "0x1"}
    assert values["DisplayVersion"] == "1.0.0"
    assert int(values["EstimatedSize"], 16) == kib(GAME)

    bigger = {**GAME, "data/more.bin": random_bytes(5 * SMALL_PIECE, seed=42)}
    publish(make_game(tmp_path / "game2", bigger), update_server.root, version="1.1.0")
    update(installed, install_dir, env)
    values = entry_values(env)
    assert values["DisplayVersion"] == "1.1.0"
    assert int(values["EstimatedSize"], 16) == kib(bigger)

    # The repair shortcut starts the installed launcher with --verify.
    link = run_wine(WIN / "shell_link_reader.exe", ["--repair"], env=env, timeout=60).stdout.decode()
    fields = link.rstrip("\r\n").split("\t")
    assert fields[0].endswith("\\Programs\\tarnwick\\Repair tarnwick.lnk")
    assert fields[1:3] + fields[5:] == [target, winpath(installed.parent), "--verify"]

    # An entry whose launcher is gone is written anew by the next start.
    moved = install_dir / "launcher" / "old.exe"
    subprocess.run(["wine", "reg", "add", ENTRY, "/v", "DisplayIcon", "/d", winpath(moved), "/f"],
                   env=wine_env(env), check=True, timeout=60, capture_output=True)
    update(installed, install_dir, env)
    assert entry_values(env)["DisplayIcon"] == target


def test_a_headless_uninstall_by_the_installed_launcher_keeps_only_the_players_files(env, install_dir,
                                                                                       tmp_path, update_server):
    installed = installed_game(env, install_dir, tmp_path, update_server)
    (install_dir / ".twkeys").write_bytes(b"the key records a release key's install keeps")
    proc = uninstall(installed, install_dir, env)
    out = proc.stdout.decode("utf-8", "replace")
    assert proc.returncode == 0, out
    assert all_files(install_dir) == PLAYER
    assert sorted(p.relative_to(install_dir).as_posix() for p in install_dir.rglob("*")) == [
        "data", "data/settings.ini", "saves", "saves/slot1.sav"]
    assert [link[1] for link in links(env)] == ["missing", "missing"]
    assert run_wine(WIN / "shell_link_reader.exe", ["--repair"], env=env).stdout.decode().rstrip().endswith("\tmissing")
    assert entry_values(env) == {}
    assert f"tarnwick was removed. Your own files were kept in {winpath(install_dir)}." in out
    assert f"kept {winpath(install_dir / 'saves' / 'slot1.sav')}" in out

    # A second run finds nothing left to do and says so the same way.
    again = uninstall(LAUNCHER, install_dir, env)
    assert again.returncode == 0 and all_files(install_dir) == PLAYER


def test_an_uninstall_cut_anywhere_and_run_again_ends_the_same(env, install_dir, tmp_path, update_server):
    installed_game(env, install_dir, tmp_path, update_server)
    pristine = tmp_path / "pristine"
    shutil.copytree(install_dir, pristine, symlinks=True)
    outside = tmp_path / "outside.txt"
    outside.write_bytes(b"not the launcher's\n")
    rng = random.Random(20261208)
    # Passes: five game files, then the saved manifest, the log and the state
    # file (the shortcuts and the entry are gone after the first round).
    for cut in sorted({1, 2, 5} | set(rng.sample(range(3, 10), 3))):
        shutil.rmtree(install_dir)
        shutil.copytree(pristine, install_dir, symlinks=True)
        first = uninstall(TEST_LAUNCHER, install_dir, env, {"TW_TEST_CRASH_AT": f"uninstall-removed:{cut}"})
        assert first.returncode == 9, (cut, first.stdout)
        second = uninstall(LAUNCHER, install_dir, env)
        assert second.returncode == 0, (cut, second.stdout)
        assert all_files(install_dir) == PLAYER, cut
        assert outside.read_bytes() == b"not the launcher's\n"


def test_an_uninstall_while_the_game_runs_refuses_and_removes_nothing(env, install_dir, tmp_path,
                                                                       update_server):
    publish(make_game(tmp_path / "game", {"game.exe": FAKE_GAME.read_bytes(), "data/a.dat": b"a\n"}),
            update_server.root, version="1.0.0", exe="game.exe")
    update(LAUNCHER, install_dir, env)
    before = all_files(install_dir)
    started, keep_running = tmp_path / "started", tmp_path / "keep running"
    keep_running.write_bytes(b"")
    game = start_wine(install_dir / "game.exe", ["--out", winpath(started), "--until-gone", winpath(keep_running)],
                      env=env)
    try:
        deadline = time.monotonic() + 30
        while not started.exists():
            assert time.monotonic() < deadline, "the fake game did not start"
            time.sleep(0.05)
        proc = uninstall(LAUNCHER, install_dir, env)
    finally:
        keep_running.unlink()
        game.wait(timeout=30)
    assert proc.returncode == 1
    assert "tarnwick is running -- close the game and run the uninstall again" in proc.stdout.decode()
    assert all_files(install_dir) == before


def press(button, env):
    pressed = run_wine(WIN / "window_list.exe", [button, "tarnwick.exe", "--timeout", "60000"], env=env,
                       timeout=90)
    assert pressed.returncode == 0, f"no box to {button}"
    return pressed.stdout.decode().rstrip("\r\n").split("\t")


def test_the_windowed_question_answered_no_changes_nothing_and_yes_removes(env, install_dir, tmp_path,
                                                                            update_server):
    installed = installed_game(env, install_dir, tmp_path, update_server)
    before = all_files(install_dir)   # launcher.log included
    values = entry_values(env)
    start = lambda: start_wine(installed, ["--uninstall"], env={**env, "TW_INSTALL_DIR": winpath(install_dir)})
    proc = start()
    assert press("--press-no", env) == ["tarnwick", QUESTION]
    assert proc.wait(timeout=60) == 0
    assert all_files(install_dir) == before
    assert entry_values(env) == values
    assert [link[1] for link in links(env)] == [winpath(installed)] * 2

    proc = start()
    assert press("--press-yes", env) == ["tarnwick", QUESTION]
    closing = press("--press-ok", env)
    assert closing == ["tarnwick", f"tarnwick was removed. Your own files were kept in {winpath(install_dir)}."]
    assert proc.wait(timeout=60) == 0
    assert all_files(install_dir) == PLAYER
    assert entry_values(env) == {}


# Headless uninstalls in the main prefix: an install made by a headless run.
def headless_install(install_dir, tmp_path, server, files=GAME):
    publish(make_game(tmp_path / "game", files), server.root, version="1.0.0")
    assert run_launcher(install_dir, server_url=server.url).returncode == 0
    for name, data in PLAYER.items():
        (install_dir / name).parent.mkdir(parents=True, exist_ok=True)
        (install_dir / name).write_bytes(data)


def test_an_uninstall_after_an_update_it_cannot_undo_removes_nothing_until_it_can(install_dir, tmp_path,
                                                                                   update_server):
    publish(make_game(tmp_path / "a", LAYOUT_A), update_server.root, version="A")
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    (install_dir / SAVE).write_bytes(SAVE_BYTES)
    publish(make_game(tmp_path / "b", LAYOUT_B), update_server.root, version="B")
    # Cut with the save kept aside and B's file where its folder was; that
    # file is then held, so the replay cannot put the folder back.
    cut = run_launcher(install_dir, server_url=update_server.url, env={"TW_TEST_CRASH_AT": "kept:1"})
    assert cut.returncode == 9
    let_go = hold(install_dir / "data" / "sub", "uninstall")
    try:
        first = uninstall(LAUNCHER, install_dir, {})
        assert first.returncode == 1
        assert ("an interrupted update could not be undone -- close the programs that use the game's files and "
                "run the uninstall again; nothing was removed") in first.stdout.decode()
        assert (install_dir / STATE_FILE).exists()
        assert SAVE_BYTES in [p.read_bytes() for p in install_dir.rglob("*") if p.is_file()]
    finally:
        let_go()
    second = uninstall(LAUNCHER, install_dir, {})
    assert second.returncode == 0, second.stdout
    assert all_files(install_dir) == {SAVE: SAVE_BYTES}


def test_an_uninstall_over_a_damaged_record_trusts_only_the_signed_manifest(install_dir, tmp_path, update_server):
    headless_install(install_dir, tmp_path, update_server)
    (install_dir / STATE_FILE).write_bytes(b'{"version":"1.0.0","files":{"data/big.bin":[')   # cut short
    signature = (install_dir / SAVED_MANIFEST[1]).read_bytes()
    (install_dir / SAVED_MANIFEST[1]).unlink()
    refused = uninstall(LAUNCHER, install_dir, {})
    assert refused.returncode == 1
    assert f"the install record in {winpath(install_dir)} is damaged" in refused.stdout.decode()
    assert tree(install_dir) == {**GAME, **PLAYER} and (install_dir / STATE_FILE).exists()

    (install_dir / SAVED_MANIFEST[1]).write_bytes(signature)
    done = uninstall(LAUNCHER, install_dir, {})
    assert done.returncode == 0, done.stdout
    assert all_files(install_dir) == PLAYER


def test_an_uninstall_that_meets_a_held_game_file_keeps_its_record_for_the_next_run(install_dir, tmp_path,
                                                                                     update_server):
    headless_install(install_dir, tmp_path, update_server)
    let_go = hold(install_dir / "data" / "big.bin", "held")
    try:
        first = uninstall(LAUNCHER, install_dir, {})
        assert first.returncode == 1
        assert (install_dir / STATE_FILE).exists() and (install_dir / "data" / "big.bin").exists()
    finally:
        let_go()
    second = uninstall(LAUNCHER, install_dir, {})
    assert second.returncode == 0, second.stdout
    assert all_files(install_dir) == PLAYER


RUN_ONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"


def test_a_running_launcher_that_cannot_leave_its_volume_is_removed_at_logon_under_a_name_of_its_own(
        install_dir, tmp_path, update_server):
    headless_install(install_dir, tmp_path, update_server)
    installed = copy_of(TEST_LAUNCHER, install_dir / "launcher" / "tarnwick.exe")
    # Its move out of the install folder fails, as it does across volumes.
    proc = run_wine(installed, ["--uninstall", "--headless"], env={
        "TW_INSTALL_DIR": winpath(install_dir), "TW_TEST_FILE_FAULT": "move|\\launcher\\tarnwick.exe|1|17"})
    out = run_wine("reg", ["query", RUN_ONCE], timeout=60).stdout.decode("utf-8", "replace")
    values = [line.strip().split(None, 2) for line in out.splitlines() if "REG_SZ" in line]
    ours = [(name, command) for name, _, command in values if name.startswith("tarnwick-removed")]
    try:
        assert proc.returncode == 0, proc.stdout
        assert len(ours) == 1, out
        name, command = ours[0]
        parked = install_dir / "launcher" / f"{name}.exe"   # the file is named as the value
        assert f'del /f /q "{winpath(parked)}"' in command
        assert not installed.exists()   # the launcher's own name is free for a new install
        assert all_files(install_dir) == {**PLAYER, f"launcher/{name}.exe": TEST_LAUNCHER.read_bytes()}
    finally:
        for name, _ in ours:
            run_wine("reg", ["delete", RUN_ONCE, "/v", name, "/f"], timeout=60)
