"""Running the Windows launcher and its helper programs under Wine."""
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TW_BUILD", REPO / "build"))
WIN = BUILD / "win"
LAUNCHER = WIN / "tarnwick.exe"
# The same launcher with its test seams (TW_TEST_* variables) compiled in.
TEST_LAUNCHER = WIN / "tarnwick_test.exe"
UNIT_TESTS = WIN / "tarnwick_tests.exe"
PUBLISH_TOOL = BUILD / "host" / "tarnwick-publish"
PRIVATE_KEY = Path(os.environ.get("TW_PRIVATE_KEY", BUILD / "keys" / "private.pem"))
PUBLIC_KEY = PRIVATE_KEY.with_name("public.pem")


def winpath(path) -> str:
    """The Windows name Wine gives a Linux path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine_env(extra=None) -> dict:
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(BUILD / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
    env.pop("DISPLAY", None)
    for name in ("TW_UPDATE_URL", "TW_INSTALL_DIR", "V2_SPLASH_CAPTION", "V2_SPLASH_CAPTION_HOT",
                 "V2_SPLASH_PILL", "V2_SPLASH_VOXELS"):
        env.pop(name, None)
    if extra:
        env.update({k: str(v) for k, v in extra.items()})
    return env


def run_wine(exe, args=(), env=None, timeout=300, **kwargs) -> subprocess.CompletedProcess:
    """Runs a Windows program to its end. Output goes through temporary files,
    not pipes: Wine's own long-lived helpers may inherit the handles, and a
    pipe would then never report its end."""
    command = ["wine", str(exe), *map(str, args)]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        with subprocess.Popen(command, env=wine_env(env), stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              **kwargs) as process:
            try:
                returncode = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                # Where every thread stands, taken before the kill: a hang
                # that comes once in hundreds of runs is seen only here.
                sys.stderr.write(f"{exe} did not end within {timeout} s\n{wine_backtraces(env, exe)}\n")
                process.kill()
                raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, returncode, out.read(), err.read())


def wine_backtraces(env=None, exe=None) -> str:
    """The backtrace of every thread of every program in the prefix, with the
    frames in exe named from its debug information."""
    try:
        text = subprocess.run(["winedbg", "--command", "bt all"], env=wine_env(env), capture_output=True,
                              timeout=120).stdout.decode("utf-8", "replace")
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"no backtraces: {error}"
    if exe is None:
        return text
    frame = re.compile(r"(0x[0-9a-f]+) in " + re.escape(Path(exe).stem) + r" \(\+0x[0-9a-f]+\)")
    addresses = sorted(set(frame.findall(text)))
    try:
        names = subprocess.run(["x86_64-w64-mingw32-addr2line", "-e", str(exe), "-f", "-C", "-p", *addresses],
                               capture_output=True, timeout=120).stdout.decode("utf-8", "replace").splitlines()
    except (OSError, subprocess.TimeoutExpired):
        return text
    named = dict(zip(addresses, names))
    return frame.sub(lambda m: f"{m.group(0)} {named.get(m.group(1), '')}", text)


def start_wine(exe, args=(), env=None, **kwargs) -> subprocess.Popen:
    """Starts a Windows program and returns at once; output is discarded
    unless the caller passes stdout/stderr."""
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    kwargs.setdefault("stderr", subprocess.DEVNULL)
    return subprocess.Popen(["wine", str(exe), *map(str, args)], env=wine_env(env), **kwargs)


def launcher_for(env) -> Path:
    """The shipped launcher, or the test launcher when a test seam is set."""
    return TEST_LAUNCHER if any(k.startswith("TW_TEST_") for k in (env or {})) else LAUNCHER


def run_launcher(install_dir, args=("--headless",), server_url=None, env=None, timeout=300):
    """Runs the launcher with TW_INSTALL_DIR (and TW_UPDATE_URL when given)."""
    extra = {"TW_INSTALL_DIR": winpath(install_dir)}
    if server_url is not None:
        extra["TW_UPDATE_URL"] = server_url
    if env:
        extra.update(env)
    try:
        return run_wine(launcher_for(env), args, env=extra, timeout=timeout)
    except subprocess.TimeoutExpired:
        log = Path(install_dir) / "launcher.log"
        sys.stderr.write("launcher.log ends:\n" + (log.read_bytes()[-4000:].decode("utf-8", "replace")
                                                   if log.exists() else "(none)\n"))
        raise


def read_log(install_dir) -> list:
    """The lines of launcher.log without their time stamps."""
    text = (Path(install_dir) / "launcher.log").read_bytes().decode("utf-8", "replace")
    return [line[13:] for line in text.split("\r\n") if line]


def wait_for_log(install_dir, done, timeout=60) -> list:
    """Reads launcher.log until done(lines) holds, for launchers that run on
    after the process a test started has ended; returns those lines."""
    deadline = time.monotonic() + timeout
    lines = []
    while time.monotonic() < deadline:
        try:
            lines = read_log(install_dir)
        except FileNotFoundError:
            lines = []
        if done(lines):
            return lines
        time.sleep(0.1)
    raise AssertionError(f"launcher.log never showed what was awaited: {lines}")


def wine_folder(variable) -> Path:
    """The Linux path of a folder that a Windows environment variable names
    inside the prefix (TEMP, LOCALAPPDATA). Wine sets these from the prefix's
    registry, so a value passed in from Linux does not reach the program."""
    env = wine_env()
    shown = subprocess.run(["wine", "cmd", "/c", f"echo %{variable}%"], env=env, capture_output=True,
                           timeout=120).stdout.decode().strip()
    return Path(subprocess.run(["winepath", "-u", shown], env=env, capture_output=True,
                               timeout=120).stdout.decode().strip())
