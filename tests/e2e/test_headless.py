"""The headless road: settings from the environment, the log, exit codes."""
import os
import pty
import re
import select
import subprocess

from launcher import LAUNCHER, read_log, run_launcher, wine_env, winpath

UNREACHABLE = "http://127.0.0.1:9/update/"
STAMP = re.compile(r"^\d\d:\d\d:\d\d\.\d\d\d ")


def test_creates_install_folder_and_logs_start_and_end(install_dir):
    nested = install_dir / "a" / "b"
    result = run_launcher(nested, server_url=UNREACHABLE)
    assert result.returncode == 1
    raw = (nested / "launcher.log").read_bytes().decode()
    lines = [line for line in raw.split("\r\n") if line]
    assert all(STAMP.match(line) for line in lines), raw
    text = [line[13:] for line in lines]
    assert text[0].startswith("tarnwick launcher v5 at Z:\\")
    assert text[0].endswith(f", install {winpath(nested)}, server {UNREACHABLE}")
    assert re.match(r"headless: done, phase \d$", text[-1])


def test_second_start_empties_the_log(install_dir):
    install_dir.mkdir()
    (install_dir / "launcher.log").write_text("old run\n" * 100)
    run_launcher(install_dir, server_url=UNREACHABLE)
    log = read_log(install_dir)
    assert "old run" not in "\n".join(log)
    assert log[0].startswith("tarnwick launcher v5")


def test_empty_update_url_reads_as_unset(install_dir):
    run_launcher(install_dir, env={"TW_UPDATE_URL": ""})
    assert read_log(install_dir)[0].endswith("server https://updates.tarnwick.example/update/")


def test_no_install_with_headless_is_headless(install_dir):
    a = run_launcher(install_dir, args=("--headless", "--no-install"), server_url=UNREACHABLE)
    assert a.returncode == 1
    assert not (install_dir / "launcher").exists()   # no self-install with --headless


def test_shot_in_last_place_renders_nothing(install_dir, tmp_path):
    result = run_launcher(install_dir, args=("--headless", "--shot"), server_url=UNREACHABLE)
    assert result.returncode == 1
    log = read_log(install_dir)
    assert "shot written" not in log and "the shot failed" not in log


def test_headless_echoes_lines_on_the_terminal(install_dir):
    """With a terminal to attach to, every log line is printed without its stamp."""
    env = wine_env({"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": UNREACHABLE})
    pid, fd = pty.fork()
    if pid == 0:
        os.execvpe("wine", ["wine", str(LAUNCHER), "--headless"], env)
    output = b""
    while True:
        ready, _, _ = select.select([fd], [], [], 120)
        if not ready:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.waitpid(pid, 0)
    # Wine's console draws on the terminal with escape sequences: a cursor
    # move right stands for blanks, the others carry no text.
    text = output.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
    plain = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
    assert "tarnwick launcher v5" in plain
    assert "headless: done, phase" in plain


def test_shipped_launcher_has_no_test_seams():
    """A stray TW_TEST_* variable on a player's machine must do nothing: the
    shipped file carries neither the seams nor their names."""
    shipped = LAUNCHER.read_bytes()
    for name in ("TW_TEST_FREE_BYTES", "TW_TEST_CRASH_AT", "TW_TEST_HANDED_OVER", "TW_TEST_NO_UPDATE_THREAD",
                 "TW_TEST_HANDOVER_HEADSTART_MS", "TW_TEST_SLOW_BODY_WINDOW_MS"):
        assert name.encode() not in shipped and name.encode("utf-16-le") not in shipped
    assert b"TW_TEST_CRASH_AT" in LAUNCHER.with_name("tarnwick_test.exe").read_bytes()
