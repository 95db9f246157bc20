"""The launcher replacing itself under Wine: a manifest naming a newer launcher
makes the running one build it beside itself and hand over with --swap; the
new one copies itself over the old file and finishes the update. Also the runs
that keep the running launcher, and the swap against locked targets."""
import json
import shutil
import time

import pytest

from games import make_game, publish, random_bytes, read_manifest, tree
from launcher import LAUNCHER, WIN, read_log, run_wine, start_wine, wait_for_log, winpath
from test_update_engine import sign

NEXT_LAUNCHER = WIN / "v6" / "tarnwick.exe"
FAKE_GAME = WIN / "fake_game.exe"
UNREACHABLE = "http://127.0.0.1:9/update/"
GAME = {"tarnwick.exe": b"MZ not really a game\n", "data/level.bin": random_bytes(20000, seed=9)}


@pytest.fixture
def running(tmp_path):
    """A v5 launcher in a folder whose path has blanks."""
    exe = tmp_path / "my games" / "tarnwick launcher" / "tarnwick.exe"
    exe.parent.mkdir(parents=True)
    shutil.copyfile(LAUNCHER, exe)
    return exe


def publish_release(server, tmp_path, launcher=NEXT_LAUNCHER, version=6) -> dict:
    # Pieces of 512 KiB: a launcher of a few MB comes in several.
    return publish(make_game(tmp_path / "src", GAME), server.root, piece=512 * 1024,
                   extra=["--launcher", str(launcher), "--launcher-version", str(version)])


def run_from(exe, install_dir, server_url, args=("--headless",), env=None):
    extra = {"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": server_url, **(env or {})}
    return run_wine(exe, args, env=extra)


def launcher_requests(server, manifest) -> int:
    ids = {piece[0] for piece in manifest["launcher"]["c"]}
    return sum(1 for path, _ in server.requests if path.rsplit("/", 1)[-1] in ids)


def finished(version, exe):
    start = f"tarnwick launcher v{version} at {winpath(exe)},"
    return lambda lines: bool(lines) and lines[0].startswith(start) and \
        any(line.startswith("headless: done") for line in lines)


def test_headless_self_update_hands_over_to_v6_which_finishes_the_update(
        update_server, tmp_path, install_dir, running):
    manifest = publish_release(update_server, tmp_path)
    assert len(manifest["launcher"]["c"]) > 1
    assert run_from(running, install_dir, update_server.url).returncode == 0   # phase 9

    # The relaunched v6 runs headless from the old path and starts a new log.
    log = wait_for_log(install_dir, finished(6, running))
    assert running.read_bytes() == NEXT_LAUNCHER.read_bytes()
    assert not (running.parent / "tarnwick.new.exe").exists()
    assert log[-1] == "headless: done, phase 5"
    assert tree(install_dir) == GAME
    # v5 fetched each of the launcher's pieces once; v6 fetched none.
    assert launcher_requests(update_server, manifest) == len({p[0] for p in manifest["launcher"]["c"]})


def resign(server, tmp_path, change):
    manifest = read_manifest(server.root)
    change(manifest["launcher"])
    body = json.dumps(manifest).encode()
    (server.root / "manifest.json").write_bytes(body)
    (server.root / "manifest.sig").write_bytes(sign(body, tmp_path))


# case: (release, change to the launcher entry, arguments, line logged or None)
KEEPS_THE_RUNNING_LAUNCHER = {
    "same version": (dict(version=5), None, (), None),
    "switched off": (dict(), None, ("--no-self-update",), None),
    "no pieces": (dict(), lambda entry: entry.update(c=[]), (), None),
    "this very file": (dict(launcher=LAUNCHER), None, (),
                       "the manifest's launcher v6 is this very file -- nothing to swap"),
    "piece missing": (dict(), None, (), "piece {first}: failed (http 404)"),
    "wrong hash": (dict(), lambda entry: entry.update(h="0" * 64), (),
                   "the new launcher did not check out -- keeping this one"),
}


