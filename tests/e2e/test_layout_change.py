"""Releases that change the folder layout, and a rollback that cannot finish.

Release A has a file data/thing and a folder data/sub; release B has
data/thing/inner.bin and a file data/sub. The player keeps a save in
data/sub. B installs, the save moves to a kept place beside data/sub that the
log names, and a cut anywhere in the install leaves exactly A (with the save
in its place) or exactly B (with the save kept).

A rollback whose restore fails (a program holds a file the install already
put in place) keeps the journal and the old copies; the next start, offline
too, puts them back before anything else."""
import json
import shutil
import time
from pathlib import Path

import pytest

from games import SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, publish, random_bytes, tree
from launcher import WIN, read_log, run_launcher, start_wine, winpath
from update_server import UpdateServer

FILE_LOCKER = WIN / "file_locker.exe"
SAVE = "data/sub/my_save.dat"
KEPT = "data/sub (kept files)/my_save.dat"
SAVE_BYTES = b"the player's own save\n"

A = {
    "tarnwick.exe": b"MZ release A\n" * 10,
    "data/thing": b"a file in A\n" * 20,
    "data/sub/a.bin": random_bytes(2 * SMALL_PIECE + 9, seed=31),
    "data/sub/deeper/b.bin": b"b of A\n" * 30,
    "data/other.bin": b"other of A\n" * 40,
}
B = {
    "tarnwick.exe": b"MZ release B\n" * 12,
    "data/thing/inner.bin": b"now a folder in B\n" * 20,
    "data/sub": random_bytes(SMALL_PIECE + 3, seed=32),
    "data/other.bin": b"other of B\n" * 40,
    "fresh/deep/x.bin": b"new in B\n" * 10,
}
WITH_SAVE_A = dict(A, **{SAVE: SAVE_BYTES})
WITH_SAVE_B = dict(B, **{KEPT: SAVE_BYTES})


class World:
    def __init__(self, root):
        self.root = root
        self.server = UpdateServer(root / "server").start()
        self.template = root / "template"
        publish(make_game(root / "src-a", A), self.server.root, version="A")
        assert run_launcher(self.template, server_url=self.server.url).returncode == 0
        (self.template / SAVE).write_bytes(SAVE_BYTES)
        publish(make_game(root / "src-b", B), self.server.root, version="B")
        self.count = 0

    def fresh_install(self):
        self.count += 1
        folder = self.root / f"install-{self.count}"
        shutil.copytree(self.template, folder, ignore=shutil.ignore_patterns("launcher.log"))
        return folder

    def run(self, folder, env=None):
        return run_launcher(folder, server_url=self.server.url, env=env, timeout=120)

    def run_offline(self, folder, env=None):
        """A start whose manifest is refused: it replays, then plays what is there."""
        self.server.fault("manifest.sig", body=b"not a signature")
        try:
            return run_launcher(folder, server_url=self.server.url, env=env, timeout=120)
        finally:
            self.server.clear_fault("manifest.sig")


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    w = World(tmp_path_factory.mktemp("layout"))
    yield w
    w.server.stop()


def game_files(folder):
    return tree(folder)


def test_layout_change_installs_and_keeps_the_players_save(world):
    folder = world.fresh_install()
    result = world.run(folder)
    assert result.returncode == 0, read_log(folder)
    assert game_files(folder) == WITH_SAVE_B
    assert json.loads((folder / STATE_FILE).read_bytes())["version"] == "B"
    assert not (folder / UPDATE_FOLDER).exists()
    kept_place = winpath(folder / "data" / "sub (kept files)")
    assert any(line.endswith(f"kept 1 file(s) the game does not manage in {kept_place}")
               for line in read_log(folder)), read_log(folder)
    # Up to date afterwards, the kept save untouched.
    assert world.run(folder).returncode == 0
    assert game_files(folder) == WITH_SAVE_B


def test_a_cut_anywhere_in_a_layout_change_leaves_a_or_b(world):
    # Eight moves aside: the file in the way of a folder, each file of the two
    # new folders, the three replaced files (one a folder), the two removals
    # left. Every other one is cut here, and the save's move to its kept place.
    points = ["journal-written", "moved-aside:1", "moved-aside:3", "moved-aside:5", "moved-aside:7",
              "moved-aside:8", "moved-in:2", "moved-in:5", "kept:1", "journal-deleted"]
    for point in points:
        folder = world.fresh_install()
        result = world.run(folder, env={"TW_TEST_CRASH_AT": point})
        assert result.returncode == 9, f"{point} was never reached"
        world.run_offline(folder)
        assert game_files(folder) in (WITH_SAVE_A, WITH_SAVE_B), (point, sorted(game_files(folder)))
        assert not (folder / UPDATE_FOLDER / "journal.txt").exists(), point
        assert world.run(folder).returncode == 0, (point, read_log(folder))
        assert game_files(folder) == WITH_SAVE_B, point


