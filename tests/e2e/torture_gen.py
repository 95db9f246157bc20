"""Generated cases: releases, player edits and trouble made from a seed, with
the invariants checked after each case.

A seed makes a pair of releases A and B from a small alphabet of paths (files
and folders that swap, drop, appear, move between folders, change only in
letter case, grow and shrink, share pieces) and installs A. On that install
it makes EDIT_SETS sets of player edits (own files inside game folders, some
where B puts a file; a recorded file replaced by a folder of own files; a
recorded file changed). For each edit set a traced clean update is the first
case ("none"); its trace of file calls then gives TROUBLES more cases, each
with one trouble: one failing call ("fault"), the process killed at one call
("kill"), killed with the journal on disk and then one call failing for good
during the replay ("replay"), or a file held by another program ("held").
After each case:
  - once starts that only replay have settled any journal (one still there
    with nothing held any more is "stuck"), the game is exactly A with the
    player's changes, or exactly B;
  - every byte the player owned is still in the install folder, outside the
    update folder ("lost" otherwise);
  - the state file vouches only for bytes that are on disk;
  - a clean run then reaches exactly B;
  - `--uninstall --headless` then leaves exactly the player's bytes.

`make torture-gen` runs many seeds (TW_TORTURE_SEEDS); `make test` a fixed
sample and REGRESSIONS. A failing case prints the one command that replays
it; its seed and case then join REGRESSIONS."""
import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import threading
import time
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from games import SMALL_PIECE, make_game, publish, random_bytes  # noqa: E402
from io_torture import ERRORS, ERRORS_FOR, OWN_FILES, snapshot, state_vouches_for_other_bytes  # noqa: E402
from launcher import run_launcher, wine_env, winpath  # noqa: E402
from update_server import UpdateServer  # noqa: E402

FOLDERS = ("", "data/", "data/sub/", "maps/")
NAMES = ("a.bin", "b.txt", "notes", "Cfg.ini", "x")
OWN_NAMES = ("save.sav", "notes", "x", "mine.txt")
CHANGES = ("drop", "appear", "grow", "shrink", "change", "move", "case", "share", "file-to-folder",
           "folder-to-file")
TROUBLE_KINDS = ("fault", "kill", "replay", "held")
EDIT_SETS, TROUBLES = 2, 3
CASES_PER_SEED = EDIT_SETS * (1 + TROUBLES)
SIZES = (0, 17, SMALL_PIECE - 1, SMALL_PIECE + 5, 2 * SMALL_PIECE + 300, 3 * SMALL_PIECE)
JOURNAL = ".twupdate/journal.txt"
# Cases that once failed, with the trouble they met (a later change to the
# generator must not make them another case): (seed, case, kind, fault).
REGRESSIONS = [
    (7, 1, "fault", "find-next|.twupdate/old/data/a.bin/*|1|5"),   # a listing cut short while keeping
    (10, 6, "kill", "open|.twinstall.json.part|2|kill"),   # cut before the state is written at the commit
    (14, 3, "fault", "find-next|.twupdate/old/data/sub/notes/*|1|5"),
    (28, 1, "kill", "move|.twinstall.json.part|1|kill"),   # cut while the release mark is kept
    (69, 7, "fault", "attributes|.twupdate/old/data/a.bin/deep|1|5"),   # a kept folder that cannot be looked at
]
# The launcher's own names at the top of the install folder; the lock of a
# killed launcher may outlive it for a moment.
OWN = OWN_FILES + (".twlock",)


def key(path):
    return path.lower()   # the alphabet is ASCII; Windows compares names ignoring case


def valid(files):
    """No two paths name one place, and no file stands where another needs a folder."""
    keys = {key(p) for p in files}
    return len(keys) == len(files) and not any(
        "/".join(k.split("/")[:i]) in keys for k in keys for i in range(1, k.count("/") + 1))


def content(rng, size=None):
    return random_bytes(rng.choice(SIZES) if size is None else size, seed=rng.getrandbits(40))


