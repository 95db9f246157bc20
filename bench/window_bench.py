"""Windowed benchmark: how soon the splash shows and how smoothly it draws, at
1920x1080 under Xvfb and Wine, read from the Windows side and from the
splash's own splash.log.

    TW_BUILD=build TW_PRIVATE_KEY=build/keys/private.pem python3 bench/window_bench.py [--old EXE]

Every windowed run gives:
- start: wall-clock time from starting the launcher to its splash window
  being visible and painted, as tests/programs/window_list.exe sees it from
  the Windows side (started and looking before the launcher starts), and to
  the first video frame (the splash.log line "VIDEO first frame", placed by
  presplash.txt; earlier builds do not write it);
- frames: frames per second over the half-second state lines, the slowest
  half second, and the frames that came more than 50 ms after the one before
  (SLOW lines), with the machine's load average when the run ended;
- CPU time per frame of the window's thread and of the video's decode
  thread (the splash.log "CPU per frame" line; earlier builds do not write
  it), which unlike the rates does not depend on the machine's load.

Runs: idle (a server that holds every connection without answering, so the
splash waits with nothing else to do; figures from a second after the
video's first frame, with the start-up's slow frames counted apart) and
downloading (the first install of
the 1 GiB benchmark game from a loopback server, figures of its download
phase), each with the background video and, with this tree's test launcher,
without it (TW_TEST_VIDEO=off). With --old an earlier build's launcher runs
the same with its video, in turns with this tree's, so the load of a shared
machine falls on both alike. Targets: with video 30 frames per second and no
frame over 100 ms while downloading, no frame over 50 ms idle.
"""
import argparse
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(REPO / "tests" / "e2e"))

import bench_data  # noqa: E402
from launcher import (LAUNCHER, PRIVATE_KEY, PUBLISH_TOOL, TEST_LAUNCHER, WIN, read_log, run_wine,  # noqa: E402
                      start_wine, wine_env, wine_folder, winpath)
from static_server import StaticServer  # noqa: E402
from xdisplay import XDisplay  # noqa: E402

WINDOW_LIST = WIN / "window_list.exe"
STATE = re.compile(r"^ *(\d+\.\d+)s frames +(\d+) bar (\d\.\d\d) ")
SLOW = re.compile(r"^ *(\d+\.\d+)s SLOW frame (\d+\.\d) ms")
VIDEO_FIRST = re.compile(r"^ *(\d+\.\d+)s VIDEO first frame")
CPU = re.compile(r"^CPU per frame: window (\d+\.\d+) ms over \d+ frames, decode (\d+\.\d+) ms")
HOLD_SECONDS = 5


def say(text=""):
    print(text, flush=True)


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


