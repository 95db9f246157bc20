"""Verify benchmark: how fast `--verify` hashes the installed 1 GiB benchmark
game under Wine, beside `sha256sum` over the same files in the same run.

    TW_BUILD=build TW_PRIVATE_KEY=build/keys/private.pem python3 bench/verify_bench.py

The game is the update benchmark's (generated once into $TW_BUILD/bench-data)
and is installed once into bench-data/verify-install. Then, alternately,
sha256sum over the installed files and the launcher with --verify, several
rounds, all from the page cache (an uncounted sha256sum warms it first). The figure
that counts is the launcher's hashing phase, from "[2] checking the installed
files" to its "verify:" summary in the log, against the mean of the
sha256sum runs; the wall time of the whole launcher run is shown beside it.
"""
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import bench_data  # noqa: E402
from static_server import StaticServer  # noqa: E402
from update_bench import (DATA, LAUNCHER, MIB, PRIVATE_KEY, PUBLISH_TOOL, figure, log_lines,  # noqa: E402
                          run_timed, say, show_failure, verdict)
from launcher import winpath, wine_env  # noqa: E402

RATIO_TARGET = 1.5
ROUNDS = 3


def run_launcher(install_dir, url, *args):
    env = wine_env({"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": url})
    return run_timed(["wine", str(LAUNCHER), "--headless", *args], env=env, timeout=900)


def hashing_seconds(install_dir):
    """Seconds from the start of the comparison to the verify summary."""
    start = end = None
    for t, text in log_lines(install_dir):
        if text == "[2] checking the installed files":
            start = t
        elif text.startswith("verify:") and start is not None and end is None:
            end = t
    return None if start is None or end is None else end - start


def sha256sum_seconds(paths):
    started = time.monotonic()
    done = subprocess.run(["sha256sum", *map(str, paths)], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=900)
    if done.returncode != 0:
        raise RuntimeError("sha256sum failed: %s" % done.stderr.decode(errors="replace"))
    return time.monotonic() - started


def main():
    for need in (LAUNCHER, PUBLISH_TOOL, PRIVATE_KEY):
        if not Path(need).exists():
            say("missing %s -- run `make build` first" % need)
            return 2
    say("verify benchmark (build %s)" % LAUNCHER.parent.parent)
    say("machine: %d cores, load average %s" % (os.cpu_count(),
                                                 " ".join(Path("/proc/loadavg").read_text().split()[:3])))
    DATA.mkdir(parents=True, exist_ok=True)
    data = bench_data.ensure(DATA, PUBLISH_TOOL, PRIVATE_KEY, say=lambda t: say("  " + t))
    man = bench_data.manifest(data["big-out1"])
    install = DATA / "verify-install"
    paths = [install / entry["p"] for entry in man["files"]]
    total = sum(int(entry["s"]) for entry in man["files"])

    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p30"], env=wine_env(), check=False, **quiet)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), check=False, timeout=120, **quiet)
    server = StaticServer({"big1": data["big-out1"]}).start()
    try:
        url = server.url("big1")
        if not all(p.is_file() for p in paths):
            say("  installing the game once into %s" % install)
            run = run_launcher(install, url)
            if run.code != 0:
                show_failure(install, run.output)
                return 1
        figure("game", "%d files, %.0f MiB, largest %.0f MiB"
               % (len(paths), total / MIB, max(int(e["s"]) for e in man["files"]) / MIB))

        sha256sum_seconds(paths)   # warms the page cache; not counted
        sums, phases, walls = [sha256sum_seconds(paths)], [], []
        for _ in range(ROUNDS):
            run = run_launcher(install, url, "--verify")
            phase = hashing_seconds(install)
            if run.code != 0 or phase is None:
                say("  launcher --verify FAILED (exit %s)" % run.code)
                show_failure(install, run.output)
                return 1
            phases.append(phase)
            walls.append(run.seconds)
            sums.append(sha256sum_seconds(paths))
    finally:
        server.stop()

    summary = [text for _, text in log_lines(install) if text.startswith(("verify:", "up to date"))]
    baseline = statistics.mean(sums)
    figure("sha256sum, one core (each run)", ", ".join("%.2f s" % s for s in sums),
           "mean %.2f s = %.0f MiB/s" % (baseline, total / MIB / baseline))
    figure("launcher --verify hashing (each run)", ", ".join("%.2f s" % s for s in phases),
           "mean %.2f s = %.0f MiB/s" % (statistics.mean(phases), total / MIB / statistics.mean(phases)))
    figure("launcher --verify wall (each run)", ", ".join("%.2f s" % s for s in walls))
    figure("launcher says", " | ".join(summary))
    ratio = statistics.mean(phases) / baseline
    figure("hashing / sha256sum", "%.2fx" % ratio,
           "target <= %.1fx %s" % (RATIO_TARGET, verdict(ratio <= RATIO_TARGET)))
    figure("wall / sha256sum", "%.2fx" % (statistics.mean(walls) / baseline))
    say("  (machine load: %s)" % " ".join(Path("/proc/loadavg").read_text().split()[:3]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
