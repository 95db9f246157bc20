"""Update benchmark: the launcher's install, up-to-date check, small update and
memory, each beside a baseline or a target, on a loopback server.

    TW_BUILD=build TW_PRIVATE_KEY=build/keys/private.pem python3 bench/update_bench.py

1. First install of a 1 GiB game (16 MiB pieces) under Wine, against
   (a) a bare WinHTTP program fetching the same pieces over 12 threads under
   the same Wine, and (b) curl over 12 parallel connections plus sha256sum.
2. First install of a 10,001-file game of about 1 KB each, against the same
   two baselines, then its up-to-date check (second run).
3. Update that changes about 5% of the pieces: bytes fetched against the
   bytes of the changed pieces (the rest is reused from the installed files).
4. The launcher's peak working set during the install.
5. The download limit: what a run limited to 1, 4 and 16 MiB/s takes from
   the server over 30 s of the 1 GiB game, and its busiest second.

The games are generated and published once into $TW_BUILD/bench-data.
Everything is served by nginx when it is installed (bench/nginx_server.py),
otherwise by a sendfile-based Python server (bench/static_server.py); the
same server for the launcher and both baselines. Ratios compare runs of the
same benchmark, so the machine's load weighs on both sides.
"""
import argparse
import os
import re
import resource
import shutil
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
from launcher import BUILD, LAUNCHER, PRIVATE_KEY, PUBLISH_TOOL, winpath, wine_env  # noqa: E402
from nginx_server import NginxServer, available as nginx_available  # noqa: E402
from static_server import StaticServer  # noqa: E402

BASELINE_EXE = BUILD / "win" / "winhttp_baseline.exe"
DATA = BUILD / "bench-data"
MIB = 1 << 20

INSTALL_RATIO_TARGET = 2.0
SMALL_RATIO_TARGET = 2.0
SMALL_BUILD_TARGET = 5.0      # seconds of assembly plus install, 10,001 files
REUSE_BYTES_TARGET = 1.05     # update bytes / bytes of the changed pieces
UP_TO_DATE_TARGET = 2.0
MEMORY_TARGET = 12 * 2 * 16 * MIB + 64 * MIB
LIMITS_MIB = (1, 4, 16)
LIMIT_SECONDS = 30
LIMIT_AIM = 0.05              # the mean within 5 % of the limit
LIMIT_BURST_AIM = 2.0         # no second above twice the limit


TRASH = DATA / "trash"


def gone_already(func, name, info):
    if not isinstance(info[1], FileNotFoundError):
        raise info[1]


def discard(path):
    """Deletes a tree, or, when it holds many files, moves it out of the way
    and deletes it at the end of the run (empty_trash). On this machine's
    file system (ext4 without a journal) a file made within a minute or more
    after thousands were deleted nearby costs several times more to create:
    deleting a finished 10,001-file install (or the curl baseline's files)
    just before the next run would charge the benchmark's own cleanup to that
    run. A few large files are deleted at once, as before: that frees their
    memory for the next run instead of keeping it busy."""
    path = Path(path)
    if not path.exists():
        return
    if sum(1 for _ in zip(range(1000), path.rglob("*"))) < 1000:
        # The launcher's lock file can still be going away as its process ends.
        shutil.rmtree(path, onerror=gone_already)
        return
    TRASH.mkdir(parents=True, exist_ok=True)
    n = 0
    while (TRASH / ("%s-%d" % (path.name, n))).exists():
        n += 1
    path.rename(TRASH / ("%s-%d" % (path.name, n)))


def empty_trash():
    if TRASH.exists():
        shutil.rmtree(TRASH)


def say(text=""):
    print(text, flush=True)


def figure(label, value, note=""):
    say("  %-46s %s%s" % (label + ":", value, ("   " + note) if note else ""))


def verdict(ok):
    return "[meets target]" if ok else "[MISSES target]"


# ---------------------------------------------------------------- processes

