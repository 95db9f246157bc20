"""Running the Windows launcher and its helper programs under Wine."""
import os
import subprocess
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
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run(["wine", str(exe), *map(str, args)], env=wine_env(env),
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout, **kwargs)
        out.seek(0)
        err.seek(0)
        proc.stdout = out.read()
        proc.stderr = err.read()
        return proc


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
    return run_wine(launcher_for(env), args, env=extra, timeout=timeout)


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
