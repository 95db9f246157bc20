"""Self-install under Wine: a windowed start from anywhere but the install
folder puts a copy at install\\launcher\\tarnwick.exe, makes the Start-menu
and desktop shortcuts and starts the copy.

These runs use a Wine prefix of their own, made with HOME in the build tree:
a prefix links its desktop folder to the home folder, and the shortcuts must
not land on the desktop of whoever runs the tests. A windowed start may show
the splash, so they run under an X server of their own; whatever the started
copies still run at the end of a test is ended with the prefix's wineserver."""
import os
import shutil
import subprocess
import time

import pytest

from games import make_game, publish
from launcher import BUILD, LAUNCHER, WIN, read_log, run_wine, start_wine, wait_for_log, \
    wine_env, winpath

SHELL_PREFIX = BUILD / "wineprefix-shell"
SHELL_HOME = BUILD / "wine-home"
LINK_READER = WIN / "shell_link_reader.exe"
FAKE_GAME = WIN / "fake_game.exe"
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def prefix_env():
    return {"WINEPREFIX": str(SHELL_PREFIX), "HOME": str(SHELL_HOME),
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}


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


@pytest.fixture(scope="module")
def shell_prefix():
    ready = SHELL_PREFIX / ".ready"
    if not ready.exists():
        SHELL_HOME.mkdir(parents=True, exist_ok=True)
        env = wine_env(prefix_env())
        subprocess.run(["wineboot", "-i"], env=env, timeout=300, check=False, **QUIET)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300, check=False)
        ready.touch()


class Shell:
    """Starts programs in the shortcut tests' prefix, on their display."""

    def __init__(self, env):
        self.env = env

    def start(self, exe, args=(), env=None):
        return start_wine(exe, args, env={**self.env, **(env or {})})

    def start_launcher(self, exe, install_dir, server, args=(), install_text=None):
        return self.start(exe, args, {"TW_INSTALL_DIR": install_text or winpath(install_dir),
                                      "TW_UPDATE_URL": server.url})

    def links(self):
        """[link path, target, working folder, icon, description] of the
        Start-menu link and of the desktop link ([path, "missing"] if none)."""
        out = run_wine(LINK_READER, env=self.env, timeout=60).stdout.decode()
        return [line.split("\t") for line in out.splitlines()]

    def delete_links(self):
        run_wine(LINK_READER, ["--delete"], env=self.env, timeout=60)


@pytest.fixture
def shell(shell_prefix, display, update_server, tmp_path):
    # A small valid release, for the windowed run that follows the self-install.
    publish(make_game(tmp_path / "src", {"tarnwick.exe": b"MZ not really a game\n"}), update_server.root)
    env = {**prefix_env(), "DISPLAY": display}
    shell = Shell(env)
    shell.delete_links()
    yield shell
    subprocess.run(["wineserver", "-k"], env=wine_env(env), check=False, timeout=60)


def copy_of(source, path):
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, path)
    return path


def log_so_far(install_dir):
    return read_log(install_dir) if (install_dir / "launcher.log").exists() else []


def starts_from(exe):
    return lambda lines: bool(lines) and lines[0].startswith(f"tarnwick launcher v5 at {winpath(exe)},")


def test_start_elsewhere_installs_a_copy_with_both_shortcuts_and_starts_it(
        shell, install_dir, update_server, tmp_path):
    download = copy_of(LAUNCHER, tmp_path / "my downloads" / "tarnwick.exe")
    installed = install_dir / "launcher" / "tarnwick.exe"
    installed.parent.mkdir(parents=True)
    installed.write_bytes(b"an older launcher")   # replaced, with its shortcuts

    first = shell.start_launcher(download, install_dir, update_server, ["--no-self-update"])
    assert first.wait(timeout=60) == 0

    # The copy runs with the first instance's environment and starts a new log.
    log = wait_for_log(install_dir, starts_from(installed))
    assert log[0].endswith(f", install {winpath(install_dir)}, server {update_server.url}")
    assert installed.read_bytes() == LAUNCHER.read_bytes()
    assert not (installed.parent / "tarnwick.exe.part").exists()
    links = shell.links()
    assert links[0][0].endswith("\\Programs\\tarnwick\\tarnwick.lnk")
    assert links[1][0].endswith("\\Desktop\\tarnwick.lnk")
    target = winpath(installed)
    for link in links:
        assert link[1:] == [target, winpath(installed.parent), f"{target},0", "tarnwick"]


def test_the_installed_copy_however_its_path_is_spelled_copies_nothing(
        shell, install_dir, update_server):
    installed = copy_of(LAUNCHER, install_dir / "launcher" / "tarnwick.exe")
    spelled = winpath(install_dir) + "\\launcher\\.."   # another text for the same folder

    proc = shell.start_launcher(installed, install_dir, update_server, install_text=spelled)
    # Self-install comes before the windowed run's update check.
    deadline = time.monotonic() + 60
    while proc.poll() is None and "[1] checking for updates" not in log_so_far(install_dir):
        assert time.monotonic() < deadline, "the installed copy neither ended nor checked for updates"
        time.sleep(0.1)

    log = read_log(install_dir)
    assert starts_from(installed)(log)
    assert not any(line.startswith(("installed the launcher", "could not put")) for line in log)
    assert [link[1] for link in shell.links()] == ["missing", "missing"]
    assert sorted(os.listdir(installed.parent)) == ["tarnwick.exe"]


def test_a_running_installed_copy_leaves_the_launcher_running_from_where_it_was(
        shell, install_dir, update_server, tmp_path):
    # A running program image cannot be replaced, as a running launcher's.
    installed = copy_of(FAKE_GAME, install_dir / "launcher" / "tarnwick.exe")
    keep_running, started = tmp_path / "keep running", tmp_path / "started"
    keep_running.write_bytes(b"")
    running = shell.start(installed, ["--out", winpath(started), "--until-gone", winpath(keep_running)])
    try:
        deadline = time.monotonic() + 30
        while not started.exists():
            assert time.monotonic() < deadline, "the installed copy did not start"
            time.sleep(0.05)
        download = copy_of(LAUNCHER, tmp_path / "my downloads" / "tarnwick.exe")
        shell.start_launcher(download, install_dir, update_server)
        message = f"could not put the launcher in {winpath(installed)} -- running from here"
        log = wait_for_log(install_dir, lambda lines: message in lines)
    finally:
        keep_running.unlink()
        running.wait(timeout=30)
    assert starts_from(download)(log)
    assert installed.read_bytes() == FAKE_GAME.read_bytes()
    assert [link[1] for link in shell.links()] == ["missing", "missing"]