class HoldingServer:
    """Accepts connections on 127.0.0.1 and answers nothing; each is closed
    after HOLD_SECONDS. A launcher pointed at it waits on its manifest (and
    retries) for a while, then ends in its warning box."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.sock.settimeout(0.5)
        self.port = self.sock.getsockname()[1]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def url(self):
        return "http://127.0.0.1:%d/update/" % self.port

    def _serve(self):
        held = []
        while not self.stopping.is_set():
            try:
                conn, _ = self.sock.accept()
                held.append((time.monotonic() + HOLD_SECONDS, conn))
            except socket.timeout:
                pass
            now = time.monotonic()
            for entry in [h for h in held if h[0] <= now]:
                entry[1].close()
                held.remove(entry)
        for _, conn in held:
            conn.close()

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join()
        self.sock.close()


def windowed_run(display, cache, exe, url, timeout, env=None):
    """One windowed run to its warning box: a dict of the figures."""
    for name in ("splash.log", "presplash.txt"):
        (cache / name).unlink(missing_ok=True)
    with tempfile.TemporaryDirectory(prefix="tw-window-bench-") as work:
        install = Path(work) / "install"
        extra = {"TW_INSTALL_DIR": winpath(install), "TW_UPDATE_URL": url}
        extra.update(env or {})
        out = open(Path(work) / "first-frame.txt", "w+")
        watcher = subprocess.Popen(["wine", str(WINDOW_LIST), "--class", "tarnwickSplash", "--first-frame",
                                    winpath(exe), "--timeout", "60000"], env=wine_env(display.env()),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while "ready" not in Path(out.name).read_text() and time.monotonic() < deadline:
            time.sleep(0.02)
        started = time.time()
        launcher = start_wine(exe, ["--no-install"], env=display.env(extra))
        try:
            # The benchmark game's executable is not a program, and the idle
            # server never answers: every run ends in a warning box.
            run_wine(WINDOW_LIST, ["--press-ok", winpath(exe), "--timeout", str(timeout * 1000)],
                     env=display.env(), timeout=timeout + 60)
            launcher.wait(timeout=60)
        finally:
            for proc in (launcher, watcher):
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
        seconds = time.time() - started
        marks = dict(line.split() for line in Path(out.name).read_text().splitlines() if line.count(" ") == 1)
        out.close()
        log = read_log(install)
        raw_log = (install / "launcher.log").read_bytes().decode("utf-8", "replace")
    text = (cache / "splash.log").read_bytes().decode("utf-8", "replace").splitlines()
    run = {
        "states": [(float(m.group(1)), int(m.group(2)), float(m.group(3))) for m in map(STATE.match, text) if m],
        "slow": [(float(m.group(1)), float(m.group(2))) for m in map(SLOW.match, text) if m],
        "seconds": seconds, "log": log, "raw_log": raw_log, "load": load_average(),
        "visible": int(marks["visible"]) / 1000 - started if "visible" in marks else None,
        "painted": int(marks["painted"]) / 1000 - started if "painted" in marks else None,
        "video": None, "video_s": None,
        "cpu": next(((float(m.group(1)), float(m.group(2))) for m in map(CPU.match, text) if m), None),
    }
    video = [float(m.group(1)) for m in map(VIDEO_FIRST.match, text) if m]
    try:
        presplash = int((cache / "presplash.txt").read_text().split()[0]) / 1000
    except (OSError, ValueError, IndexError):
        presplash = None
    if video:
        run["video_s"] = video[0]
    if video and presplash:
        run["video"] = presplash + video[0] - started
    return run


def frame_figures(states, slow):
    """(fps overall, slowest half second, frames over 50 ms, frames over 100
    ms, longest ms) over the state lines given; None with too few."""
    if len(states) < 2:
        return None
    span = states[-1][0] - states[0][0]
    if span <= 0:
        return None
    halves = [(f2 - f1) / (t2 - t1) for (t1, f1, _), (t2, f2, _) in zip(states, states[1:]) if t2 > t1]
    inside = [ms for t, ms in slow if states[0][0] <= t <= states[-1][0]]
    return ((states[-1][1] - states[0][1]) / span, min(halves), len(inside), sum(1 for ms in inside if ms > 100),
            max(inside, default=0.0))


def steady_from(run):
    """Where an idle run's steady state begins: a second after the video's
    first frame (this build opens the video after its window shows), or a
    second after the first state line."""
    if not run["states"]:
        return 0.0
    return (run["video_s"] if run["video_s"] is not None else run["states"][0][0]) + 1.0


def figures_of(run, kind):
    states = run["states"]
    if kind == "downloading":
        states = [s for s in states if 0.0 < s[2] < 0.9]
    else:
        states = [s for s in states if s[0] >= steady_from(run)]
    return frame_figures(states, run["slow"])


def start_up_slow(run):
    """Frames over 50 ms before an idle run's steady state, and the longest."""
    early = [ms for t, ms in run["slow"] if t < steady_from(run)]
    return len(early), max(early, default=0.0)


def seconds_text(value):
    return "  -  " if value is None else "%5.2f" % value


def print_run(label, i, run, kind):
    f = figures_of(run, kind)
    frames = "too few state lines" if f is None else (
        "%5.1f fps (slowest half second %5.1f), %3d frames over 50 ms, %2d over 100 ms, longest %6.1f ms"
        % f)
    if kind == "idle":
        frames += " | start-up: %d over 50 ms, longest %.1f ms" % start_up_slow(run)
    if run["cpu"]:
        frames += " | cpu per frame: window %.2f ms, decode %.2f ms" % run["cpu"]
    say("    %-22s %d: start->visible %s s, ->painted %s s, ->video %s s | %s | load %s" % (
        label, i + 1, seconds_text(run["visible"]), seconds_text(run["painted"]), seconds_text(run["video"]),
        frames, run["load"]))


