"""Self-install under Wine: a windowed start from anywhere but the install
folder puts a copy at install\\launcher\\tarnwick.exe, makes the Start-menu and
desktop shortcuts and starts the copy.

A Wine prefix links its desktop folder to the home folder, so these runs use
a prefix of their own made with HOME in the build tree. A windowed start may
show the splash: they run on an X server of their own, and whatever the
started copies still run after a test is ended with that prefix's wineserver."""
import os
import shutil
import subprocess
import time

import pytest

from games import make_game, publish
from launcher import BUILD, LAUNCHER, WIN, read_log, run_wine, start_wine, wait_for_log, \
    wine_env, winpath

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
PREFIX = {"WINEPREFIX": str(BUILD / "wineprefix-shell"), "HOME": str(BUILD / "wine-home"),
          "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
FAKE_GAME = WIN / "fake_game.exe"


@pytest.fixture(scope="module")
def display():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                             "-screen", "0", "1280x800x24"], pass_fds=(write_end,), **QUIET)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        number = numbers.readline().strip()
    assert number, "Xvfb did not start"
    yield f":{number}"
    xvfb.terminate()
    xvfb.wait(timeout=30)


@pytest.fixture
def env(display, update_server, tmp_path):
    ready = BUILD / "wineprefix-shell" / ".ready"
    if not ready.exists():   # made once, like the main test prefix
        os.makedirs(PREFIX["HOME"], exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=wine_env(PREFIX), timeout=300, check=False, **QUIET)
        subprocess.run(["wineserver", "-w"], env=wine_env(PREFIX), timeout=300, check=False)
        ready.touch()
    # A small valid release for the windowed run that follows a self-install.
    publish(make_game(tmp_path / "src", {"tarnwick.exe": b"MZ not really a game\n"}), update_server.root)
    env = {**PREFIX, "DISPLAY": display, "TW_UPDATE_URL": update_server.url}
    run_wine(WIN / "shell_link_reader.exe", ["--delete"], env=env, timeout=60)
    yield env
    subprocess.run(["wineserver", "-k"], env=wine_env(env), check=False, timeout=60)


def start_launcher(exe, env, install_text, args=()):
    return start_wine(exe, args, env={**env, "TW_INSTALL_DIR": install_text})


def links(env):
    """[link, target, working folder, icon, description] of the Start-menu
    link, then of the desktop link ([link, "missing"] when there is none)."""
    out = run_wine(WIN / "shell_link_reader.exe", env=env, timeout=60).stdout.decode()
    return [line.split("\t") for line in out.splitlines()]


def copy_of(source, path):
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, path)
    return path


def starts_from(exe):
    return lambda lines: bool(lines) and lines[0].startswith(f"tarnwick launcher v5 at {winpath(exe)},")


def test_start_elsewhere_installs_a_copy_with_both_shortcuts_and_starts_it(env, install_dir, tmp_path):
    download = copy_of(LAUNCHER, tmp_path / "my downloads" / "tarnwick.exe")
    installed = install_dir / "launcher" / "tarnwick.exe"
    installed.parent.mkdir(parents=True)
    installed.write_bytes(b"an older launcher")   # replaced

    first = start_launcher(download, env, winpath(install_dir), ["--no-self-update"])
    assert first.wait(timeout=60) == 0

    # The copy runs with the first instance's environment and starts a new log.
    log = wait_for_log(install_dir, starts_from(installed))
    assert log[0].endswith(f", install {winpath(install_dir)}, server {env['TW_UPDATE_URL']}")
    assert installed.read_bytes() == LAUNCHER.read_bytes()
    assert os.listdir(installed.parent) == ["tarnwick.exe"]
    start_menu, desktop = links(env)
    assert start_menu[0].endswith("\\Programs\\tarnwick\\tarnwick.lnk")
    assert desktop[0].endswith("\\Desktop\\tarnwick.lnk")
    target = winpath(installed)
    assert start_menu[1:] == desktop[1:] == [target, winpath(installed.parent), f"{target},0", "tarnwick"]