def hold(path, tag):
    ready = Path(f"{path}.ready-{tag}")
    release = Path(f"{path}.release-{tag}")
    locker = start_wine(FILE_LOCKER, [winpath(path), "--ready", winpath(ready), "--until", winpath(release),
                                      "--seconds", "120"])
    deadline = time.monotonic() + 30
    while not ready.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert ready.exists(), "the locker did not start"
    ready.unlink()

    def let_go():
        release.write_bytes(b"")
        locker.wait(timeout=30)
        release.unlink()
    return let_go


def test_a_restore_that_fails_is_finished_by_the_next_start_offline_too(world):
    folder = world.fresh_install()
    # Cut once every new file is in place, then hold one of them.
    assert world.run(folder, env={"TW_TEST_CRASH_AT": "moved-in:5"}).returncode == 9
    assert (folder / "data" / "other.bin").read_bytes() == B["data/other.bin"]
    let_go = hold(folder / "data" / "other.bin", "restore")
    try:
        result = world.run_offline(folder)
        assert result.returncode != 0
        log = read_log(folder)
        assert any(line.startswith("could not put back data/other.bin (error ") for line in log), log
        assert "[8] an interrupted update could not be undone -- close the programs that use the game's " \
            "files and open the launcher again" in log
        assert (folder / UPDATE_FOLDER / "journal.txt").exists()
        assert (folder / UPDATE_FOLDER / "old" / "data" / "other.bin").read_bytes() == A["data/other.bin"]
    finally:
        let_go()
    world.run_offline(folder)
    log = read_log(folder)
    assert "[6] offline -- playing the installed version" in log, log
    assert game_files(folder) == WITH_SAVE_A
    assert not (folder / UPDATE_FOLDER / "journal.txt").exists()
    assert world.run(folder).returncode == 0
    assert game_files(folder) == WITH_SAVE_B


def test_a_kept_file_that_cannot_come_back_at_once_comes_back_later(world):
    folder = world.fresh_install()
    # Cut once the save is in its kept place, then hold it there through the
    # first replay: everything else goes back, the save cannot yet.
    assert world.run(folder, env={"TW_TEST_CRASH_AT": "kept:1"}).returncode == 9
    assert (folder / KEPT).read_bytes() == SAVE_BYTES
    let_go = hold(folder / KEPT, "kept")
    try:
        assert world.run_offline(folder).returncode != 0
        assert (folder / UPDATE_FOLDER / "journal.txt").exists()
    finally:
        let_go()
    # The holder gone, the next start settles the journal with the save back.
    world.run_offline(folder)
    assert "[6] offline -- playing the installed version" in read_log(folder), read_log(folder)
    assert game_files(folder) == WITH_SAVE_A
    assert world.run(folder).returncode == 0
    assert game_files(folder) == WITH_SAVE_B


def test_a_dropped_file_the_player_turned_into_a_folder_keeps_their_files(tmp_path, update_server):
    a = {"tarnwick.exe": b"MZ A\n", "notes": b"the release's notes\n", "data/x.bin": b"x\n"}
    b = {"tarnwick.exe": b"MZ B\n", "data/x.bin": b"x\n"}
    own = {"notes/mine.txt": b"the player's notes\n", "notes/deep/more.txt": b"more of them\n"}
    folder = tmp_path / "install"
    publish(make_game(tmp_path / "a", a), update_server.root, version="A")
    assert run_launcher(folder, server_url=update_server.url).returncode == 0
    (folder / "notes").unlink()
    for rel, data in own.items():
        (folder / rel).parent.mkdir(parents=True, exist_ok=True)
        (folder / rel).write_bytes(data)
    publish(make_game(tmp_path / "b", b), update_server.root, version="B")
    assert run_launcher(folder, server_url=update_server.url).returncode == 0, read_log(folder)
    assert game_files(folder) == {**b, **own}


def test_an_update_folder_linked_elsewhere_is_never_emptied_through_the_link(tmp_path, update_server):
    # A player short of space links the update folder to another drive; the
    # commit removes the link, never what it points at.
    folder, elsewhere = tmp_path / "install", tmp_path / "another drive"
    publish(make_game(tmp_path / "a", A), update_server.root, version="A")
    assert run_launcher(folder, server_url=update_server.url).returncode == 0
    elsewhere.mkdir()
    (elsewhere / "theirs.txt").write_bytes(b"not the launcher's\n")
    (folder / UPDATE_FOLDER).symlink_to(elsewhere, target_is_directory=True)
    publish(make_game(tmp_path / "b", B), update_server.root, version="B")
    assert run_launcher(folder, server_url=update_server.url).returncode == 0, read_log(folder)
    assert game_files(folder) == B
    assert (elsewhere / "theirs.txt").read_bytes() == b"not the launcher's\n"
