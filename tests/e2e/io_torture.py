"""The file-call sweep: one small update from release A to release B, run
again and again with one file-system call made to fail.

A traced run of the update lists every (operation, path) the launcher's file
calls make. Each becomes cases: the first call of that operation on that path
(and the last, when there are several) fails with each error that call can
meet on a player's machine, once, or K times before it goes through. After the
faulty run the checks are:
  (a) the game is exactly A or exactly B, or a journal is there and a start
      that cannot reach the server (it refuses the signature) settles it to
      exactly A or B;
  (b) the state file never vouches for bytes that are not on disk;
  (c) the player's files are all there, unchanged, and nothing beside the
      install folder was touched;
  (d) a failed run says why: "could not write to the install folder" for a
      full disk, the rollback message for a held file;
  (e) a following clean run reaches exactly B.

Counting per operation and path, not over all calls, reaches the same call in
every run although the download, move and hashing threads interleave
differently each time.

The case list is cut down so the full sweep fits in half an hour on two cores:
  - one representative per folder of content-addressed names (cached pieces,
    staged pieces): every such file goes through the same lines of code;
  - a call that names two paths (move, copy, link) is failed through its
    first only;
  - the errors tried depend on the operation (a full disk for the calls that
    make or grow files, a held file for those that open, move or delete --
    the launcher handles "access denied" there as it does a held file --, a
    failure part way for reads and writes, "access denied" for the calls
    that only look);
  - a fault whose call the run never made is reported as "not reached";
  - double faults: a staged file held for good makes the install roll back,
    and each call of that rollback which the clean run does not make is
    failed as well (once per operation, path and error);
  - two install folders (each with its own server) are swept at once: a
    run spends much of its time waiting on Wine, not on the processor.

Run by `make torture-io` (all cases) or, for a fixed sample, by
test_io_torture.py in `make test`. The update includes files whose kind
changes between the releases (a file that becomes a folder, and a folder that
becomes a file with a player's file inside); TW_TORTURE_LAYOUT=0 leaves them
out."""
import argparse
import hashlib
import json
import os
import queue
import random
import shutil
import sys
import threading
import time
from collections import Counter
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from games import SAVED_MANIFEST, SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, publish, random_bytes  # noqa: E402
from launcher import read_log, run_launcher, wine_env, winpath  # noqa: E402
from update_server import UpdateServer  # noqa: E402

ERRORS = {"disk-full": 112, "access-denied": 5, "sharing": 32, "crc": 23}
WRITE_FAILED = "could not write to the install folder"
ROLLED_BACK = "the update could not be installed -- the game was left as it was"
JOURNAL = f"{UPDATE_FOLDER}/journal.txt"
OWN_FILES = (STATE_FILE, STATE_FILE + ".part", UPDATE_FOLDER, "launcher.log") + SAVED_MANIFEST + tuple(
    name + ".part" for name in SAVED_MANIFEST)

# The errors each operation is tried with.
MAKES_OR_GROWS = ("disk-full", "access-denied")
ERRORS_FOR = {
    "open": ("disk-full", "sharing"),
    "read": ("crc",),
    "write": ("disk-full", "crc"),
    "flush": ("disk-full",),
    "truncate": ("disk-full",),
    "move": ("sharing",), "delete": ("sharing",), "remove-folder": ("sharing",), "set-attributes": ("sharing",),
    "copy": MAKES_OR_GROWS, "link": MAKES_OR_GROWS, "make-folder": ("disk-full",),
    "size": ("access-denied",), "attributes": ("access-denied",), "find": ("access-denied",),
    "find-next": ("access-denied",), "seek": ("access-denied",), "free-space": ("access-denied",),
}
# Held for a moment: a scanner lets go after a few tries.
TRANSIENT_OPERATIONS = ("open", "move", "delete")
TRANSIENT_TIMES = 3


def release_a(layout):
    files = {
        "tarnwick.exe": b"MZ release A\n" * 10,
        "data/big.bin": random_bytes(3 * SMALL_PIECE + 17, seed=31),
        "data/text.txt": b"release A text\n" * 300,
        "data/same.bin": random_bytes(SMALL_PIECE + 5, seed=32),
        "levels/one.lvl": b"level one of A\n" * 40,
        "dropped.txt": b"this file goes away in B\n",
        "dropped/only_in_a.dat": random_bytes(900, seed=33),
    }
    if layout:
        files["data/thing"] = b"a file in A, a folder in B\n"
        files["data/sub/a.bin"] = b"a folder in A, a file in B\n"
    return files