def test_the_installed_copy_however_its_path_is_spelled_copies_nothing(env, install_dir, tmp_path):
    installed = copy_of(LAUNCHER, install_dir / "launcher" / "tarnwick.exe")
    (tmp_path / "another name").symlink_to(install_dir)   # another text for the same folder
    spelled = "Z:" + str(tmp_path / "another name").replace("/", "\\")

    proc = start_launcher(installed, env, spelled)
    # The self-install comes before the windowed run's update check.
    deadline = time.monotonic() + 60
    log = []
    while proc.poll() is None and "[1] checking for updates" not in log:
        assert time.monotonic() < deadline, "the installed copy neither ended nor checked for updates"
        time.sleep(0.1)
        log = read_log(install_dir) if (install_dir / "launcher.log").exists() else []

    log = read_log(install_dir)
    assert starts_from(installed)(log)
    assert not any(line.startswith(("installed the launcher", "could not put")) for line in log)
    assert [link[1] for link in links(env)] == ["missing", "missing"]
    assert os.listdir(installed.parent) == ["tarnwick.exe"]


def test_a_running_installed_copy_leaves_the_launcher_running_from_where_it_was(env, install_dir, tmp_path):
    # A running program's file cannot be replaced, as a running launcher's.
    installed = copy_of(FAKE_GAME, install_dir / "launcher" / "tarnwick.exe")
    keep_running, started = tmp_path / "keep running", tmp_path / "started"
    keep_running.write_bytes(b"")
    running = start_wine(installed, ["--out", winpath(started), "--until-gone", winpath(keep_running)], env=env)
    try:
        deadline = time.monotonic() + 30
        while not started.exists():
            assert time.monotonic() < deadline, "the installed copy did not start"
            time.sleep(0.05)
        download = copy_of(LAUNCHER, tmp_path / "my downloads" / "tarnwick.exe")
        start_launcher(download, env, winpath(install_dir))
        message = f"could not put the launcher in {winpath(installed)} -- running from here"
        log = wait_for_log(install_dir, lambda lines: message in lines)
    finally:
        keep_running.unlink()
        running.wait(timeout=30)
    assert starts_from(download)(log)
    assert installed.read_bytes() == FAKE_GAME.read_bytes()
    assert [link[1] for link in links(env)] == ["missing", "missing"]


def hold_install_folder(env, install_dir, tmp_path, seconds):
    """Holds the install folder's lock as a launcher would; returns the
    holder and its Windows process id."""
    lock, ready = install_dir / ".twlock", tmp_path / f"held-{seconds}"
    lock.write_bytes(b"")
    holder = start_wine(WIN / "file_locker.exe", [winpath(lock), "--ready", winpath(ready), "--seconds", str(seconds)],
                        env=env)
    deadline = time.monotonic() + 30
    while not (ready.exists() and ready.read_text()):
        assert time.monotonic() < deadline, "the lock holder did not start"
        time.sleep(0.05)
    return holder, ready.read_text()


def test_the_installed_copy_waits_for_the_launcher_that_started_it(env, install_dir, tmp_path):
    installed = copy_of(LAUNCHER, install_dir / "launcher" / "tarnwick.exe")
    # A first launcher still ending after 5 s, longer than a second launcher waits.
    holder, pid = hold_install_folder(env, install_dir, tmp_path, 5)
    started = time.monotonic()
    start_launcher(installed, env, winpath(install_dir), ["--after", pid])
    log = wait_for_log(install_dir, starts_from(installed), timeout=90)
    assert holder.wait(timeout=30) == 0
    assert time.monotonic() - started >= 4
    assert not any("another launcher" in line for line in log)


def test_the_installed_copy_says_so_when_the_folder_stays_held(env, install_dir, tmp_path):
    installed = copy_of(LAUNCHER, install_dir / "launcher" / "tarnwick.exe")
    # The launcher that started the copy has ended; another one holds the folder.
    (tmp_path / "other").mkdir()
    ended, first_pid = hold_install_folder(env, tmp_path / "other", tmp_path, 0)
    assert ended.wait(timeout=30) == 0
    holder, _ = hold_install_folder(env, install_dir, tmp_path, 60)
    (install_dir / "launcher.log").write_bytes(b"12:00:00.000 the other launcher's line\r\n")
    copy = start_launcher(installed, env, winpath(install_dir), ["--after", first_pid])
    message = f"another launcher is still working in {winpath(install_dir)} -- open the launcher again when it " \
              "has finished"
    log = wait_for_log(install_dir, lambda lines: message in lines)
    assert log == ["the other launcher's line", message]   # added to the holder's log, not over it
    time.sleep(1)
    assert copy.poll() is None   # the warning box is up
    holder.kill()