class PeakMemory:
    """Samples the peak working set of the Linux process that runs a Windows
    program under Wine: the Popen child itself (wine execs the loader in
    place) or, failing that, a descendant or any process whose command line
    names the program and whose environment carries our install folder."""

    def __init__(self, proc, exe_name, marker):
        self.proc = proc
        self.exe_name = exe_name.encode()
        self.marker = marker.encode()
        self.peak_hwm = 0
        self.peak_rss = 0
        self.pid = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._stop.set()
        self._thread.join()

    def _matches(self, pid):
        try:
            if self.exe_name not in Path("/proc/%d/cmdline" % pid).read_bytes():
                return False
            return self.marker in Path("/proc/%d/environ" % pid).read_bytes()
        except OSError:
            return False

    def _find(self):
        if self._matches(self.proc.pid):
            return self.proc.pid
        for entry in os.listdir("/proc"):
            if entry.isdigit() and self._matches(int(entry)):
                return int(entry)
        return None

    def _sample(self, pid):
        try:
            text = Path("/proc/%d/status" % pid).read_text()
        except OSError:
            return
        for line in text.splitlines():
            if line.startswith("VmHWM:"):
                self.peak_hwm = max(self.peak_hwm, int(line.split()[1]) * 1024)
            elif line.startswith("VmRSS:"):
                self.peak_rss = max(self.peak_rss, int(line.split()[1]) * 1024)

    def _run(self):
        while not self._stop.is_set():
            if self.pid is None:
                self.pid = self._find()
            if self.pid is not None:
                self._sample(self.pid)
            self._stop.wait(0.02)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


class Timed:
    """What one run took: wall seconds, exit code, output, memory watch and the
    CPU seconds of the process (user + system; wineserver's share not included)."""

    def __init__(self, seconds, code, output, watch, cpu):
        self.seconds, self.code, self.output, self.watch, self.cpu = seconds, code, output, watch, cpu

    def __iter__(self):   # seconds, code, output, watch
        return iter((self.seconds, self.code, self.output, self.watch))