def release_b(layout):
    a = release_a(layout)
    files = {
        "tarnwick.exe": b"MZ release B, a little longer\n" * 10,
        # A multi-piece file whose first two pieces are A's: they are read
        # from the installed file, not downloaded.
        "data/big.bin": a["data/big.bin"][:2 * SMALL_PIECE] + random_bytes(3000, seed=41),
        "data/text.txt": b"release B text\n" * 400,
        "data/same.bin": a["data/same.bin"],
        "levels/one.lvl": b"level one of B\n" * 40,
        "added.txt": b"added in B\n",
        "new/deep/added.bin": random_bytes(5000, seed=42),
    }
    if layout:
        files["data/thing/inner.bin"] = b"inside what was a file\n"
        files["data/sub"] = b"what was a folder\n"
    return files


def player_files(layout):
    files = {"saves/player.sav": b"the player's progress\n", "data/user.cfg": b"volume=7\n"}
    if layout:
        files["data/sub/my_save.dat"] = b"a save inside a folder that becomes a file\n"
    return files


def snapshot(folder):
    """relative '/'-path -> bytes of every file below folder."""
    folder = Path(folder)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def sha256_file(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def filetime(path):
    return os.stat(path).st_mtime_ns // 100 + 116444736000000000


def state_vouches_for_other_bytes(folder):
    """True when a record of the state file names a file of the recorded size
    and write time whose bytes have another hash."""
    path = Path(folder) / STATE_FILE
    try:
        state = json.loads(path.read_bytes())
    except (OSError, ValueError):
        return False
    for rel, (size, write_time, digest) in state.get("files", {}).items():
        place = Path(folder) / rel
        if place.is_file() and int(size) == place.stat().st_size and int(write_time) == filetime(place):
            if digest != sha256_file(place):
                return True
    return False


class Scenario:
    """The server with B published, a template install of A with the
    player's files in it, and one install folder (always the same path, so
    that a traced path names the same file in every case)."""

    def __init__(self, root, layout):
        self.root = Path(root)
        self.layout = layout
        self.a, self.b, self.player = release_a(layout), release_b(layout), player_files(layout)
        self.server = UpdateServer(self.root / "server").start()
        self.template = self.root / "template"
        publish(make_game(self.root / "src-a", self.a), self.server.root, version="A")
        result = run_launcher(self.template, server_url=self.server.url)
        if result.returncode != 0:
            raise RuntimeError("installing A failed: " + "\n".join(read_log(self.template)))
        for rel, data in self.player.items():
            (self.template / rel).parent.mkdir(parents=True, exist_ok=True)
            (self.template / rel).write_bytes(data)
        publish(make_game(self.root / "src-b", self.b), self.server.root, version="B")
        self.folder = self.root / "game" / "install"
        self.outside = self.root / "game" / "beside"
        self.outside.mkdir(parents=True, exist_ok=True)
        (self.outside / "other.txt").write_bytes(b"not the launcher's\n")
        self.outside_before = self.outside_state()

    def stop(self):
        self.server.stop()

    def outside_state(self):
        """Every file and folder beside the install folder, with sizes and times."""
        out = {}
        for p in sorted(self.root.joinpath("game").rglob("*")):
            if self.folder == p or self.folder in p.parents:
                continue
            st = p.stat()
            out[p.relative_to(self.root).as_posix()] = (p.is_dir(), st.st_size if p.is_file() else 0, st.st_mtime_ns)
        return out

    def fresh_install(self):
        if self.folder.exists():
            shutil.rmtree(self.folder)
        shutil.copytree(self.template, self.folder, ignore=shutil.ignore_patterns("launcher.log"))
        return self.folder

    def run(self, env=None):
        return run_launcher(self.folder, server_url=self.server.url, env=env, timeout=180)

    def run_offline(self):
        """A start that cannot update: the signature is refused, so it goes on
        with what is installed right after the journal's replay."""
        self.server.fault("manifest.sig", body=b"not a signature")
        try:
            return run_launcher(self.folder, server_url=self.server.url, timeout=180)
        finally:
            self.server.clear_fault("manifest.sig")

    # ---- checks
    def game_files(self):
        """The game's files without the launcher's own, and the player's files
        found (where they were, or moved aside somewhere in the folder)."""
        files = {rel: data for rel, data in snapshot(self.folder).items() if rel.split("/")[0] not in OWN_FILES}
        kept = {}
        for rel, data in self.player.items():
            name = rel.rsplit("/", 1)[-1]
            if files.get(rel) == data:
                kept[rel] = files.pop(rel)
                continue
            moved = [r for r, d in files.items() if d == data and r.rsplit("/", 1)[-1] == name
                     and r not in self.a and r not in self.b]
            if moved:
                kept[rel] = files.pop(moved[0])
        return files, kept

    def release_of(self, files):
        return "A" if files == self.a else "B" if files == self.b else "mixed"


    def moves_game_file(self, path):
        """True for the install's own moves: a game file into "old" or out of
        the folder, or a staged file into place."""
        folder = winpath(self.folder) + "\\"
        if not path.lower().startswith(folder.lower()):
            return False
        rel = path[len(folder):].replace("\\", "/")
        if rel.startswith(f"{UPDATE_FOLDER}/stage/"):
            return not rel.endswith(".part")
        return rel.split("/")[0] not in OWN_FILES

    def journal_there(self):
        return (self.folder / JOURNAL).exists()


def failure_message(log):
    # Phase 8 (failed) or 6 (playing the installed version): what the player is told.
    said = [line for line in log if line.startswith(("[8] ", "[6] "))]
    return said[-1][4:] if said else ""


def trace_calls(scenario, first=None):
    """Every (operation, path) of one update, with how many times it was
    made: a clean one, or one that the fault `first` makes roll back."""
    scenario.fresh_install()
    trace = scenario.root / "trace.txt"
    trace.unlink(missing_ok=True)
    env = {"TW_TEST_FILE_TRACE": winpath(trace)}
    if first:
        env["TW_TEST_FILE_FAULT"] = fault_text(*first)
    result = scenario.run(env=env)
    expected = "A" if first else "B"
    if scenario.release_of(scenario.game_files()[0]) != expected:
        raise RuntimeError(f"the traced update did not end in {expected}: " + "\n".join(read_log(scenario.folder)))
    counts = Counter()
    for line in trace.read_bytes().decode("utf-8", "replace").splitlines():
        operation, _, path = line.partition("\t")
        counts[(operation, path)] += 1
    return counts


def pattern_of(path):
    """The path with content-addressed names (64 hex digits, maybe with a
    suffix) folded into one: such files all go through the same code."""
    parts = path.split("\\")
    for i, part in enumerate(parts):
        stem = part.split(".")[0]
        if len(stem) >= 64 and all(c in "0123456789abcdef" for c in stem.lower()):
            parts[i] = "<hash>" + part[len(stem):]
        elif len(part) == 2 and all(c in "0123456789abcdef" for c in part.lower()) and i + 1 < len(parts):
            parts[i] = "<xx>"
    return "\\".join(parts)


# Operations on folders: those of a deeper folder of the same area take the
# same course, so a few per area are enough.
FOLDER_OPERATIONS = ("attributes", "make-folder", "remove-folder", "find", "find-next")
FOLDERS_PER_AREA = 2
# Operations whose last call on a path is worth failing too (the file is
# opened, moved or written again later in the run, e.g. by the commit).
LAST_CALL_TOO = ("open", "move")


def area_of(path, folder_win):
    """The first folder below the install folder (two below the update folder)."""
    rel = path[len(folder_win):].lstrip("\\") if path.lower().startswith(folder_win.lower()) else path
    parts = rel.split("\\")
    return "\\".join(parts[:2] if parts[0].lower() == UPDATE_FOLDER else parts[:1])


def make_cases(counts, folder_win, first=None):
    """The fault cases for the traced calls: (operation, path, n, error,
    times, first fault or None)."""
    seen_patterns = set()
    folders_in_area = Counter()
    cases = []
    for (operation, path), n_calls in sorted(counts.items()):
        if operation not in ERRORS_FOR:
            continue
        key = (operation, pattern_of(path))
        if key in seen_patterns:
            continue
        seen_patterns.add(key)
        if operation in FOLDER_OPERATIONS:
            folders_in_area[(operation, area_of(path, folder_win))] += 1
            if folders_in_area[(operation, area_of(path, folder_win))] > FOLDERS_PER_AREA:
                continue
        calls = sorted({1, n_calls}) if operation in LAST_CALL_TOO else [1]
        for n in calls:
            for error in ERRORS_FOR[operation]:
                cases.append((operation, path, n, error, 1, first))
        if operation in TRANSIENT_OPERATIONS and path.lower().startswith(folder_win.lower()) and not first:
            cases.append((operation, path, 1, "sharing", TRANSIENT_TIMES, first))
    return cases


def fault_text(operation, path, n, error, times):
    return f"{operation}|{path}|{n}|{ERRORS[error]}|{times}"


def run_case(scenario, case):
    """One faulty run and the checks after it; returns (outcome, problems, message)."""
    operation, path, n, error, times, first = case
    scenario.fresh_install()
    fault = fault_text(operation, path, n, error, times)
    if first:
        fault = fault_text(*first) + ";" + fault
    result = scenario.run(env={"TW_TEST_FILE_FAULT": fault})
    log = read_log(scenario.folder)
    if b" fails with error " not in result.stderr:
        outcome, problems, message = "not reached", [], ""
    else:
        problems = []
        message = failure_message(log) if result.returncode != 0 else ""
        if result.returncode not in (0, 1):
            problems.append(f"exit code {result.returncode}")
        if result.returncode != 0 and not message:
            problems.append("failed without a message")
        # A full disk is named when it is the run's first trouble and the call
        # could write: an open of a file outside the update folder only reads
        # (the state file, an installed file), and in a double fault the
        # message names the first fault.
        writes = operation != "open" or "\\.twupdate\\" in path.lower()
        if error == "disk-full" and writes and not first and result.returncode != 0 and message != WRITE_FAILED:
            problems.append("message does not name the full disk")
        if (error == "sharing" and not first and operation in ("move", "delete") and scenario.moves_game_file(path)
                and result.returncode != 0 and message != ROLLED_BACK):
            problems.append("message does not name the held file")
        files, kept = scenario.game_files()
        outcome = scenario.release_of(files)
        if scenario.journal_there():
            scenario.run_offline()
            files, kept = scenario.game_files()
            settled = scenario.release_of(files)
            outcome = "journal kept after the replay" if scenario.journal_there() else f"{settled} after the replay"
            if settled == "mixed":
                outcome = "mixed"
        if state_vouches_for_other_bytes(scenario.folder):
            problems.append("state file vouches for other bytes")
        if len(kept) != len(scenario.player):
            problems.append("player files lost")
        if scenario.outside_state() != scenario.outside_before:
            problems.append("touched outside the install folder")
    clean = scenario.run()
    files, kept = scenario.game_files()
    if clean.returncode != 0 or scenario.release_of(files) != "B" or scenario.journal_there():
        problems.append("the next clean run did not reach B")
        if outcome == "not reached":
            outcome = "mixed"
    if len(kept) != len(scenario.player) and "player files lost" not in problems:
        problems.append("player files lost")
    return outcome, problems, message


def sample(cases, size, seed=20261208):
    """A fixed sample that still holds every operation once."""
    by_operation = {}
    for case in cases:
        by_operation.setdefault(case[0], case)
    chosen = list(by_operation.values())
    rest = [c for c in cases if c not in chosen]
    random.Random(seed).shuffle(rest)
    return chosen + rest[:max(0, size - len(chosen))]


def rollback_fault(counts, folder_win):
    """A staged file held for good as it is moved into place: the last one
    the clean run moved in, so that the rollback has all the others to undo."""
    stage = (folder_win + f"\\{UPDATE_FOLDER}\\stage\\").lower()
    moved_in = [path for (operation, path) in counts if operation == "move" and path.lower().startswith(stage)
                and not path.lower().endswith(".part")]
    return ("move", moved_in[-1], 1, "sharing", 0)


def moved_to(case, scenario, traced_folder):
    """The case with its paths in another worker's install folder."""
    def move(path):
        if path.lower().startswith(traced_folder.lower()):
            return winpath(scenario.folder) + path[len(traced_folder):]
        return path
    operation, path, n, error, times, first = case
    if first:
        first = (first[0], move(first[1])) + tuple(first[2:])
    return operation, move(path), n, error, times, first


def sweep(root, layout, limit=None, verbose=False, workers=2):
    """Runs the sweep on `workers` install folders at once (each with its own
    server, as the offline start changes what the server answers); returns
    the report's figures."""
    root = Path(root)
    started = time.monotonic()
    with ThreadPoolExecutor(workers) as pool:
        scenarios = list(pool.map(lambda i: Scenario(root / f"worker-{i}", layout), range(workers)))
    try:
        counts = trace_calls(scenarios[0])
        traced_folder = winpath(scenarios[0].folder)
        cases = make_cases(counts, traced_folder)
        # Double faults: a file held for good makes the install roll back;
        # each call of the rollback not made by the clean run fails too.
        first = rollback_fault(counts, traced_folder)
        rollback = trace_calls(scenarios[0], first)
        cases += make_cases(Counter({k: v for k, v in rollback.items() if k not in counts}), traced_folder, first)
        if limit is not None:
            cases = sample(cases, limit)
        idle = queue.Queue()
        for scenario in scenarios:
            idle.put(scenario)
        printing = threading.Lock()

        def one(case):
            scenario = idle.get()
            try:
                outcome, found, message = run_case(scenario, moved_to(case, scenario, traced_folder))
            finally:
                idle.put(scenario)
            if verbose:
                with printing:
                    print(f"{'2nd ' if case[5] else ''}{case[0]:>14} {case[3]:<13} x{case[4]} n={case[2]} {case[1]}"
                      f" -> {outcome}"
                          f"{' ' + '; '.join(found) if found else ''}", flush=True)
            return case, outcome, found, message

        outcomes, problems, messages, failures = Counter(), Counter(), Counter(), []
        with ThreadPoolExecutor(workers) as pool:
            for case, outcome, found, message in pool.map(one, cases):
                outcomes[outcome] += 1
                problems.update(found)
                if message:
                    messages[(case[3], message)] += 1
                if found or outcome in ("mixed", "journal kept after the replay"):
                    failures.append((case, outcome, found))
        return {
            "calls traced": sum(counts.values()),
            "distinct calls": len(counts),
            "calls swept": len({(c[0], c[1]) for c in cases}),
            "rollback calls swept": len({(c[0], c[1]) for c in cases if c[5]}),
            "faults injected": sum(outcomes.values()) - outcomes["not reached"],
            "cases": sum(outcomes.values()),
            "outcomes": dict(outcomes),
            "mixed": outcomes["mixed"],
            "player files lost": problems["player files lost"],
            "problems": dict(problems),
            "messages": {f"{e}: {m}": n for (e, m), n in messages.items()},
            "seconds": round(time.monotonic() - started),
            "failures": failures,
        }
    finally:
        for scenario in scenarios:
            scenario.stop()


def print_figures(figures):
    print(f"calls traced in one update: {figures['calls traced']} ({figures['distinct calls']} distinct)")
    print(f"calls swept: {figures['calls swept']} ({figures['rollback calls swept']} of them during a rollback), cases: {figures['cases']}, "
          f"faults injected: {figures['faults injected']}, {figures['seconds']} s")
    print("outcomes:")
    for outcome, n in sorted(figures["outcomes"].items(), key=lambda kv: -kv[1]):
        print(f"  {outcome}: {n}")
    print(f"mixed: {figures['mixed']}")
    print(f"player files lost: {figures['player files lost']}")
    print("problems:" + ("" if figures["problems"] else " none"))
    for problem, n in sorted(figures["problems"].items()):
        print(f"  {problem}: {n}")
    print("messages of failed runs:")
    for message, n in sorted(figures["messages"].items()):
        print(f"  {message}: {n}")
    for case, outcome, found in figures["failures"][:40]:
        print(f"  FAILED {case} -> {outcome} {found}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", help="work folder (default: a new one below /tmp)")
    parser.add_argument("--limit", type=int, help="a fixed sample of this many cases")
    parser.add_argument("--layout", action="store_true", default=os.environ.get("TW_TORTURE_LAYOUT", "1") != "0",
                        help="include the files whose kind changes between the releases (the default)")
    parser.add_argument("--workers", type=int, default=int(os.environ.get("TW_TORTURE_WORKERS", "2")),
                        help="install folders swept at once")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    import subprocess
    import tempfile
    root = Path(args.root) if args.root else Path(tempfile.mkdtemp(prefix="torture-io-"))
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, **quiet)
    try:
        figures = sweep(root, args.layout, args.limit, args.verbose, args.workers)
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)
    print_figures(figures)
    bad = figures["mixed"] + figures["player files lost"] + sum(figures["problems"].values())
    if not args.root:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
