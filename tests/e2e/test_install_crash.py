"""Crash safety of the journaled install: whatever moment an update from
release A to release B is cut off at, the next start leaves the install folder
holding exactly A or exactly B, byte for byte, and a later online run exactly B.

Two kinds of cut: the launcher's test hook TW_TEST_CRASH_AT ends the process
at a named point inside the install step (every move, the journal, the state
file, the update folder's removal, and the replay itself), and SIGKILL of the
Windows process at random moments, mostly just after the install began.
Rounds and random choices come from a fixed seed so a failure repeats. The
update reuses pieces of an installed file that it replaces, so the kills
also land while those are read.

Also here: a file held open by another program makes the install roll back,
and a running game makes the install wait until it has closed."""
import hashlib
import json
import os
import random
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from games import (SAVED_MANIFEST, SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, publish, random_bytes,
                   tree)
from launcher import WIN, launcher_for, read_log, run_launcher, start_wine, wine_env, winpath
from server_fixtures import update_server  # noqa: F401  (fixture)
from update_server import UpdateServer

FAKE_GAME = WIN / "fake_game.exe"
FILE_LOCKER = WIN / "file_locker.exe"
SEED = 20240611
ROLLED_BACK = "[8] the update could not be installed -- the game was left as it was"
WAITING = "[7] close tarnwick to finish the update"
# Files of the launcher's own that may differ between the two outcomes.
OWN_FILES = (STATE_FILE, STATE_FILE + ".part", UPDATE_FOLDER, "launcher.log") + SAVED_MANIFEST + tuple(
    name + ".part" for name in SAVED_MANIFEST)


def release_a():
    return {
        "tarnwick.exe": b"MZ release A\n" * 10,
        "data/big.bin": random_bytes(3 * SMALL_PIECE + 17, seed=11),
        "data/text.txt": b"release A text\n" * 500,
        "data/same.bin": random_bytes(SMALL_PIECE + 5, seed=12),
        "levels/one.lvl": b"level one of A\n" * 40,
        "levels/two.lvl": b"level two of A\n" * 40,
        "dropped/only_in_a.dat": random_bytes(900, seed=13),
        "dropped_too.txt": b"this file goes away in B\n",
        "empty.txt": b"",
    }


def release_b():
    return {
        "tarnwick.exe": b"MZ release B, a little longer\n" * 10,
        # Its first two pieces are A's: the update reads them from the file it
        # replaces (the installed bytes are reused, not downloaded).
        "data/big.bin": release_a()["data/big.bin"][:2 * SMALL_PIECE] + random_bytes(3000, seed=21),
        "data/text.txt": b"release B text\n" * 700,
        "data/same.bin": random_bytes(SMALL_PIECE + 5, seed=12),
        "levels/one.lvl": b"level one of B\n" * 40,
        "levels/two.lvl": b"level two of A\n" * 40,
        "levels/three.lvl": b"a new level in B\n" * 30,
        "new/deep/folder/added.bin": random_bytes(5000, seed=22),
        "added.txt": b"added in B\n",
        "empty.txt": b"now with content\n",
    }


A = release_a()
B = release_b()
STALE = [p for p in B if A.get(p) != B[p]]          # files the install moves in
REMOVED = [p for p in A if p not in B]              # files it moves away
REPLACED = [p for p in STALE if p in A]             # stale files with an old copy


def game_files(folder):
    return tree(folder, skip=OWN_FILES)


