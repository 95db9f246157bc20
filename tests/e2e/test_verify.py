"""--verify under Wine: every installed file is hashed, damage that the
install state's size and write time hide is found and repaired through the
journaled install, and a cut during the repair leaves the damaged or the
repaired state. Also the headless progress lines."""
import os
import random
import shutil
from pathlib import Path

from games import (SAVED_MANIFEST, SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, piece_ids, publish,
                   random_bytes, tree)
from launcher import launcher_for, read_log, run_launcher, start_wine, winpath
from test_install_crash import (game_files, install_step_started, journal_written, kill_at,
                                kill_soon_after)

VERIFY = ("--headless", "--verify")
NO_SAVED_MANIFEST = "verify: no signed manifest kept from an earlier install -- nothing to check against"


def game():
    return {
        "tarnwick.exe": b"MZ not really a game\n" * 20,
        "data/big.bin": random_bytes(3 * SMALL_PIECE + 100, seed=31),
        "data/text.txt": b"the quick brown fox jumps over the lazy dog\n" * 400,
        "levels/one.lvl": b"level one\n" * 300,
        "empty.txt": b"",
    }


def damage_in_place(path, offset=10):
    """Flips a byte and puts the write time back: size and time still match
    the install state's record."""
    stat = os.stat(path)
    data = bytearray(Path(path).read_bytes())
    data[offset] ^= 0xFF
    Path(path).write_bytes(bytes(data))
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))


def identities(folder):
    """(inode, write time) of every game file: a file moved or rewritten shows."""
    return {rel: (os.stat(Path(folder) / rel).st_ino, os.stat(Path(folder) / rel).st_mtime_ns)
            for rel in tree(folder)}


def chunk_requests(server):
    return [path.rsplit("/", 1)[1] for path, _ in server.requests if "/chunks/" in path]


def progress_lines(log):
    return [line for line in log
            if line.startswith(("downloading: ", "checking the installed files: "))]


def test_verify_repairs_what_a_normal_run_trusts_and_leaves_intact_files_alone(
        install_dir, update_server, tmp_path):
    files = game()
    manifest = publish(make_game(tmp_path / "src", files), update_server.root)
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    assert not progress_lines(read_log(install_dir)), "a short run prints no progress"

    damage_in_place(install_dir / "data" / "big.bin", offset=SMALL_PIECE + 7)
    update_server.clear_log()
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    assert "up to date: 1.0.0 (5 files, 0 of them hashed)" in read_log(install_dir)
    assert tree(install_dir) != files

    (install_dir / "levels" / "one.lvl").unlink()
    before = identities(install_dir)
    result = run_launcher(install_dir, VERIFY, server_url=update_server.url)
    log = read_log(install_dir)
    assert result.returncode == 0, log
    assert tree(install_dir) == files
    summary = log.index("verify: 5 files checked, 2 damaged or missing")
    assert log[summary + 1:summary + 3] == ["verify: damaged data/big.bin",
                                            "verify: missing levels/one.lvl"]
    assert log[summary + 3].startswith("update to 1.0.0: 2 files out of date")
    repaired = set(piece_ids(manifest, "data/big.bin") + piece_ids(manifest, "levels/one.lvl"))
    assert set(chunk_requests(update_server)) <= repaired
    after = identities(install_dir)
    for rel in ("tarnwick.exe", "data/text.txt", "empty.txt"):
        assert after[rel] == before[rel], f"{rel} was intact and must not be touched"

    # Now intact: nothing is fetched, moved or rewritten.
    update_server.clear_log()
    before = identities(install_dir)
    assert run_launcher(install_dir, VERIFY, server_url=update_server.url).returncode == 0
    log = read_log(install_dir)
    assert "verify: all 5 files intact" in log
    assert "up to date: 1.0.0 (5 files, 5 of them hashed)" in log
    assert chunk_requests(update_server) == []
    assert identities(install_dir) == before
    assert not (install_dir / UPDATE_FOLDER).exists()


def test_headless_download_prints_progress_every_five_seconds(install_dir, update_server, tmp_path):
    publish(make_game(tmp_path / "src", game()), update_server.root)
    update_server.fault("chunks/*", delay=7.5)
    result = run_launcher(install_dir, server_url=update_server.url)
    log = read_log(install_dir)
    assert result.returncode == 0, log
    lines = progress_lines(log)
    assert lines and all(line.startswith("downloading: 0.0 / 0.0 gb") for line in lines), log
    assert log.index("[3] downloading the update (0 MB)") < log.index(lines[0]) < \
        log.index("[4] installing")


