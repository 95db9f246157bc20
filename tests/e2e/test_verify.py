"""--verify under Wine: damage hidden behind a matching size and write time is
found and repaired through the journaled install, a cut during the repair
leaves the damaged or the repaired game, and without the server the check
only reports. The headless progress lines ride along on a slow download."""
import os
import random
import shutil
from pathlib import Path

from games import (SMALL_PIECE, STATE_FILE, UPDATE_FOLDER, make_game, piece_ids,
                   publish, random_bytes, tree)
from launcher import launcher_for, read_log, run_launcher, start_wine, winpath
from test_install_crash import game_files, journal_written, kill_at, kill_soon_after

VERIFY = ("--headless", "--verify")
GAME = {
    "tarnwick.exe": b"MZ not really a game\n" * 20,
    "data/big.bin": random_bytes(3 * SMALL_PIECE + 100, seed=31),
    "data/text.txt": b"the quick brown fox jumps over the lazy dog\n" * 400,
    "levels/one.lvl": b"level one\n" * 300,
    "empty.txt": b"",
}
FOUND = ["verify: 5 files checked, 2 damaged or missing", "verify: damaged data/big.bin",
         "verify: missing levels/one.lvl"]


def installed(folder, server, tmp_path):
    manifest = publish(make_game(tmp_path / "src", GAME), server.root)
    assert run_launcher(folder, server_url=server.url).returncode == 0
    return manifest


def damage(folder):
    """Flips a byte of data/big.bin and puts its write time back, so its
    record still matches; deletes levels/one.lvl."""
    path = Path(folder) / "data" / "big.bin"
    stat = os.stat(path)
    data = bytearray(path.read_bytes())
    data[SMALL_PIECE + 7] ^= 0xFF
    path.write_bytes(bytes(data))
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    (Path(folder) / "levels" / "one.lvl").unlink()


def identities(folder):
    """(inode, write time) per game file: a file moved or rewritten shows."""
    return {rel: (os.stat(folder / rel).st_ino, os.stat(folder / rel).st_mtime_ns)
            for rel in tree(folder)}


def chunks(server):
    return [path.rsplit("/", 1)[1] for path, _ in server.requests if "/chunks/" in path]


def progress(log):
    return [line for line in log if line.startswith("downloading: ")]


def test_verify_repairs_what_a_normal_run_trusts_and_leaves_intact_files_alone(
        install_dir, update_server, tmp_path):
    update_server.fault("chunks/*", delay=7.5)   # a first install slow enough for progress lines
    manifest = installed(install_dir, update_server, tmp_path)
    log = read_log(install_dir)
    assert progress(log) and all(line.startswith("downloading: 0.0 / 0.0 gb") for line in progress(log))
    assert log.index("[3] downloading the update (0 MB)") < log.index(progress(log)[0]) < \
        log.index("[4] installing")
    update_server.clear_faults()

    damage(install_dir)
    assert run_launcher(install_dir, server_url=update_server.url).returncode == 0
    assert game_files(install_dir)["data/big.bin"] != GAME["data/big.bin"]   # trusted the record

    (install_dir / "levels" / "one.lvl").unlink()   # the normal run restored it
    before = identities(install_dir)
    update_server.clear_log()
    assert run_launcher(install_dir, VERIFY, server_url=update_server.url).returncode == 0
    log = read_log(install_dir)
    at = log.index(FOUND[0])
    assert log[at:at + 3] == FOUND and log[at + 3].startswith("update to 1.0.0: 2 files out of date")
    assert tree(install_dir) == GAME and not progress(log)   # quick work prints none
    assert set(chunks(update_server)) <= set(piece_ids(manifest, "data/big.bin") +
                                             piece_ids(manifest, "levels/one.lvl"))
    after = identities(install_dir)
    intact = ("tarnwick.exe", "data/text.txt", "empty.txt")
    assert {p: after[p] for p in intact} == {p: before[p] for p in intact}

    update_server.clear_log()
    assert run_launcher(install_dir, VERIFY, server_url=update_server.url).returncode == 0
    log = read_log(install_dir)
    assert "verify: all 5 files intact" in log and "up to date: 1.0.0 (5 files, 5 of them hashed)" in log
    assert chunks(update_server) == [] and identities(install_dir) == after
    assert not (install_dir / UPDATE_FOLDER).exists()


def test_offline_verify_reports_against_the_saved_manifest_and_touches_nothing(
        install_dir, update_server, tmp_path):
    installed(install_dir, update_server, tmp_path)
    damage(install_dir)
    before, state = identities(install_dir), (install_dir / STATE_FILE).read_bytes()
    update_server.fault("manifest.sig", body=b"not a signature")   # the server's copy is refused
    update_server.clear_log()
    assert run_launcher(install_dir, VERIFY, server_url=update_server.url).returncode == 1
    log = read_log(install_dir)
    at = log.index(FOUND[0])
    assert log[at:at + 3] == FOUND
    assert log[-2:] == ["[6] offline -- playing the installed version", "headless: done, phase 6"]
    assert identities(install_dir) == before and (install_dir / STATE_FILE).read_bytes() == state
    assert not (install_dir / UPDATE_FOLDER).exists() and chunks(update_server) == []



def test_a_cut_during_the_repair_leaves_the_damaged_or_the_repaired_game(tmp_path, update_server):
    template = tmp_path / "template"
    installed(template, update_server, tmp_path)
    damage(template)
    damaged = game_files(template)
    rng = random.Random(20240612)
    cuts = ["journal-written", "moved-aside:1", "moved-in:2", "journal-deleted", "kill", "kill",
            "kill", "kill"]
    seen = set()
    for n, cut in enumerate(cuts):
        folder = tmp_path / f"install-{n}"
        shutil.copytree(template, folder, ignore=shutil.ignore_patterns("launcher.log"))
        env = {"TW_INSTALL_DIR": winpath(folder), "TW_UPDATE_URL": update_server.url}
        if cut != "kill":
            env["TW_TEST_CRASH_AT"] = cut
            assert run_launcher(folder, VERIFY, env=env).returncode == 9, cut
        elif n % 2:
            kill_soon_after(start_wine(launcher_for(env), VERIFY, env=env), journal_written(folder),
                            rng.uniform(0.0, 0.03))
        else:
            kill_at(start_wine(launcher_for(env), VERIFY, env=env), rng.uniform(0.5, 3.0))
        # A start that only replays (the signature is refused), then a repair.
        update_server.fault("manifest.sig", body=b"not a signature")
        run_launcher(folder, server_url=update_server.url)
        update_server.clear_fault("manifest.sig")
        left = game_files(folder)
        assert left in (damaged, GAME), f"{cut}: a mix of damaged and repaired files"
        seen.add("repaired" if left == GAME else "damaged")
        assert run_launcher(folder, VERIFY, server_url=update_server.url).returncode == 0
        assert game_files(folder) == GAME, f"{cut}: the next --verify did not repair"
    assert seen == {"damaged", "repaired"}