def sha256_file(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def filetime(path):
    """The 64-bit FILETIME Wine reports for a file's modification time."""
    return os.stat(path).st_mtime_ns // 100 + 116444736000000000


def check_state_never_vouches_for_wrong_bytes(folder):
    """The state file may be older than the files (the next planning hashes
    them), but a record whose size and write time match a file on disk must
    name that file's true hash: otherwise the planning would keep wrong bytes."""
    path = Path(folder) / STATE_FILE
    if not path.exists():
        return None
    state = json.loads(path.read_bytes())
    for rel, (size, write_time, digest) in state.get("files", {}).items():
        place = Path(folder) / rel
        if not place.is_file():
            continue
        if int(size) == place.stat().st_size and int(write_time) == filetime(place):
            assert digest == sha256_file(place), f"{rel}: its record vouches for other bytes"
    return state


def check_a_or_b(folder):
    files = game_files(folder)
    assert files in (A, B), describe_mix(files)
    state = check_state_never_vouches_for_wrong_bytes(folder)
    if state is not None and state.get("version") == "B":
        assert files == B, "the state file says B but the files are not B"
    return "A" if files == A else "B"


def describe_mix(files):
    lines = []
    for rel in sorted(set(files) | set(A) | set(B)):
        have = files.get(rel)
        tag = "A" if have == A.get(rel) else "B" if have == B.get(rel) else "?"
        if have is None:
            tag = "missing" if rel in A and rel in B else "absent"
        lines.append(f"  {rel}: {tag}")
    return "install folder is neither A nor B:\n" + "\n".join(lines)


def check_exactly_b(folder, result, leftover_allowed=False):
    """After a run that ended ready. The update folder goes with the commit
    that the run made; only a commit cut short before the run may leave one
    (an up-to-date run has no reason to touch it), but never a journal."""
    assert result.returncode == 0, (result.stderr, read_log(folder))
    assert game_files(folder) == B
    state = check_state_never_vouches_for_wrong_bytes(folder)
    assert state["version"] == "B"
    assert not (Path(folder) / UPDATE_FOLDER / "journal.txt").exists()
    if not leftover_allowed:
        assert not (Path(folder) / UPDATE_FOLDER).exists()


class World:
    """The server with release B published and a pristine install of A."""

    def __init__(self, root):
        self.root = root
        self.server = UpdateServer(root / "server").start()
        self.template = root / "template"
        publish(make_game(root / "src-a", A), self.server.root, version="A")
        result = run_launcher(self.template, server_url=self.server.url)
        assert result.returncode == 0, read_log(self.template)
        assert game_files(self.template) == A
        publish(make_game(root / "src-b", B), self.server.root, version="B")
        self.count = 0

    def fresh_install(self):
        self.count += 1
        folder = self.root / f"install-{self.count}"
        # copy2 keeps the write times the state records; the template's log
        # would mislead the watch for the install's log line.
        shutil.copytree(self.template, folder, ignore=shutil.ignore_patterns("launcher.log"))
        return folder

    def run(self, folder, env=None):
        return run_launcher(folder, server_url=self.server.url, env=env, timeout=120)

    def run_replay_only(self, folder, env=None):
        """A start that only replays: the signature is refused, so the run
        falls back to the installed version right after the journal recovery
        (quicker than an unreachable server, which is retried)."""
        self.server.fault("manifest.sig", body=b"not a signature")
        try:
            return run_launcher(folder, server_url=self.server.url, env=env, timeout=120)
        finally:
            self.server.clear_fault("manifest.sig")

    def start(self, folder, env=None):
        extra = {"TW_INSTALL_DIR": winpath(folder), "TW_UPDATE_URL": self.server.url}
        extra.update(env or {})
        return start_wine(launcher_for(extra), ["--headless"], env=extra)


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    w = World(tmp_path_factory.mktemp("crash"))
    yield w
    w.server.stop()


def crash_points():
    """Every named point of one A -> B install, each as "<point>:<n>"."""
    points = ["journal-written"]
    points += [f"moved-aside:{n}" for n in range(1, len(STALE) + len(REMOVED) + 1)]
    points += [f"moved-in:{n}" for n in range(1, len(STALE) + 1)]
    points += ["journal-deleted", "state-written"]
    points += [f"update-folder-removing:{n}" for n in (1, 4)]
    return points


def after_crash(world, folder, replay_first, leftover_allowed=True, pieces_cached=False):
    """The starts after a cut: optionally one that only replays (it must leave
    exactly A or B), then an online one (exactly B). Returns what the replay
    left, or None. With pieces_cached the online run must build B again from
    the pieces the cut run left in the update folder, fetching none."""
    outcome = None
    if replay_first:
        world.run_replay_only(folder)
        outcome = check_a_or_b(folder)
        assert not (Path(folder) / UPDATE_FOLDER / "journal.txt").exists()
    world.server.clear_log()
    check_exactly_b(folder, world.run(folder), leftover_allowed)
    if pieces_cached:
        assert not [path for path, _ in world.server.requests if "/chunks/" in path]
    return outcome


def test_a_cut_at_every_named_point_leaves_a_or_b(world):
    for point in crash_points():
        folder = world.fresh_install()
        result = world.run(folder, env={"TW_TEST_CRASH_AT": point})
        assert result.returncode == 9, f"{point} was never reached"
        # The journal's deletion is the commit point: before it the replay
        # brings A back, after it B stays (whatever the state file says).
        committed = point.startswith(("journal-deleted", "state-written", "update-folder"))
        assert (Path(folder) / UPDATE_FOLDER / "journal.txt").exists() != committed, point
        outcome = after_crash(world, folder, replay_first=True, leftover_allowed=committed,
                              pieces_cached=not committed)
        assert outcome == ("B" if committed else "A"), point


def test_a_cut_during_the_replay_is_undone_by_the_next_replay(world):
    saved = len(REPLACED) + len(REMOVED)
    for restored in sorted({1, saved // 2, saved}):
        folder = world.fresh_install()
        # All files moved in, then cut: the journal must undo everything.
        last_move = f"moved-aside:{len(STALE) + len(REMOVED)}"
        assert world.run(folder, env={"TW_TEST_CRASH_AT": last_move}).returncode == 9
        result = world.run_replay_only(folder, env={"TW_TEST_CRASH_AT": f"restored:{restored}"})
        assert result.returncode == 9, f"restored:{restored} was never reached"
        world.run_replay_only(folder)
        assert check_a_or_b(folder) == "A"
        check_exactly_b(folder, world.run(folder))


def kill_at(proc, seconds):
    """SIGKILL of the launcher's process: under Wine the Linux process that
    `wine` execs into is the Windows process itself, so nothing of it runs on."""
    time.sleep(seconds)
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGKILL)
    proc.wait(timeout=30)


def kill_soon_after(proc, seen, delay):
    deadline = time.monotonic() + 60
    while proc.poll() is None and time.monotonic() < deadline and not seen():
        time.sleep(0.001)
    kill_at(proc, delay)


def install_step_started(folder):
    """The assembly shows "[4] installing" first, the install step again."""
    def seen():
        try:
            return (Path(folder) / "launcher.log").read_bytes().count(b"[4] installing") >= 2
        except OSError:
            return False
    return seen


def journal_written(folder):
    return (Path(folder) / UPDATE_FOLDER / "journal.txt").exists


def test_random_kills_leave_a_or_b(world):
    rng = random.Random(SEED + 1)
    # How long an uncut update takes, to spread the kills over it.
    folder = world.fresh_install()
    started = time.monotonic()
    check_exactly_b(folder, world.run(folder))
    full = time.monotonic() - started
    assert any(line.startswith("reused 2 pieces") for line in read_log(folder))

    budget = time.monotonic() + 75
    rounds = 0
    cuts = {"before the journal": 0, "journal on disk": 0, "after the commit": 0}
    while rounds < 60 and time.monotonic() < budget:
        folder = world.fresh_install()
        proc = world.start(folder)
        aim = rng.random()
        if aim < 0.45:
            kill_soon_after(proc, journal_written(folder), rng.uniform(0.0, 0.03))
        elif aim < 0.75:
            kill_soon_after(proc, install_step_started(folder), rng.uniform(0.0, 0.05))
        else:
            kill_at(proc, rng.uniform(0.0, full))
        if (folder / UPDATE_FOLDER / "journal.txt").exists():
            cuts["journal on disk"] += 1
        elif game_files(folder) == B:
            cuts["after the commit"] += 1
        else:
            cuts["before the journal"] += 1
        after_crash(world, folder, replay_first=rng.random() < 0.6)
        rounds += 1
    print(f"random kills: {rounds} rounds, cut {cuts}, uncut run {full:.2f}s")
    assert rounds >= 10


def test_file_held_open_rolls_back_to_a(world):
    folder = world.fresh_install()
    held = folder / "data" / "text.txt"
    ready = folder.parent / f"locker-ready-{world.count}"
    release = folder.parent / f"locker-release-{world.count}"
    locker = start_wine(FILE_LOCKER, [winpath(held), "--ready", winpath(ready),
                                      "--until", winpath(release), "--seconds", "120"])
    try:
        deadline = time.monotonic() + 30
        while not ready.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        assert ready.exists(), "the locker did not start"
        result = world.run(folder)
        assert result.returncode == 1
        log = read_log(folder)
        assert "could not put data/text.txt in place (error 32)" in log
        assert ROLLED_BACK in log
        assert log.index("journal found: an update was cut off -- putting the old files back") \
            > log.index("could not put data/text.txt in place (error 32)")
        assert game_files(folder) == A
        assert not (folder / UPDATE_FOLDER / "journal.txt").exists()
        assert json.loads((folder / STATE_FILE).read_bytes())["version"] == "A"
    finally:
        release.write_bytes(b"")
        locker.wait(timeout=30)
    check_exactly_b(folder, world.run(folder))


def test_install_waits_for_the_running_game(tmp_path, update_server):
    game = FAKE_GAME.read_bytes()
    a = {"game.exe": game, "data/level.dat": b"A level\n" * 100}
    b = {"game.exe": game, "data/level.dat": b"B level\n" * 120, "data/new.dat": b"new\n"}
    publish(make_game(tmp_path / "src-a", a), update_server.root, version="A", exe="game.exe")
    folder = tmp_path / "install"
    assert run_launcher(folder, server_url=update_server.url).returncode == 0
    publish(make_game(tmp_path / "src-b", b), update_server.root, version="B", exe="game.exe")

    marker = tmp_path / "game-runs"
    report = tmp_path / "game-report.txt"
    marker.write_bytes(b"")
    game_proc = start_wine(folder / "game.exe", ["--out", winpath(report), "--until-gone", winpath(marker)])
    try:
        deadline = time.monotonic() + 30
        while not report.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        assert report.exists(), "the fake game did not start"
        launcher = start_wine(launcher_for({}), ["--headless"],
                              env={"TW_INSTALL_DIR": winpath(folder), "TW_UPDATE_URL": update_server.url})
        time.sleep(3.5)
        assert launcher.poll() is None, "the install did not wait for the game"
        assert tree(folder)["data/level.dat"] == a["data/level.dat"]
    finally:
        marker.unlink()
        game_proc.wait(timeout=30)
    assert launcher.wait(timeout=60) == 0
    assert tree(folder) == b

    raw = (folder / "launcher.log").read_bytes().decode().split("\r\n")
    waits = [line for line in raw if line[13:] == WAITING]
    assert 2 <= len(waits) <= 6, raw
    stamps = [int(w[0:2]) * 3600000 + int(w[3:5]) * 60000 + int(w[6:8]) * 1000 + int(w[9:12]) for w in waits]
    gaps = [later - earlier for earlier, later in zip(stamps, stamps[1:])]
    assert all(800 <= gap <= 1600 for gap in gaps), gaps
    # The assembly shows phase 4 too; the install's own comes after the waits.
    text = [line[13:] for line in raw]
    last_install = len(text) - 1 - text[::-1].index("[4] installing")
    assert last_install > len(text) - 1 - text[::-1].index(WAITING)