# ---------------------------------------------------------------- cuts during a repair

def replay_only(folder, server):
    """A start that replays a left-over journal and then plays offline: the
    signature is refused, so nothing else happens."""
    server.fault("manifest.sig", body=b"not a signature")
    try:
        return run_launcher(folder, server_url=server.url)
    finally:
        server.clear_fault("manifest.sig")


def test_a_cut_during_the_repair_leaves_the_damaged_or_the_repaired_game(tmp_path, update_server):
    """Cuts at named points of the install step and random kills: after the
    replay the folder holds the damaged game or the repaired one, never a mix,
    and the next --verify repairs it."""
    files = game()
    publish(make_game(tmp_path / "src", files), update_server.root)
    template = tmp_path / "template"
    assert run_launcher(template, server_url=update_server.url).returncode == 0
    damage_in_place(template / "data" / "text.txt")
    damage_in_place(template / "data" / "big.bin", offset=2 * SMALL_PIECE)
    (template / "levels" / "one.lvl").unlink()
    damaged = tree(template)

    cuts = [f"crash at {point}" for point in
            ("journal-written", "moved-aside:1", "moved-in:2", "journal-deleted", "state-written")]
    rng = random.Random(20240612)
    cuts += [rng.choice(("kill after the journal", "kill in the install step", "kill at random"))
             for _ in range(4)]
    seen = set()
    for n, cut in enumerate(cuts):
        folder = tmp_path / f"install-{n}"
        shutil.copytree(template, folder, ignore=shutil.ignore_patterns("launcher.log"))
        env = {"TW_INSTALL_DIR": winpath(folder), "TW_UPDATE_URL": update_server.url}
        if cut.startswith("crash at "):
            env["TW_TEST_CRASH_AT"] = cut[len("crash at "):]
            assert run_launcher(folder, VERIFY, server_url=update_server.url,
                                env=env).returncode == 9, cut
        else:
            proc = start_wine(launcher_for(env), VERIFY, env=env)
            if cut == "kill after the journal":
                kill_soon_after(proc, journal_written(folder), rng.uniform(0.0, 0.03))
            elif cut == "kill in the install step":
                kill_soon_after(proc, install_step_started(folder), rng.uniform(0.0, 0.05))
            else:
                kill_at(proc, rng.uniform(0.5, 3.0))
        replay_only(folder, update_server)
        left = game_files(folder)
        assert left in (damaged, files), f"{cut}: a mix of damaged and repaired files"
        seen.add("repaired" if left == files else "damaged")
        result = run_launcher(folder, VERIFY, server_url=update_server.url)
        assert result.returncode == 0, read_log(folder)
        assert game_files(folder) == files, f"{cut}: the next --verify did not repair"
    assert seen == {"damaged", "repaired"}


# ---------------------------------------------------------------- offline

def test_offline_verify_reports_against_the_saved_manifest_and_touches_nothing(
        install_dir, update_server, tmp_path):
    publish(make_game(tmp_path / "src", game()), update_server.root)
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    damage_in_place(install_dir / "data" / "text.txt")
    (install_dir / "levels" / "one.lvl").unlink()
    before = identities(install_dir)
    state = (install_dir / STATE_FILE).read_bytes()
    update_server.fault("manifest.sig", body=b"not a signature")   # the server's copy is refused
    update_server.clear_log()

    result = run_launcher(install_dir, VERIFY, server_url=update_server.url)
    log = read_log(install_dir)
    assert result.returncode == 1, log   # offline is not a successful update
    summary = log.index("verify: 5 files checked, 2 damaged or missing")
    assert log[summary + 1:summary + 3] == ["verify: damaged data/text.txt",
                                            "verify: missing levels/one.lvl"]
    assert log[-2:] == ["[6] offline -- playing the installed version", "headless: done, phase 6"]
    assert identities(install_dir) == before
    assert (install_dir / STATE_FILE).read_bytes() == state
    assert not (install_dir / UPDATE_FOLDER).exists()
    assert chunk_requests(update_server) == []

    # A saved manifest that no longer matches its signature is not used.
    saved = install_dir / SAVED_MANIFEST[0]
    saved.write_bytes(saved.read_bytes().replace(b"text.txt", b"text.txu"))
    run_launcher(install_dir, VERIFY, server_url=update_server.url)
    log = read_log(install_dir)
    assert not [line for line in log if line.startswith("verify: 5")], log
    assert NO_SAVED_MANIFEST in log
