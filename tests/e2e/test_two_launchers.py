"""Two launchers on one install folder at once (a double double-click): the
second touches nothing, the first installs the update alone. Also shows the
headless echo on a standard output that is a file."""
import time

from games import make_game, publish, random_bytes, tree
from launcher import LAUNCHER, read_log, run_launcher, start_wine, winpath


def test_second_launcher_leaves_the_folder_to_the_first(install_dir, update_server, tmp_path):
    old = {"tarnwick.exe": b"MZ one\n", "data/a.bin": random_bytes(20000, seed=3)}
    new = {"tarnwick.exe": b"MZ two\n", "data/a.bin": random_bytes(20000, seed=4), "data/b.txt": b"b" * 5000}
    publish(make_game(tmp_path / "src1", old), update_server.root, version="1.0.0")
    env = {"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": update_server.url}
    first = start_wine(LAUNCHER, ["--headless"], env=env)
    assert first.wait(timeout=300) == 0

    publish(make_game(tmp_path / "src2", new), update_server.root, version="2.0.0")
    # The run that gets the folder keeps it past the other's wait for a
    # launcher that is just ending.
    update_server.fault("manifest.json", delay=5)
    runs = []
    for offset in (0, 0.15):
        time.sleep(offset)
        out = open(tmp_path / f"out{len(runs)}.txt", "wb")
        runs.append((start_wine(LAUNCHER, ["--headless"], env=env, stdout=out), out))
    codes = [proc.wait(timeout=300) for proc, _ in runs]
    outputs = [(tmp_path / f"out{i}.txt").read_bytes().decode("utf-8", "replace") for i in range(2)]

    assert sorted(codes) == [0, 1], outputs
    winner, loser = (outputs[0], outputs[1]) if codes[0] == 0 else (outputs[1], outputs[0])
    assert loser.strip() == f"another launcher is working in {winpath(install_dir)} -- nothing done"
    assert "headless: done, phase 5" in winner   # echoed on a standard output that is a file
    assert tree(install_dir) == new
    log = read_log(install_dir)
    assert sum(line.startswith("tarnwick launcher v5") for line in log) == 1
    assert log[-1] == "headless: done, phase 5"


def test_a_lock_file_that_cannot_be_had_stops_the_launcher(install_dir, update_server, tmp_path):
    publish(make_game(tmp_path / "src", {"tarnwick.exe": b"MZ one\n"}), update_server.root, version="1.0.0")
    held = run_launcher(install_dir, server_url=update_server.url,
                        env={"TW_TEST_FILE_FAULT": "open|\\.twlock|1|32|0"})
    assert held.returncode == 1
    assert "another launcher is working in" in held.stdout.decode()
    assert tree(install_dir) == {}