def apply_change(kind, files, rng):
    paths = [p for p in files if p != "tarnwick.exe"]
    p = rng.choice(paths) if paths else "x"
    folder, _, name = p.rpartition("/")
    if kind == "appear" or not paths:
        files[rng.choice(FOLDERS) + rng.choice(NAMES)] = content(rng)
    elif kind == "drop":
        del files[p]
    elif kind == "grow":   # the leading pieces stay the same
        files[p] += content(rng, rng.choice((5, SMALL_PIECE)))
    elif kind == "shrink":
        files[p] = files[p][:len(files[p]) // 2]
    elif kind == "change":
        files[p] = content(rng, len(files[p]))
    elif kind == "move":
        files[rng.choice(FOLDERS) + name] = files.pop(p)
    elif kind == "case":
        files[p[:len(p) - len(name)] + name.swapcase()] = files.pop(p)
    elif kind == "share":   # a second file of the same pieces
        files[rng.choice(FOLDERS) + rng.choice(NAMES)] = files[p]
    elif kind == "file-to-folder":
        del files[p]
        files[p + "/" + rng.choice(NAMES)] = content(rng)
    elif kind == "folder-to-file" and folder:
        for q in [q for q in files if key(q).startswith(key(folder) + "/")]:
            del files[q]
        files[folder] = content(rng)


def make_pair(rng):
    """A, B and the changes from one to the other."""
    a = {"tarnwick.exe": b"MZ release A\n"}
    for _ in range(rng.randint(4, 8)):
        trial = dict(a, **{rng.choice(FOLDERS) + rng.choice(NAMES): content(rng)})
        if valid(trial):
            a = trial
    b, changes = dict(a, **{"tarnwick.exe": b"MZ release B\n"}), []
    for _ in range(rng.randint(2, 5)):
        kind, trial = rng.choice(CHANGES), dict(b)
        apply_change(kind, trial, rng)
        if valid(trial) and trial != b:
            b = trial
            changes.append(kind)
    return a, b, changes


def make_edits(rng, a, b, tag):
    """The player's edits of the installed A: (A as they left it, their own
    files, what they did)."""
    game, own, did = dict(a), {}, []
    for n in range(rng.randint(1, 3)):
        kind = rng.choice(("own", "own", "folder", "change"))
        mine = lambda i: f"{tag}:{n}:{i} the player's own bytes\n".encode() * rng.randint(1, 40)  # noqa: E731
        paths = [p for p in game if p != "tarnwick.exe"]
        if kind == "own":
            # Sometimes just where B puts a file or a folder.
            wanted = [p for p in b if key(p) not in {key(q) for q in a}] + [
                rng.choice(FOLDERS) + rng.choice(OWN_NAMES) for _ in range(2)]
            path = rng.choice(wanted)
            if key(path) not in {key(q) for q in [*game, *own]} and valid({**game, **own, path: b""}):
                own[path] = mine(0)
                did.append(f"own {path}")
        elif kind == "folder" and paths:
            path = rng.choice(paths)
            del game[path]
            own.update({path + "/own.sav": mine(1), path + "/deep/own.txt": mine(2)})
            did.append(f"folder at {path}")
        elif kind == "change" and paths:
            path = rng.choice(paths)
            game[path] = mine(3)[:max(1, len(game[path]))] if rng.random() < 0.5 else mine(3)
            did.append(f"changed {path}")
    return game, own, did


def apply_edits(folder, a, game, own):
    for path in a:
        if path not in game:
            (folder / path).unlink()
    for files in (game, own):
        for path, data in files.items():
            if a.get(path) != data:
                (folder / path).parent.mkdir(parents=True, exist_ok=True)
                (folder / path).write_bytes(data)


class Worker:
    """One install folder (always the same path, so that a traced path names
    the same file in every case of the worker) with its own server."""

    def __init__(self, root):
        self.root = Path(root)
        self.server = UpdateServer(self.root / "server").start()
        self.folder = self.root / "game" / "install"
        self.win = winpath(self.folder)

    def run(self, env=None, args=("--headless",), offline=False):
        # Wine lets go of an ended launcher's lock a moment after the process
        # is gone; on a busy machine that moment can outlast the next
        # launcher's wait for it.
        for _ in range(300):
            if not (self.folder / ".twlock").exists():
                break
            time.sleep(0.1)
        if offline:   # a start whose manifest is refused: it replays, then plays what is there
            self.server.fault("manifest.sig", body=b"not a signature")
        try:
            return run_launcher(self.folder, args=args, server_url=self.server.url, env=env, timeout=300)
        except subprocess.TimeoutExpired:   # ended by the harness: exit code 124
            return subprocess.CompletedProcess(args, 124, b"did not end within 300 s", b"")
        finally:
            self.server.clear_fault("manifest.sig")

    def fresh(self, template):
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.copytree(template, self.folder, ignore=shutil.ignore_patterns("launcher.log"))

    def full(self, rel):
        return self.win + "\\" + rel.replace("/", "\\")

    def journal(self):
        return (self.folder / JOURNAL).exists()

    def prepare_seed(self, seed):
        """Publishes A, installs it into a template, publishes B."""
        a, b, changes = make_pair(random.Random(f"{seed}:pair"))
        shutil.rmtree(self.server.root, ignore_errors=True)
        self.server.root.mkdir(parents=True)
        template = self.root / "template-a"
        shutil.rmtree(template, ignore_errors=True)
        publish(make_game(self.root / "src-a", a), self.server.root, version="A")
        if run_launcher(template, server_url=self.server.url, timeout=300).returncode != 0:
            raise RuntimeError(f"seed {seed}: installing A failed")
        publish(make_game(self.root / "src-b", b), self.server.root, version="B")
        return a, b, changes, template

    def prepare_edits(self, seed, e, a, b, template):
        game, own, did = make_edits(random.Random(f"{seed}:edits:{e}"), a, b, f"{seed}:{e}")
        edited = self.root / f"template-{e}"
        shutil.rmtree(edited, ignore_errors=True)
        shutil.copytree(template, edited, ignore=shutil.ignore_patterns("launcher.log"))
        apply_edits(edited, a, game, own)
        return game, own, did, edited


def traced_calls(trace, win):
    """(operation, relative path, n) of every call the traced run made in the
    install folder, in order; n counts the calls of that operation and path."""
    seen, calls = Counter(), []
    for line in trace.read_bytes().decode("utf-8", "replace").splitlines():
        operation, _, path = line.partition("\t")
        if path.lower().startswith(win.lower() + "\\"):
            rel = path[len(win) + 1:].replace("\\", "/")
            seen[(operation, rel)] += 1
            calls.append((operation, rel, seen[(operation, rel)]))
    return calls


def pick(name, items):
    """The item the name picks, whatever else the list holds: threads make a
    run's calls vary a little from run to run, and a pick by position would
    then name another call when a case is replayed."""
    return min(items, key=lambda item: hashlib.sha256(f"{name}|{item}".encode()).digest())


def pick_trouble(rng, name, calls, game, own):
    """(kind, the fault variable's text with relative paths) for one case."""
    kind = rng.choice(TROUBLE_KINDS)
    faultable = [c for c in calls if c[0] in ERRORS_FOR]
    if kind == "fault":
        operation, rel, n = pick(name, faultable)
        return kind, f"{operation}|{rel}|{n}|{ERRORS[rng.choice(ERRORS_FOR[operation])]}"
    if kind == "held":
        rel = rng.choice(sorted(game) + sorted(own))
        return kind, ";".join(f"{operation}|{rel}|1|32|0" for operation in ("open", "move", "move-to", "delete"))
    # A kill anywhere, or (for "replay") while the journal is on disk.
    window = calls
    if kind == "replay":
        starts = [i for i, c in enumerate(calls) if c[:2] == ("move", JOURNAL + ".part")]
        ends = [i for i, c in enumerate(calls) if c[:2] == ("delete", JOURNAL)]
        window = calls[starts[0] + 1:ends[-1]] if starts and ends else calls
    operation, rel, n = pick(name, window)
    return kind, f"{operation}|{rel}|{n}|kill"


def replay_fault(rng, worker):
    """One call of the replay that fails for good: a move (or removal) of a
    place or a saved copy the journal left names."""
    lines = [line[2:].split("\t")[0] for line in (worker.folder / JOURNAL).read_text("utf-8", "replace").split("\n")
             if len(line) > 2]
    rel = rng.choice(lines) if lines else "x"
    operation, where = rng.choice((("move", rel), ("move", ".twupdate/old/" + rel), ("delete", rel),
                                   ("remove-folder", rel), ("move-to", rel)))
    return f"{operation}|{worker.full(where)}|1|32|0"


def absolute(worker, fault):
    parts = []
    for one in fault.split(";"):
        operation, rel, rest = one.split("|", 2)
        parts.append(f"{operation}|{worker.full(rel)}|{rest}")
    return ";".join(parts)


def look(folder, game, b, own):
    """('A' | 'B' | 'mixed (what differs)', the player's files not found outside
    the update folder)."""
    files = {key(rel): data for rel, data in snapshot(folder).items() if rel.split("/")[0] not in OWN}
    lost = []
    for rel, data in own.items():
        found = [r for r, d in files.items() if d == data]
        if not found:
            lost.append(rel)
            continue
        del files[key(rel) if key(rel) in found else found[0]]
    a, b = {key(p): d for p, d in game.items()}, {key(p): d for p, d in b.items()}
    if files in (a, b):
        return ("A" if files == a else "B"), lost
    # Each path that is neither: what it holds (A's, B's, other bytes, or nothing).
    odd = [f"{p}={'A' if files.get(p) == a.get(p) else 'B' if files.get(p) == b.get(p) else '?' if p in files else '-'}"
           for p in sorted(set(files) | set(a) | set(b)) if not files.get(p) == a.get(p) == b.get(p)]
    return "mixed (" + " ".join(odd) + ")", lost


def check_case(worker, case, result):
    """The invariants after the trouble run; returns (outcome, problems)."""
    problems = []
    if result.returncode not in (0, 1, 9):
        problems.append(f"exit code {result.returncode}")
    if case["kind"] == "replay" and worker.journal():
        worker.run(env={"TW_TEST_FILE_FAULT": replay_fault(random.Random(case["name"]), worker)}, offline=True)
    for _ in range(2):   # the holder is gone: starts that only replay settle the journal
        if worker.journal():
            worker.run(offline=True)
    if worker.journal():
        return "stuck", problems
    outcome, lost = look(worker.folder, case["game"], case["b"], case["own"])
    if outcome.startswith("mixed"):
        problems.append(outcome)
        outcome = "mixed"
    if lost:
        problems.append("player bytes lost")
    if state_vouches_for_other_bytes(worker.folder):
        problems.append("state vouches for other bytes")
    clean = worker.run()
    after, lost = look(worker.folder, case["game"], case["b"], case["own"])
    if clean.returncode != 0 or after != "B" or (worker.folder / ".twupdate").exists():
        said = clean.stdout.decode("utf-8", "replace").strip().splitlines()[-2:]
        problems.append(f"the clean run did not reach B ({after}, exit code {clean.returncode}, update folder "
                        f"{'left' if (worker.folder / '.twupdate').exists() else 'gone'}: {' | '.join(said)})")
    if lost and "player bytes lost" not in problems:
        problems.append("player bytes lost")
    gone = worker.run(args=("--uninstall", "--headless"))
    left = sorted(snapshot(worker.folder).values()) if worker.folder.exists() else []
    if gone.returncode != 0 or left != sorted(case["own"].values()):
        said = gone.stdout.decode("utf-8", "replace").strip().splitlines()[-1:]
        problems.append(f"the uninstall did not leave exactly the player's bytes ({len(left)} files left, "
                        f"exit code {gone.returncode}: {' | '.join(said)})")
    return outcome, problems


def run_seed(worker, seed, only=None, trouble=None, report=print):
    """Every case of one seed (or case `only`, with `trouble` when given);
    yields (case, outcome, problems)."""
    a, b, changes, template = worker.prepare_seed(seed)
    for e in range(EDIT_SETS):
        first = e * (1 + TROUBLES)
        if only is not None and not first <= only < first + 1 + TROUBLES:
            continue
        game, own, did, edited = worker.prepare_edits(seed, e, a, b, template)
        trace = worker.root / "trace.txt"
        trace.unlink(missing_ok=True)
        for t in range(1 + TROUBLES):
            number = first + t
            case = {"name": f"{seed}:{number}", "game": game, "own": own, "b": b, "kind": "none", "fault": ""}
            env = {"TW_TEST_FILE_TRACE": winpath(trace)} if t == 0 else {}
            if t > 0:
                calls = traced_calls(trace, worker.win)
                case["kind"], case["fault"] = trouble or pick_trouble(random.Random(f"{seed}:{e}:{t}"), case["name"],
                                                                      calls, game, own)
                env = {"TW_TEST_FILE_FAULT": absolute(worker, case["fault"])}
            if only is not None and number != only and t > 0:
                continue
            worker.fresh(edited)
            outcome, problems = check_case(worker, case, worker.run(env=env))
            line = (f"seed {seed} case {number}: A->B {'+'.join(changes)} | {'; '.join(did) or 'no edits'} | "
                    f"{case['kind']} {case['fault']} -> {outcome}{' ' + '; '.join(problems) if problems else ''}")
            if problems or outcome in ("mixed", "stuck"):
                line += f"\n  FAILED: replay with: make torture-gen SEED={seed} CASE={number}"
            report(line)
            yield case, outcome, problems


def run_many(root, seeds, workers=2, report=print):
    """Runs the seeds on `workers` install folders at once; returns the
    figures. A seed is a number (all its cases) or (seed, case[, kind,
    fault]) for one case."""
    started, lock = time.monotonic(), threading.Lock()
    figures = {"cases": 0, "seeds": len({s if isinstance(s, int) else s[0] for s in seeds}), "outcomes": Counter(),
               "problems": Counter(), "failed": []}
    pending = [(s, None, None) if isinstance(s, int) else (s[0], s[1], tuple(s[2:]) or None) for s in seeds]

    def work(i):
        worker = Worker(Path(root) / f"worker-{i}")
        try:
            while True:
                with lock:
                    if not pending:
                        return
                    seed, only, trouble = pending.pop(0)
                try:
                    for case, outcome, problems in run_seed(worker, seed, only, trouble, report):
                        with lock:
                            figures["cases"] += 1
                            figures["outcomes"][outcome] += 1
                            figures["problems"].update(problems)
                            if problems or outcome in ("mixed", "stuck"):
                                figures["failed"].append(case["name"])
                except Exception as error:   # the harness's own trouble: the seed counts as failed
                    report(f"seed {seed}: {type(error).__name__}: {error}")
                    with lock:
                        figures["failed"].append(f"{seed}:{only if only is not None else 0}")
        finally:
            worker.server.stop()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(workers)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    figures["seconds"] = round(time.monotonic() - started)
    figures["mixed"] = figures["outcomes"]["mixed"]
    figures["stuck"] = figures["outcomes"]["stuck"]
    figures["lost"] = figures["problems"]["player bytes lost"]
    return figures


def print_figures(figures):
    print(f"cases: {figures['cases']}, seeds: {figures['seeds']}, {figures['seconds']} s")
    print("outcomes: " + ", ".join(f"{k} {v}" for k, v in sorted(figures["outcomes"].items())))
    print(f"mixed: {figures['mixed']}, player bytes lost: {figures['lost']}, stuck journals: {figures['stuck']}")
    print("problems: " + (", ".join(f"{k} {v}" for k, v in sorted(figures["problems"].items())) or "none"))
    for name in figures["failed"]:
        seed, case = name.split(":")
        print(f"  FAILED seed {seed} case {case}: make torture-gen SEED={seed} CASE={case}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, help="the first seed (or the only one, with --case)")
    parser.add_argument("--case", type=int, help="only this case of the seed")
    parser.add_argument("--seeds", type=int, default=int(os.environ.get("TW_TORTURE_SEEDS", "300")))
    parser.add_argument("--workers", type=int, default=int(os.environ.get("TW_TORTURE_WORKERS", "2")))
    parser.add_argument("--root", help="work folder (default: a new one below /tmp)")
    args = parser.parse_args()
    import tempfile
    root = Path(args.root) if args.root else Path(tempfile.mkdtemp(prefix="torture-gen-"))
    first = args.seed if args.seed is not None else 1
    seeds = [(first, args.case)] if args.case is not None else list(range(first, first + args.seeds))
    if args.case is not None:   # a regression case replays with the trouble it met
        seeds = [r for r in REGRESSIONS if r[:2] == (first, args.case)][:1] or seeds
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        figures = run_many(root, seeds, workers=min(args.workers, len(seeds)))
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)
    print_figures(figures)
    if not args.root:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if figures["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