def run_timed(command, env=None, timeout=600, memory=None):
    """Runs a command to its end (see Timed). Output goes through files: Wine's
    helpers may inherit pipe handles."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        cpu = children_cpu()
        start = time.monotonic()
        proc = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        watch = PeakMemory(proc, *memory).start() if memory else None
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()     # our own child only
            proc.wait()
        seconds = time.monotonic() - start
        if watch:
            watch.stop()
        out.seek(0)
        err.seek(0)
        return Timed(seconds, proc.returncode, out.read() + err.read(), watch, children_cpu() - cpu)


def start_limited(install_dir, url, limit_mib):
    """Starts the launcher with --max-rate and returns our own child; its
    output is not kept."""
    env = wine_env({"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": url})
    return subprocess.Popen(["wine", str(LAUNCHER), "--headless", "--max-rate", "%dM" % limit_mib], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_launcher(install_dir, url, timeout=600, watch_memory=False, exe=LAUNCHER):
    install = winpath(install_dir)
    env = wine_env({"TW_INSTALL_DIR": install, "TW_UPDATE_URL": url})
    memory = ("tarnwick.exe", "TW_INSTALL_DIR=" + install) if watch_memory else None
    return run_timed(["wine", str(exe), "--headless"], env=env, timeout=timeout, memory=memory)


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


# ---------------------------------------------------------------- launcher log

LOG_LINE = re.compile(r"^(\d\d):(\d\d):(\d\d)\.(\d\d\d) (.*)$")


def log_lines(install_dir):
    """[(seconds of the day, text)] of the last run in launcher.log: from its
    last start line on (the launcher may begin a new log or append)."""
    path = Path(install_dir) / "launcher.log"
    if not path.exists():
        return []
    lines = []
    for raw in path.read_bytes().decode("utf-8", "replace").splitlines():
        m = LOG_LINE.match(raw)
        if m:
            h, mi, s, ms, text = m.groups()
            if text.startswith("tarnwick launcher "):
                lines = []
            lines.append((int(h) * 3600 + int(mi) * 60 + int(s) + int(ms) / 1000, text))
    return lines


def print_timeline(install_dir):
    """Prints the launcher's phase changes with times from its first log line
    and returns the seconds of each phase (phase_seconds)."""
    lines = log_lines(install_dir)
    if not lines:
        say("    (launcher.log is empty)")
        return {}
    t0 = lines[0][0]
    for t, text in lines:
        if (text.startswith(("[", "update to", "up to date", "updated to", "manifest", "reused ", "committed "))
                or "failed" in text):
            say("    log +%7.3f s  %s" % (t - t0, text[:110]))
    return phase_seconds(lines)


def phase_seconds(lines):
    """The seconds of each phase in the log lines of one run: download ([3]
    to the first [4]), assembly (first [4], "installing", to the second, the
    install step) and install (second [4] to [5])."""
    marks = {}
    for t, text in lines:
        for key, prefix in (("[3]", "[3]"), ("[4]", "[4]"), ("[5]", "[5]")):
            if text.startswith(prefix):
                marks.setdefault(key, []).append(t)
    phases = {}
    for _, text in lines:
        m = re.match(r"committed (\d+) new files to the disk in ([\d.]+) s", text)
        if m:
            phases["flush"] = float(m.group(2))
    if "[3]" in marks and "[4]" in marks:
        phases["download"] = marks["[4]"][0] - marks["[3]"][0]
    if "[4]" in marks and "[5]" in marks:
        fours = marks["[4]"]
        if len(fours) >= 2:
            phases["assembly"] = fours[1] - fours[0]
            phases["install"] = marks["[5]"][0] - fours[1]
        else:
            phases["assembly"] = marks["[5]"][0] - fours[0]
    return phases


def show_failure(install_dir, output):
    say("    launcher output: %s" % output.decode("utf-8", "replace").strip()[-400:])
    for _, text in log_lines(install_dir)[-12:]:
        say("    log: %s" % text[:140])


def check_installed(install_dir, man):
    """Names of manifest files missing or of the wrong size in the install."""
    wrong = []
    for entry in man["files"]:
        path = Path(install_dir) / entry["p"]
        if not path.is_file() or path.stat().st_size != int(entry["s"]):
            wrong.append(entry["p"])
    return wrong


# ---------------------------------------------------------------- baselines

def winhttp_baseline(url, list_file):
    """(wall seconds, bytes, seconds inside the program, peak memory, output,
    CPU seconds); bytes is None when the program failed."""
    run = run_timed(["wine", str(BASELINE_EXE), url, winpath(list_file)], env=wine_env(), timeout=600,
                    memory=("winhttp_baseline.exe", "WINEPREFIX="))
    peak = max(run.watch.peak_hwm, run.watch.peak_rss) if run.watch.pid else 0
    m = re.search(rb"bytes (\d+) seconds ([\d.]+) failures (\d+)", run.output)
    if run.code != 0 or not m:
        return run.seconds, None, None, peak, run.output, run.cpu
    return run.seconds, int(m.group(1)), float(m.group(2)), peak, run.output, run.cpu


def run_baseline_a(url, list_file, label, runs):
    """Runs baseline (a) once and appends (wall, inside, peak) to runs."""
    seconds, size, inner, peak, output, cpu = winhttp_baseline(url, list_file)
    if size is None:
        say("  baseline (a) FAILED: %s" % output.decode(errors="replace")[-300:])
        return
    figure("baseline (a) WinHTTP x12 under Wine, " + label,
           "%.2f s wall (%.2f s inside, %.0f MiB/s, cpu %.1f s, peak %.0f MiB)"
           % (seconds, inner, size / MIB / max(inner, 1e-9), cpu, peak / MIB))
    runs.append((seconds, inner, peak))


def mean_baseline_a(runs, results, key):
    """The mean of the runs of baseline (a) before and after the launcher's,
    which evens out some of the load of a shared machine."""
    if runs:
        results[key] = sum(r[0] for r in runs) / len(runs)
        results[key + "_inside"] = sum(r[1] for r in runs) / len(runs)
        figure("baseline (a) mean", "%.2f s wall" % results[key])


def phase_figures(phases, inside=None):
    if "download" in phases:
        figure("download phase (log [3] to [4])", "%.2f s%s" % (
            phases["download"], " = %.2fx baseline (a) inside" % (phases["download"] / inside) if inside else ""))
    if "assembly" in phases:
        figure("assembly phase (build + check files in stage)", "%.2f s" % phases["assembly"])
    if "install" in phases:
        figure("install phase (flush, journaled moves, state file)", "%.2f s" % phases["install"])
    if "flush" in phases:
        figure("  of which the flush of the new files", "%.2f s" % phases["flush"])


def curl_baseline(url, paths, work):
    """Fetches every path with curl over 12 parallel connections into files,
    then hashes them with sha256sum: (seconds fetching, seconds hashing,
    bytes, all fetched and hashed, CPU seconds of curl and sha256sum)."""
    discard(work)
    work.mkdir(parents=True)
    config = work / "curl.cfg"
    with open(config, "w") as f:
        for i, path in enumerate(paths):
            f.write('url = "%s%s"\noutput = "%s/p%04d"\n' % (url, path, work, i))
    cpu = children_cpu()
    start = time.monotonic()
    fetched = subprocess.run(["curl", "--parallel", "--parallel-max", "12", "--fail", "-sS", "-K", str(config)],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    fetch_seconds = time.monotonic() - start
    files = sorted(str(p) for p in work.glob("p*"))
    start = time.monotonic()
    hashed = subprocess.run(["sha256sum", *files], stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    hash_seconds = time.monotonic() - start
    cpu = children_cpu() - cpu
    size = sum(os.path.getsize(p) for p in files)
    discard(work)
    ok = fetched.returncode == 0 and hashed.returncode == 0 and len(files) == len(paths)
    if not ok:
        say("    curl: %s" % fetched.stderr.decode(errors="replace")[-300:])
    return fetch_seconds, hash_seconds, size, ok, cpu


def describe_game(out, name):
    """Prints what a published game holds and writes the list of its piece
    paths, largest first, for baseline (a). Returns the manifest, its raw
    bytes, the paths and the list file."""
    man = bench_data.manifest(out)
    pieces = bench_data.pieces(man)
    total_raw = sum(int(f["s"]) for f in man["files"])
    transfer = sum(size for size, _ in pieces.values())
    stored = sum(1 for _, s in pieces.values() if s)
    figure("game", "%d files, %.1f MiB raw, %d pieces (%d stored raw), %.1f MiB on the server"
           % (len(man["files"]), total_raw / MIB, len(pieces), stored, transfer / MIB))
    paths = [bench_data.piece_path(pid) for pid, _ in sorted(pieces.items(), key=lambda kv: -kv[1][0])]
    list_file = DATA / (name + "-pieces.txt")
    list_file.write_text("\n".join(paths) + "\n")
    return man, total_raw, paths, list_file


def baselines_before(url, list_file, paths, results, key):
    """Baseline (a) once and baseline (b), before the launcher's run; returns
    the runs of (a) so far (it runs again after the launcher)."""
    runs = []
    run_baseline_a(url, list_file, "before", runs)
    fetch_s, hash_s, size, ok, cpu = curl_baseline(url, paths, DATA / "curl-work")
    if ok:
        figure("baseline (b) curl x12 + sha256sum", "%.2f s (fetch %.2f s, %.0f MiB/s; hash %.2f s; cpu %.1f s)"
               % (fetch_s + hash_s, fetch_s, size / MIB / max(fetch_s, 1e-9), hash_s, cpu))
        results[key] = fetch_s + hash_s
    return runs


# ---------------------------------------------------------------- sections

def section_install(server, data, results):
    say("\n== 1. first install of a 1 GiB game (16 MiB pieces), 12 connections")
    man, total_raw, paths, list_file = describe_game(data["big-out1"], "big1")
    url = server.url("big1")
    runs = baselines_before(url, list_file, paths, results, "baseline_b")

    install = DATA / "big-install"
    discard(install)
    server.clear_log()
    run = run_launcher(install, url, watch_memory=True)
    seconds, code, output, watch = run
    fetched = server.bytes_sent("chunks/")
    run_baseline_a(url, list_file, "after", runs)
    mean_baseline_a(runs, results, "baseline_a")
    if code != 0:
        say("  launcher install FAILED (exit %s after %.1f s)" % (code, seconds))
        show_failure(install, output)
        return False
    wrong = check_installed(install, man)
    if wrong:
        say("  launcher install incomplete: %d files wrong, e.g. %s" % (len(wrong), wrong[0]))
        return False
    figure("launcher first install", "%.2f s wall (exit 0, %.0f MiB fetched, %.0f MiB/s of raw game, cpu %.1f s)"
           % (seconds, fetched / MIB, total_raw / MIB / seconds, run.cpu))
    phases = print_timeline(install)
    results["install"] = seconds
    phase_figures(phases, results.get("baseline_a_inside"))
    if "baseline_a" in results:
        ratio = seconds / results["baseline_a"]
        figure("ratio launcher / baseline (a) WinHTTP", "%.2fx" % ratio,
               "target <= %.1fx %s" % (INSTALL_RATIO_TARGET, verdict(ratio <= INSTALL_RATIO_TARGET)))
    if "baseline_b" in results:
        figure("ratio launcher / baseline (b) curl+sha256sum", "%.2fx" % (seconds / results["baseline_b"]))
    if watch and watch.pid:
        peak = max(watch.peak_hwm, watch.peak_rss)
        results["memory"] = peak
    return True


def section_memory(results):
    say("\n== 4. launcher peak memory during the install")
    if "memory" not in results:
        say("  not measured (the install did not run or its process was not found)")
        return
    peak = results["memory"]
    figure("peak working set (VmHWM of the Wine process)", "%.0f MiB" % (peak / MIB),
           "target <= %d MiB %s" % (MEMORY_TARGET // MIB, verdict(peak <= MEMORY_TARGET)))


def section_update(server, data, results):
    say("\n== 3. update changing ~5% of the pieces, spread over a few large files")
    install = DATA / "big-install"
    if not (install / ".twinstall.json").exists():
        say("  skipped: the 1 GiB game is not installed")
        return
    old = bench_data.pieces(bench_data.manifest(data["big-out1"]))
    man = bench_data.manifest(data["big-out2"])
    new = bench_data.pieces(man)
    changed = {pid: v for pid, v in new.items() if pid not in old}
    changed_bytes = sum(size for size, _ in changed.values())
    figure("changed pieces", "%d of %d (%.1f%%), %.1f MiB on the server"
           % (len(changed), len(new), 100.0 * len(changed) / len(new), changed_bytes / MIB))
    server.clear_log()
    seconds, code, output, _ = run_launcher(install, server.url("big2"))
    fetched = server.bytes_sent("chunks/")
    requests = sum(1 for path, _, _ in server.log if "/chunks/" in path)
    if code != 0:
        say("  launcher update FAILED (exit %s after %.1f s)" % (code, seconds))
        show_failure(install, output)
        return
    wrong = check_installed(install, man)
    figure("launcher bytes downloaded (pieces)", "%d bytes = %.1f MiB in %d requests"
           % (fetched, fetched / MIB, requests))
    figure("bytes of the changed pieces alone", "%d bytes = %.1f MiB" % (changed_bytes, changed_bytes / MIB))
    ratio = fetched / changed_bytes if changed_bytes else 0.0
    results["reuse_ratio"] = ratio
    results["update_seconds"] = seconds
    figure("downloaded / changed", "%.3f" % ratio,
           "target <= %.2f %s" % (REUSE_BYTES_TARGET, verdict(ratio <= REUSE_BYTES_TARGET)))
    reused = [text for _, text in log_lines(install) if text.startswith("reused ")]
    figure("launcher says", reused[-1] if reused else "(no 'reused' line)")
    old_hashes = {f["p"]: f["h"] for f in bench_data.manifest(data["big-out1"])["files"]}
    stale = [f for f in man["files"] if old_hashes.get(f["p"]) != f["h"]]
    stale_pieces = {}
    for f in stale:
        for ref in f.get("c", []):
            stale_pieces.setdefault(ref[0], int(ref[1]))
    figure("for reference: all pieces of the changed files", "%d pieces of %d files, %.1f MiB"
           % (len(stale_pieces), len(stale), sum(stale_pieces.values()) / MIB))
    figure("update wall time", "%.2f s%s" % (seconds, "" if not wrong else "  (%d files wrong!)" % len(wrong)))
    phases = print_timeline(install)
    if phases:
        figure("update phases", ", ".join("%s %.2f s" % kv for kv in phases.items()))


def section_small(server, data, results):
    say("\n== 2. the 10,001-file game: first install beside the baselines, then an up-to-date check")
    man, _, paths, list_file = describe_game(data["small-out"], "small")
    url = server.url("small")
    runs = baselines_before(url, list_file, paths, results, "small_baseline_b")

    install = DATA / "small-install"
    discard(install)
    run = run_launcher(install, url)
    run_baseline_a(url, list_file, "after", runs)
    mean_baseline_a(runs, results, "small_baseline_a")
    if run.code != 0:
        say("  launcher install FAILED (exit %s after %.1f s)" % (run.code, run.seconds))
        show_failure(install, run.output)
        return
    wrong = check_installed(install, man)
    if wrong:
        say("  launcher install incomplete: %d files wrong, e.g. %s" % (len(wrong), wrong[0]))
        return
    figure("launcher first install", "%.2f s wall (exit 0, cpu %.1f s)" % (run.seconds, run.cpu))
    phases = print_timeline(install)
    results["small_install"] = run.seconds
    phase_figures(phases, results.get("small_baseline_a_inside"))
    if "assembly" in phases and "install" in phases:
        build = phases["assembly"] + phases["install"]
        results["small_build"] = build
        figure("assembly + install", "%.2f s" % build,
               "target < %.0f s %s" % (SMALL_BUILD_TARGET, verdict(build < SMALL_BUILD_TARGET)))
    if "small_baseline_a" in results:
        ratio = run.seconds / results["small_baseline_a"]
        figure("ratio launcher / baseline (a) WinHTTP", "%.2fx" % ratio,
               "target <= %.1fx %s" % (SMALL_RATIO_TARGET, verdict(ratio <= SMALL_RATIO_TARGET)))
    if "small_baseline_b" in results:
        figure("ratio launcher / baseline (b) curl+sha256sum", "%.2fx" % (run.seconds / results["small_baseline_b"]))

    seconds, code, output, _ = run_launcher(install, url)
    if code != 0:
        say("  second run FAILED (exit %s after %.1f s)" % (code, seconds))
        show_failure(install, output)
        return
    lines = log_lines(install)
    up = [text for _, text in lines if text.startswith("up to date")]
    inner = lines[-1][0] - lines[0][0] if len(lines) >= 2 else None
    figure("second run (up to date) wall time", "%.2f s" % seconds,
           "target < %.0f s %s" % (UP_TO_DATE_TARGET, verdict(seconds < UP_TO_DATE_TARGET)))
    if inner is not None:
        figure("  of which between first and last log line", "%.2f s" % inner)
    figure("launcher says", up[-1] if up else "(no 'up to date' line!)")
    results["up_to_date"] = seconds


def section_limit(data, results):
    say("\n== 5. download limit: %d s of the 1 GiB game at %s MiB/s (a metered Python server)"
        % (LIMIT_SECONDS, ", ".join(map(str, LIMITS_MIB))))
    server = StaticServer({"big1": data["big-out1"]}, meter=True).start()
    try:
        for limit_mib in LIMITS_MIB:
            install = DATA / "limit-install"
            discard(install)
            first = len(server.sent)
            proc = start_limited(install, server.url("big1"), limit_mib)
            start = None
            deadline = time.monotonic() + 60
            while proc.poll() is None:
                sent = server.sent[first:]
                if start is None and sent:
                    start = sent[0][0]
                    deadline = start + LIMIT_SECONDS
                if time.monotonic() >= deadline:
                    break
                time.sleep(0.05)
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            sent = [(t, n) for t, n in server.sent[first:] if start is not None and t < start + LIMIT_SECONDS]
            discard(install)
            if not sent:
                say("  limit %d MiB/s: no piece arrived" % limit_mib)
                continue
            limit = limit_mib * MIB
            seconds = [0] * LIMIT_SECONDS
            for t, n in sent:
                seconds[min(int(t - start), LIMIT_SECONDS - 1)] += n
            mean = sum(seconds) / LIMIT_SECONDS
            busiest = max(seconds)
            ok = abs(mean / limit - 1) <= LIMIT_AIM and busiest <= LIMIT_BURST_AIM * limit
            results.setdefault("limits", []).append((limit_mib, mean, busiest, ok))
            figure("limit %d MiB/s" % limit_mib,
                   "%.2f MiB/s over %d s (%.1f %% of the limit), busiest second %.2f MiB (%.2fx), first second "
                   "%.2f MiB" % (mean / MIB, LIMIT_SECONDS, 100 * mean / limit, busiest / MIB, busiest / limit,
                                 seconds[0] / MIB),
                   "aim within %d %%, no second over %.0fx %s" % (LIMIT_AIM * 100, LIMIT_BURST_AIM, verdict(ok)))
    finally:
        server.stop()


def section_compare(server, data, old_exe, repeat, names):
    """First installs by an earlier build's launcher and this tree's, run in
    turns (old, new, then new, old, ...) so that the load of a shared machine
    falls on both alike; the load average is printed beside every run."""
    say("\n== 0. first installs, an earlier build beside this one (%d runs each, in turns)" % repeat)
    say("  earlier build: %s" % old_exe)
    games = (("mid", "264 MiB (2 files)", data["mid-out"]), ("big1", "1 GiB (6 files)", data["big-out1"]),
             ("small", "10,001 files", data["small-out"]))
    for site, label, out in games:
        if site not in names:
            continue
        man = bench_data.manifest(out)
        say("  -- %s" % label)
        times = {"old": [], "new": []}
        for i in range(repeat):
            builds = [("old", old_exe), ("new", LAUNCHER)]
            for name, exe in (builds if i % 2 == 0 else builds[::-1]):
                install = DATA / ("compare-install-" + name)
                discard(install)
                load = load_average()
                run = run_launcher(install, server.url(site), exe=exe)
                wrong = check_installed(install, man) if run.code == 0 else ["(exit %s)" % run.code]
                phases = phase_seconds(log_lines(install))
                say("    %s %d: %6.2f s  cpu %5.1f s  %s  load %s%s" % (
                    name, i + 1, run.seconds, run.cpu,
                    " ".join("%s %.2f" % (k, phases[k]) for k in ("download", "assembly", "install") if k in phases),
                    load, "" if not wrong else "  FAILED: %s" % wrong[0]))
                if not wrong:
                    times[name].append(run.seconds)
                discard(install)
        if times["old"] and times["new"]:
            old, new = statistics.median(times["old"]), statistics.median(times["new"])
            figure("median %s: earlier / this build" % label, "%.2f s / %.2f s = %.2fx" % (old, new, new / old))


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--skip", default="", help="comma list of sections to skip: install,update,small,limit")
    parser.add_argument("--old", help="an earlier build's tarnwick.exe to run beside this one's first installs")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each build in the comparison")
    parser.add_argument("--games", default="mid,big1,small", help="games of the comparison: mid,big1,small")
    args = parser.parse_args()
    skip = set(filter(None, args.skip.split(",")))

    for need in (LAUNCHER, BASELINE_EXE, PUBLISH_TOOL, PRIVATE_KEY):
        if not Path(need).exists():
            say("missing %s -- run `make build` first" % need)
            return 2
    if not shutil.which("curl"):
        say("curl is missing -- run `make deps`")
        return 2
    started = time.monotonic()
    say("update benchmark (build %s)" % BUILD)
    say("machine: %d cores, load average %s (figures are wall times; other work on the machine slows them)"
        % (os.cpu_count(), " ".join(Path("/proc/loadavg").read_text().split()[:3])))
    DATA.mkdir(parents=True, exist_ok=True)
    data = bench_data.ensure(DATA, PUBLISH_TOOL, PRIVATE_KEY, say=lambda t: say("  " + t))

    # One wineserver for the whole run that goes away by itself 30 s after the
    # last Wine program ends, and the prefix's services started up front, so no
    # measurement pays for them.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p30"], env=wine_env(), check=False, **quiet)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), check=False, timeout=120, **quiet)

    sites = {"big1": data["big-out1"], "big2": data["big-out2"], "mid": data["mid-out"], "small": data["small-out"]}
    if nginx_available():
        server = NginxServer(sites, DATA / "nginx").start()
        kind = "nginx, sendfile, keep-alive"
    else:
        server = StaticServer(sites).start()
        kind = "Python, sendfile, keep-alive, a thread per connection; install nginx-light for nginx"
    results = {}
    try:
        say("server: http://127.0.0.1:%d/ (%s; every run uses it)" % (server.port, kind))
        if args.old:
            section_compare(server, data, Path(args.old), args.repeat, args.games.split(","))
        installed = False
        if "install" not in skip:
            installed = section_install(server, data, results)
        if "small" not in skip:
            section_small(server, data, results)
        if "update" not in skip and installed:
            section_update(server, data, results)
        if "install" not in skip:
            section_memory(results)
        if "limit" not in skip:
            section_limit(data, results)
    finally:
        server.stop()
        empty_trash()

    say("\n== summary")
    if "install" in results and "baseline_a" in results:
        r = results["install"] / results["baseline_a"]
        figure("install / WinHTTP baseline", "%.2fx (<= %.1fx)  %s" % (r, INSTALL_RATIO_TARGET,
                                                                    verdict(r <= INSTALL_RATIO_TARGET)))
    if "install" in results and "baseline_b" in results:
        figure("install / curl+sha256sum baseline", "%.2fx" % (results["install"] / results["baseline_b"]))
    if "small_install" in results and "small_baseline_a" in results:
        r = results["small_install"] / results["small_baseline_a"]
        figure("10,001 files: install / WinHTTP baseline", "%.2fx (<= %.1fx)  %s" % (
            r, SMALL_RATIO_TARGET, verdict(r <= SMALL_RATIO_TARGET)))
    if "small_install" in results and "small_baseline_b" in results:
        figure("10,001 files: install / curl+sha256sum", "%.2fx" % (
            results["small_install"] / results["small_baseline_b"]))
    if "small_build" in results:
        figure("10,001 files: assembly + install", "%.2f s (< %.0f s)  %s" % (
            results["small_build"], SMALL_BUILD_TARGET, verdict(results["small_build"] < SMALL_BUILD_TARGET)))
    if "reuse_ratio" in results:
        figure("5% update: bytes / changed pieces", "%.3f (<= %.2f)  %s, %.2f s" % (
            results["reuse_ratio"], REUSE_BYTES_TARGET, verdict(results["reuse_ratio"] <= REUSE_BYTES_TARGET),
            results["update_seconds"]))
    if "up_to_date" in results:
        figure("up-to-date check, 10,001 files", "%.2f s (< %.0f s)  %s" % (
            results["up_to_date"], UP_TO_DATE_TARGET, verdict(results["up_to_date"] < UP_TO_DATE_TARGET)))
    if "memory" in results:
        figure("peak memory during install", "%.0f MiB (<= %d MiB)  %s" % (
            results["memory"] / MIB, MEMORY_TARGET // MIB, verdict(results["memory"] <= MEMORY_TARGET)))
    for limit_mib, mean, busiest, ok in results.get("limits", []):
        figure("download limited to %d MiB/s" % limit_mib, "%.2f MiB/s, busiest second %.2fx  %s" % (
            mean / MIB, busiest / (limit_mib * MIB), verdict(ok)))
    say("  (machine load: %s; total %.0f s)" % (" ".join(Path("/proc/loadavg").read_text().split()[:3]),
                                                time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
