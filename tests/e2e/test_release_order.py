"""Release order: the publisher numbers each manifest one above the one in
its output folder, and a launcher that installed a numbered release keeps it
when the network serves an older signed one (last year's, replayed), even
when that one names a newer launcher. A studio rolls back by publishing the
old build again, under a new serial."""
from games import make_game, publish, random_bytes, tree
from launcher import WIN, read_log, run_launcher

NEXT_LAUNCHER = WIN / "v6" / "tarnwick.exe"
OLD = {"tarnwick.exe": b"MZ old\n", "data/a.bin": random_bytes(30000, seed=21)}
NEW = {"tarnwick.exe": b"MZ new\n", "data/a.bin": random_bytes(30000, seed=22)}


def test_an_older_signed_release_is_refused_and_a_republished_one_installs(install_dir, update_server, tmp_path):
    root = update_server.root
    old = publish(make_game(tmp_path / "old", OLD), root, version="1.0.0",
                  extra=["--launcher", str(NEXT_LAUNCHER), "--launcher-version", "6"])
    replay = {name: (root / name).read_bytes() for name in ("manifest.json", "manifest.sig")}
    assert old["serial"] == 1
    assert publish(make_game(tmp_path / "new", NEW), root, version="2.0.0")["serial"] == 2
    current = {name: (root / name).read_bytes() for name in replay}
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    assert tree(install_dir) == NEW

    for name, body in replay.items():
        (root / name).write_bytes(body)
    update_server.clear_log()
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 1
    log = read_log(install_dir)
    # The rule's line, the mirror's trouble, then the installed game as when offline.
    assert log[-4] == "the server offered an older release (serial 1, installed 2) -- kept the installed game", log
    assert log[-3].endswith(": manifest: it offers an older release"), log
    assert log[-2:] == ["[6] offline -- playing the installed version", "headless: done, phase 6"], log
    assert not any(line.startswith("manifest ") for line in log)   # nor any launcher hand-over
    assert all(path.startswith("/update/manifest.") for path, _ in update_server.requests)
    assert tree(install_dir) == NEW

    # The rollback: the old build published again (over the studio's current
    # release) is the newest release.
    for name, body in current.items():
        (root / name).write_bytes(body)
    assert publish(make_game(tmp_path / "old", OLD), root, version="1.0.0")["serial"] == 3
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    assert tree(install_dir) == OLD
    # A fresh server folder continues from the serial given.
    assert publish(make_game(tmp_path / "old", OLD), tmp_path / "fresh", extra=["--serial", "3"])["serial"] == 4


def test_a_lost_saved_manifest_never_lets_an_older_release_back(install_dir, update_server, tmp_path):
    root = update_server.root
    publish(make_game(tmp_path / "old", OLD), root, version="1.0.0")
    replay = {name: (root / name).read_bytes() for name in ("manifest.json", "manifest.sig")}
    publish(make_game(tmp_path / "new", NEW), root, version="2.0.0")
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    # A save of the pair cut between its two names (the new signature still in
    # its ".part") is finished by the next load: here an offline --verify.
    signature = install_dir / ".twmanifest.sig"
    signature.with_name(".twmanifest.sig.part").write_bytes(signature.read_bytes())
    signature.write_bytes(replay["manifest.sig"])
    update_server.fault("manifest.json", status=404)
    run_launcher(install_dir, args=("--headless", "--verify"), server_url=update_server.url)
    update_server.clear_fault("manifest.json")
    assert "verify: offline -- checking against the saved manifest of 2.0.0" in read_log(install_dir)
    assert signature.read_bytes() == (root / "manifest.sig").read_bytes()
    # The kept pair is gone (or damaged): the mark is not.
    signature.unlink()
    for name, body in replay.items():
        (root / name).write_bytes(body)
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 1
    assert "the server offered an older release (serial 1, installed 2) -- kept the installed game" in \
        read_log(install_dir)
    assert tree(install_dir) == NEW