@pytest.mark.parametrize("case", KEEPS_THE_RUNNING_LAUNCHER)
def test_runs_that_keep_the_running_launcher_go_on_with_the_game(
        case, update_server, tmp_path, install_dir, running):
    release, change, args, expected = KEEPS_THE_RUNNING_LAUNCHER[case]
    manifest = publish_release(update_server, tmp_path, **release)
    if change:
        resign(update_server, tmp_path, change)
    first = manifest["launcher"]["c"][0][0]
    if case == "piece missing":
        update_server.fault(f"chunks/{first[:2]}/{first}", status=404)

    assert run_from(running, install_dir, update_server.url, ("--headless", *args)).returncode == 0

    log = read_log(install_dir)
    assert log[-1] == "headless: done, phase 5"
    assert tree(install_dir) == GAME
    assert running.read_bytes() == LAUNCHER.read_bytes()
    assert [p.name for p in running.parent.iterdir()] == ["tarnwick.exe"]
    assert ("[9] updating the launcher" in log) == (expected is not None and case != "this very file")
    if expected:
        assert expected.format(first=first) in log
    else:
        assert launcher_requests(update_server, manifest) == 0


def wait_for(path, timeout=30):
    deadline = time.monotonic() + timeout
    while not path.exists():
        assert time.monotonic() < deadline, f"{path.name} never appeared"
        time.sleep(0.05)


def test_swap_retries_while_the_old_file_is_locked(tmp_path, install_dir):
    target = tmp_path / "old launcher" / "tarnwick.exe"
    target.parent.mkdir()
    target.write_bytes(b"the old launcher")
    new = target.parent / "tarnwick.new.exe"   # the swap runs beside its target
    shutil.copyfile(NEXT_LAUNCHER, new)
    ready = tmp_path / "locked"
    locker = start_wine(WIN / "file_locker.exe", [winpath(target), "--ready", winpath(ready), "--seconds", "3"])
    wait_for(ready)

    result = run_from(new, install_dir, UNREACHABLE, ("--swap", winpath(target), "0", "--headless"))

    assert result.returncode == 0
    assert locker.wait(timeout=30) == 0
    assert target.read_bytes() == NEXT_LAUNCHER.read_bytes()
    # relaunched headless from the target: no self-install, an update run
    assert wait_for_log(install_dir, finished(6, target))[-1] == "headless: done, phase 8"
    assert [p.name for p in target.parent.iterdir()] == ["tarnwick.exe"]


def test_swap_gives_up_on_a_running_target_and_starts_it_again_unchanged(tmp_path, install_dir):
    # A running program's file cannot be replaced: an old launcher that never ends.
    target = tmp_path / "old launcher" / "tarnwick.exe"
    target.parent.mkdir()
    shutil.copyfile(FAKE_GAME, target)
    new = target.parent / "tarnwick.new.exe"
    shutil.copyfile(NEXT_LAUNCHER, new)
    keep_running, first, again = tmp_path / "keep running", tmp_path / "first.txt", tmp_path / "again.txt"
    keep_running.write_bytes(b"")
    old = start_wine(target, ["--out", winpath(first), "--until-gone", winpath(keep_running)])
    try:
        wait_for(first)
        started = time.monotonic()
        result = run_from(new, install_dir, UNREACHABLE, ("--swap", winpath(target), "0"),
                          env={"FAKE_GAME_OUT": winpath(again)})
        took = time.monotonic() - started
    finally:
        keep_running.unlink()
        old.wait(timeout=30)

    assert result.returncode == 1
    assert took >= 9.5   # forty attempts, a quarter of a second apart
    assert target.read_bytes() == FAKE_GAME.read_bytes()
    wait_for(again)
    # Started again, kept from finding the newer launcher and handing over again.
    assert again.read_text().splitlines()[0] == f'"{winpath(target)}" --no-self-update'


def test_swap_copies_itself_only_over_a_launcher_beside_it(tmp_path, install_dir):
    folder = tmp_path / "launcher"
    folder.mkdir()
    new = folder / "tarnwick.new.exe"
    shutil.copyfile(NEXT_LAUNCHER, new)
    elsewhere = tmp_path / "other" / "tarnwick.exe"
    elsewhere.parent.mkdir()
    for target in (elsewhere, folder / "notes.exe"):
        target.write_bytes(b"not to be replaced")
        result = run_from(new, install_dir, UNREACHABLE, ("--swap", winpath(target), "0"))
        assert result.returncode == 2, target
        assert target.read_bytes() == b"not to be replaced"
    assert sorted(p.name for p in folder.iterdir()) == ["notes.exe", "tarnwick.new.exe"]