def median_or_none(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def summary_row(label, runs, kind):
    figs = [figures_of(r, kind) for r in runs]
    figs = [f for f in figs if f]
    fps = median_or_none([f[0] for f in figs])
    worst = max((f[4] for f in figs), default=None)
    over50 = median_or_none([f[2] for f in figs])
    loads = ", ".join(r["load"].split()[0] for r in runs)
    cpus = [r["cpu"] for r in runs if r["cpu"]]
    cpu = "" if not cpus else "  cpu/frame %.2f + %.2f ms" % (statistics.median(c[0] for c in cpus),
                                                             statistics.median(c[1] for c in cpus))
    say("  %-34s %s s  %s s  %s s  %s fps  %s ms  %s%s  (load %s)" % (
        label, seconds_text(median_or_none([r["visible"] for r in runs])),
        seconds_text(median_or_none([r["painted"] for r in runs])),
        seconds_text(median_or_none([r["video"] for r in runs])),
        "  -  " if fps is None else "%5.1f" % fps, "   -  " if worst is None else "%6.1f" % worst,
        "  -" if over50 is None else "%3d" % over50, cpu, loads))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--old", help="an earlier build's tarnwick.exe, run in turns with this tree's")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each kind")
    args = parser.parse_args()
    for need in (LAUNCHER, TEST_LAUNCHER, WINDOW_LIST, PUBLISH_TOOL, PRIVATE_KEY):
        if not Path(need).exists():
            say("missing %s -- run `make build` first" % need)
            return 2
    say("windowed benchmark: %d cores, load average %s" % (os.cpu_count(), load_average()))
    data = bench_data.ensure(bench_data_dir(), PUBLISH_TOOL, PRIVATE_KEY, say=lambda t: say("  " + t))
    cache = wine_folder("TEMP") / "tarnwick-cache"
    # (label, exe, environment); the earlier build first in odd rounds.
    builds = [("this build, video", LAUNCHER, None)]
    if args.old:
        builds.append(("earlier build, video", Path(args.old), None))
    builds.append(("this build, no video", TEST_LAUNCHER, {"TW_TEST_VIDEO": "off"}))
    results = {(label, kind): [] for label, _, _ in builds for kind in ("idle", "downloading")}
    server = StaticServer({"big1": data["big-out1"]}).start()
    try:
        with XDisplay() as display, HoldingServer() as holding:
            say("splash 1920x1080 on Xvfb %s; idle: a server that never answers; downloading: the 1 GiB game"
                % display.name)
            for i in range(args.repeat):
                order = builds if i % 2 == 0 else builds[::-1]
                for kind, url, timeout in (("idle", holding.url(), 120), ("downloading", server.url("big1"), 900)):
                    say("  round %d, %s" % (i + 1, kind))
                    for label, exe, env in order:
                        run = windowed_run(display, cache, exe, url, timeout, env)
                        results[(label, kind)].append(run)
                        print_run(label, i, run, kind)
    finally:
        server.stop()

    say("\n== medians over %d runs: start->visible, ->painted, ->video, frames per second, longest frame, "
        "frames over 50 ms, CPU per frame (window + decode thread)" % args.repeat)
    for kind in ("idle", "downloading"):
        for label, _, _ in builds:
            summary_row("%s, %s" % (label, kind), results[(label, kind)], kind)
    say("machine load after: %s" % load_average())
    for kind, fps_target, limit in (("idle", 29, 50), ("downloading", 29, 100)):
        runs = results[("this build, video", kind)]
        figs = [f for f in (figures_of(r, kind) for r in runs) if f]
        if not figs:
            continue
        met = all(f[0] >= fps_target and f[4] <= limit for f in figs)
        say("target with video, %s: 30 fps, no frame over %d ms -- %s" % (
            kind, limit, "met" if met else "NOT met (worst %.1f fps, longest %.1f ms)" % (
                min(f[0] for f in figs), max(f[4] for f in figs))))
    return 0


def bench_data_dir():
    from launcher import BUILD
    return BUILD / "bench-data"


if __name__ == "__main__":
    sys.exit(main())
