"""A game whose files lie more than 300 characters below the drive: the test
launcher refuses, as Windows does, any path of 260 characters or more that
reaches the file system without the long prefix, so a call that skipped it
would fail here although Wine itself knows no such limit."""
import os
from pathlib import Path

from games import SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, publish, random_bytes, read_state, tree
from launcher import read_log, run_launcher, winpath

# Asks for the test launcher, with no fault and no trace.
TEST_BUILD = {"TW_TEST_FILE_FAULT": ""}
DEEP = "/".join(f"{'level' * 12}{n}" for n in range(4))   # 4 x 61 characters
DEEPEST = f"{DEEP}/the deepest file.bin"


def test_a_game_deeper_than_300_characters_installs_updates_and_verifies(tmp_path, update_server):
    folder = tmp_path / "install"
    assert len(winpath(folder / DEEPEST)) > 300
    a = {"tarnwick.exe": b"MZ long paths A\n", DEEPEST: random_bytes(3 * SMALL_PIECE + 9, seed=51),
         f"{DEEP}/gone.txt": b"only in A\n"}
    b = {"tarnwick.exe": b"MZ long paths B\n",
         DEEPEST: a[DEEPEST][:2 * SMALL_PIECE] + random_bytes(700, seed=52),   # reuses two pieces
         f"{DEEP}/deeper still/new.bin": random_bytes(2000, seed=53)}

    publish(make_game(tmp_path / "src-a", a), update_server.root, version="A")
    assert run_launcher(folder, server_url=update_server.url, env=TEST_BUILD).returncode == 0, read_log(folder)
    assert tree(folder) == a
    publish(make_game(tmp_path / "src-b", b), update_server.root, version="B")
    assert run_launcher(folder, server_url=update_server.url, env=TEST_BUILD).returncode == 0, read_log(folder)
    assert tree(folder) == b
    assert any(line.startswith("reused 2 pieces") for line in read_log(folder))

    # Damage behind a matching size and write time: only --verify finds it.
    deepest = folder / DEEPEST
    stat = os.stat(deepest)
    data = bytearray(deepest.read_bytes())
    data[5] ^= 0xFF
    deepest.write_bytes(bytes(data))
    os.utime(deepest, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    result = run_launcher(folder, ("--headless", "--verify"), server_url=update_server.url, env=TEST_BUILD)
    assert result.returncode == 0, read_log(folder)
    assert f"verify: damaged {DEEPEST}" in read_log(folder)
    assert tree(folder) == b

    # The launcher's own files beside the game: log, state, saved manifest.
    assert read_log(folder)[-1].startswith("headless: done")
    assert read_state(folder)["version"] == "B" and DEEPEST in read_state(folder)["files"]
    assert not (Path(folder) / UPDATE_FOLDER).exists() and (Path(folder) / STATE_FILE).exists()
