"""One update run end to end under Wine: manifest check, planning, piece
download and assembly, install, and the offline fallbacks, against the test
update server with games published by tarnwick-publish."""
import os
import subprocess
import time
from pathlib import Path

import pytest

from games import (SMALL_PIECE, UPDATE_FOLDER, make_game, piece_file, piece_ids, piece_path,
                   publish, random_bytes, read_manifest, read_state, sha256, touch_later, tree)
from launcher import PRIVATE_KEY, read_log, run_launcher, winpath
from update_server import UpdateServer

UNREACHABLE = "http://127.0.0.1:9/update/"
CANT_REACH = ("[8] can't reach updates.tarnwick.example -- check the connection and open the "
              "launcher again")
DOWNLOAD_FAILED = "[8] the download failed -- check the connection and open the launcher again"
OFFLINE = "[6] offline -- playing the installed version"


def base_game():
    return {
        "tarnwick.exe": b"MZ not really a game\n",
        "data/random.bin": random_bytes(3 * SMALL_PIECE + 100, seed=1),   # stored pieces
        "data/text.txt": b"the quick brown fox jumps over the lazy dog\n" * 400,   # compressed
        "empty.txt": b"",
    }


class Release:
    """Publishes versions of a game into the test server's folder."""

    def __init__(self, server, tmp_path):
        self.server = server
        self.tmp = tmp_path
        self.manifest = None

    def publish(self, files, version="1.0.0", **kwargs):
        src = make_game(self.tmp / f"src-{version}", files)
        self.manifest = publish(src, self.server.root, version=version, **kwargs)
        self.files = files
        return self.manifest

    def chunk_requests(self):
        """Request counts per piece id, from the server's log."""
        counts = {}
        for path, _ in self.server.requests:
            if "/chunks/" in path:
                piece = path.rsplit("/", 1)[1]
                counts[piece] = counts.get(piece, 0) + 1
        return counts


@pytest.fixture
def release(update_server, tmp_path):
    return Release(update_server, tmp_path)


def run(install_dir, server, env=None):
    return run_launcher(install_dir, server_url=server.url, env=env)


def stale_pieces(manifest, paths):
    ids = []
    for path in paths:
        ids += [i for i in piece_ids(manifest, path) if i not in ids]
    return ids


def format_size(n):
    return "%.0f MB" % (n / 1048576) if n < 1 << 30 else "%.2f GB" % (n / (1 << 30))


def raw_signature(der: bytes) -> bytes:
    """r || s, 32 bytes each, from an ECDSA signature in DER."""
    assert der[0] == 0x30
    at = 2
    parts = []
    for _ in range(2):
        assert der[at] == 0x02
        length = der[at + 1]
        value = der[at + 2:at + 2 + length].lstrip(b"\0")
        parts.append(value.rjust(32, b"\0"))
        at += 2 + length
    return b"".join(parts)


def sign(data: bytes, tmp_path) -> bytes:
    message = tmp_path / "to-sign"
    message.write_bytes(data)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(PRIVATE_KEY), str(message)],
                         capture_output=True, check=True).stdout
    return raw_signature(der)


# ---------------------------------------------------------------- installing

def test_first_install_then_up_to_date_without_hashing(install_dir, update_server, release):
    manifest = release.publish(base_game(), version="1.0.0")
    result = run(install_dir, update_server)
    assert result.returncode == 0, read_log(install_dir)
    assert tree(install_dir) == release.files
    assert not (install_dir / UPDATE_FOLDER).exists()
    log = read_log(install_dir)
    assert "manifest 1.0.0 (build b-1.0.0), 4 files, launcher v0 (this is v5)" in log
    pieces = stale_pieces(manifest, [f["p"] for f in manifest["files"]])
    assert f"update to 1.0.0: 4 files out of date, {len(pieces)} pieces, 0 MB to download" in log
    assert "[3] downloading the update (0 MB)" in log
    assert log.index("[2] checking the installed files") < log.index("[4] installing")
    assert log[-2:] == ["[5] ready", "headless: done, phase 5"]
    assert release.chunk_requests() == {piece: 1 for piece in pieces}

    state = read_state(install_dir)
    assert state["version"] == "1.0.0"
    assert state["run"]["exe"] == "tarnwick.exe"
    assert sorted(state["files"]) == sorted(release.files)
    for path, data in release.files.items():
        assert state["files"][path][0] == len(data)
        assert state["files"][path][2] == sha256(data)

    update_server.clear_log()
    again = run(install_dir, update_server)
    assert again.returncode == 0
    log = read_log(install_dir)
    assert "up to date: 1.0.0 (4 files, 0 of them hashed)" in log
    assert not any(line.startswith("[3]") for line in log)
    assert release.chunk_requests() == {}
    # the manifest and its signature, with one cache-defeating query
    requested = [path for path, _ in update_server.requests]
    assert len(requested) == 2
    assert requested[0].startswith("/update/manifest.json?t=")
    assert requested[1] == requested[0].replace("manifest.json", "manifest.sig")


def test_update_fetches_only_changed_pieces_and_removes_dropped_files(install_dir, update_server,
                                                                      release):
    v1 = base_game()
    v1["old/dropped.dat"] = b"no longer shipped"
    first = release.publish(v1, version="1.0.0")
    assert run(install_dir, update_server).returncode == 0

    v2 = dict(v1)
    del v2["old/dropped.dat"]
    changed = bytearray(v1["data/random.bin"])
    changed[SMALL_PIECE + 5] ^= 0xFF   # only the second piece changes
    v2["data/random.bin"] = bytes(changed)
    v2["new/file.bin"] = random_bytes(1000, seed=2)
    manifest = release.publish(v2, version="2.0.0")
    update_server.clear_log()

    result = run(install_dir, update_server)
    assert result.returncode == 0, read_log(install_dir)
    assert tree(install_dir) == v2
    assert not (install_dir / "old" / "dropped.dat").exists()
    log = read_log(install_dir)
    # the unchanged pieces of the changed file come from the installed copy
    pieces = stale_pieces(manifest, ["data/random.bin", "new/file.bin"])
    fetched = [p for p in pieces if p not in piece_ids(first)]
    assert (f"update to 2.0.0: 2 files out of date, {len(fetched)} pieces, 0 MB to download"
            in log)
    assert (f"reused {len(pieces) - len(fetched)} pieces (0 MB) from the installed files; "
            "pieces read that did not match: 0") in log
    assert release.chunk_requests() == {piece: 1 for piece in fetched}
    state = read_state(install_dir)
    assert state["version"] == "2.0.0"
    assert "old/dropped.dat" not in state["files"]
    assert state["files"]["new/file.bin"][2] == sha256(v2["new/file.bin"])


def test_reuse_trusts_neither_a_changed_file_nor_a_saved_manifest_that_does_not_verify(
        install_dir, update_server, release):
    v1 = base_game()
    release.publish(v1, version="1.0.0")
    assert run(install_dir, update_server).returncode == 0

    # Behind the launcher's back the first piece of the installed file
    # changes (same size); the new release keeps its pieces and adds a tail.
    target = install_dir / "data" / "random.bin"
    data = bytearray(target.read_bytes())
    data[7] ^= 0xFF
    target.write_bytes(bytes(data))
    v2 = dict(v1, **{"data/random.bin": v1["data/random.bin"] + b"tail"})
    ids = piece_ids(release.publish(v2, version="2.0.0"), "data/random.bin")
    update_server.clear_log()
    assert run(install_dir, update_server).returncode == 0, read_log(install_dir)
    assert tree(install_dir) == v2
    assert release.chunk_requests() == {ids[0]: 1, ids[-1]: 1}   # the changed bytes were refused
    assert ("reused 2 pieces (0 MB) from the installed files; pieces read that did not match: 1"
            in read_log(install_dir))

    # A saved manifest whose signature does not verify is not used at all.
    signature = install_dir / ".twmanifest.sig"
    signature.write_bytes(bytes([signature.read_bytes()[0] ^ 1]) + signature.read_bytes()[1:])
    v3 = dict(v2, **{"data/random.bin": v2["data/random.bin"] + b"more"})
    ids = piece_ids(release.publish(v3, version="3.0.0"), "data/random.bin")
    update_server.clear_log()
    assert run(install_dir, update_server).returncode == 0, read_log(install_dir)
    assert tree(install_dir) == v3
    assert release.chunk_requests() == {piece: 1 for piece in ids}
    log = read_log(install_dir)
    assert "the saved manifest's signature does not verify -- ignoring it" in log
    assert not any(line.startswith("reused ") for line in log)


def test_version_change_with_same_files_rewrites_the_state_only(install_dir, update_server,
                                                                release):
    release.publish(base_game(), version="1.0.0")
    assert run(install_dir, update_server).returncode == 0
    release.publish(base_game(), version="1.0.1", args="--windowed")
    update_server.clear_log()
    assert run(install_dir, update_server).returncode == 0
    assert "up to date: 1.0.1 (4 files, 0 of them hashed)" in read_log(install_dir)
    state = read_state(install_dir)
    assert state["version"] == "1.0.1"
    assert state["run"]["args"] == "--windowed"
    assert release.chunk_requests() == {}


def test_touched_file_is_hashed_once_then_skipped(install_dir, update_server, release):
    release.publish(base_game())
    assert run(install_dir, update_server).returncode == 0
    touch_later(install_dir / "data" / "random.bin")
    update_server.clear_log()

    assert run(install_dir, update_server).returncode == 0
    assert "up to date: 1.0.0 (4 files, 1 of them hashed)" in read_log(install_dir)
    assert run(install_dir, update_server).returncode == 0
    assert "up to date: 1.0.0 (4 files, 0 of them hashed)" in read_log(install_dir)
    assert release.chunk_requests() == {}


def test_locally_changed_file_is_repaired(install_dir, update_server, release):
    release.publish(base_game())
    assert run(install_dir, update_server).returncode == 0
    target = install_dir / "data" / "text.txt"
    data = bytearray(target.read_bytes())
    data[10] ^= 1   # same size, new time: hashed and found different
    target.write_bytes(bytes(data))
    update_server.clear_log()

    assert run(install_dir, update_server).returncode == 0
    assert tree(install_dir) == release.files
    assert any(line.startswith("update to 1.0.0: 1 files out of date") for line in
               read_log(install_dir))


def test_cache_folders_are_left_to_the_game(install_dir, update_server, release):
    v1 = base_game()
    v1.update({
        ".shadercache/s.bin": b"shipped shaders",
        "py/__pycache__/m.pyc": b"shipped bytecode",
        "py/__pycache__/gone.pyc": b"dropped later, but a cache file",
        "__pycachex/y.pyc": b"an ordinary file",
    })
    release.publish(v1, version="1.0.0")
    assert run(install_dir, update_server).returncode == 0

    (install_dir / ".shadercache" / "s.bin").write_bytes(b"shaders this machine compiled")
    (install_dir / "py" / "__pycache__" / "m.pyc").unlink()
    v2 = dict(v1)
    del v2["py/__pycache__/gone.pyc"]
    del v2["__pycachex/y.pyc"]
    release.publish(v2, version="2.0.0")
    update_server.clear_log()

    assert run(install_dir, update_server).returncode == 0, read_log(install_dir)
    log = read_log(install_dir)
    # only the missing cache file is fetched; the present one is not hashed
    assert any(line.startswith("update to 2.0.0: 1 files out of date") for line in log)
    assert (install_dir / ".shadercache" / "s.bin").read_bytes() == b"shaders this machine compiled"
    assert (install_dir / "py" / "__pycache__" / "m.pyc").read_bytes() == b"shipped bytecode"
    assert (install_dir / "py" / "__pycache__" / "gone.pyc").exists()
    assert not (install_dir / "__pycachex" / "y.pyc").exists()
    assert run(install_dir, update_server).returncode == 0
    assert "up to date: 2.0.0 (6 files, 0 of them hashed)" in read_log(install_dir)


def test_not_enough_disk_space_stops_before_downloading(install_dir, update_server, release):
    manifest = release.publish(base_game())
    needed = sum(p[1] for p in {tuple(p) for f in manifest["files"] for p in f["c"]})
    needed += 2 * sum(len(d) for d in release.files.values())
    result = run(install_dir, update_server, env={"TW_TEST_FREE_BYTES": needed - 1})
    assert result.returncode == 1
    log = read_log(install_dir)
    assert (f"[8] not enough disk space: the update needs {format_size(needed)} free in {winpath(install_dir)}, "
            f"which has {format_size(needed - 1)}") in log
    assert release.chunk_requests() == {}
    assert tree(install_dir) == {}

    enough = run(install_dir, update_server, env={"TW_TEST_FREE_BYTES": needed})
    assert enough.returncode == 0


def test_shared_pieces_are_fetched_once(install_dir, update_server, release):
    block = random_bytes(SMALL_PIECE, seed=7)
    files = {
        "tarnwick.exe": b"exe",
        "a.bin": block * 2,            # one piece twice
        "b.bin": block + b"tail",      # the same piece again, in another file
        "copy/a.bin": block * 2,
    }
    manifest = release.publish(files)
    assert piece_ids(manifest, "a.bin") == [sha256(block)] * 2
    assert run(install_dir, update_server).returncode == 0
    assert tree(install_dir) == files
    counts = release.chunk_requests()
    assert counts[sha256(block)] == 1
    assert set(counts.values()) == {1}
    assert "4 files out of date, 3 pieces" in "\n".join(read_log(install_dir))


def test_largest_pieces_are_requested_first(install_dir, update_server, release):
    # 20 single-piece files of distinct sizes; every piece request takes a
    # while, so the twelve threads hold the first twelve jobs together.
    files = {f"f{i:02}.bin": random_bytes(200 + 97 * i, seed=100 + i) for i in range(20)}
    files["tarnwick.exe"] = b"x"
    manifest = release.publish(files)
    update_server.fault("chunks/*", delay=0.5)
    assert run(install_dir, update_server).returncode == 0
    by_size = sorted(((p[1], p[0]) for f in manifest["files"] for p in f["c"]), reverse=True)
    requested = [path.rsplit("/", 1)[1] for path, _ in update_server.requests if "/chunks/" in path]
    assert len(requested) == 21
    assert set(requested[:12]) == {piece for _, piece in by_size[:12]}
    assert set(requested[12:]) == {piece for _, piece in by_size[12:]}


# ---------------------------------------------------------------- offline

def install_fake_game(install_dir, with_state):
    install_dir.mkdir(parents=True, exist_ok=True)
    if with_state:
        (install_dir / ".twinstall.json").write_bytes(
            b'{"version":"0.9","run":{"exe":"","args":""},"files":{}}')
    else:
        (install_dir / "tarnwick.exe").write_bytes(b"installed by hand")


def break_server(how, server, release, tmp_path):
    """Leaves the server unusable in one of four ways; returns its URL."""
    if how == "no server":
        return UNREACHABLE
    release.publish(base_game())
    if how == "missing signature":
        (Path(server.root) / "manifest.sig").unlink()
    elif how == "bad signature":
        signature = bytearray((Path(server.root) / "manifest.sig").read_bytes())
        signature[5] ^= 1
        (Path(server.root) / "manifest.sig").write_bytes(bytes(signature))
    elif how == "unreadable manifest":
        body = b'{"format":1,"version":"2","files":[]}'   # signed, but names no file
        (Path(server.root) / "manifest.json").write_bytes(body)
        (Path(server.root) / "manifest.sig").write_bytes(sign(body, tmp_path))
    return server.url


REASONS = {
    "no server": None,
    "missing signature": None,
    "bad signature": "the manifest's signature does NOT verify -- refusing it",
    "unreadable manifest": "the manifest would not read",
}


@pytest.mark.parametrize("how", list(REASONS))
@pytest.mark.parametrize("installed", ["state file", "game exe", "nothing"])
def test_offline_fallbacks(how, installed, install_dir, update_server, release, tmp_path):
    if installed != "nothing":
        install_fake_game(install_dir, with_state=installed == "state file")
    url = break_server(how, update_server, release, tmp_path)
    result = run_launcher(install_dir, server_url=url)
    assert result.returncode == 1   # headless counts only phases 5 and 9 as success
    log = read_log(install_dir)
    expected = OFFLINE if installed != "nothing" else CANT_REACH
    assert log[-2:] == [expected, f"headless: done, phase {expected[1]}"]
    if REASONS[how]:
        assert REASONS[how] in log
    if how == "unreadable manifest":   # the rule, on the line before
        assert log[log.index(REASONS[how]) - 1] == "the manifest was refused (no_files)"
    assert not any(line.startswith("manifest ") for line in log)
    assert release.chunk_requests() == {}
    if how == "missing signature":
        assert update_server.count("manifest.sig") == 3   # retried: no status asked for


@pytest.mark.parametrize("default_exe", [False, True])
def test_state_file_naming_a_program_outside_the_folder_is_refused(default_exe, install_dir):
    """Offline, the game is started from the state file alone: one whose exe
    could leave the install folder is read as no state at all, so the game
    counts as installed only through the default executable, which is then
    the one played."""
    install_dir.mkdir(parents=True)
    (install_dir / ".twinstall.json").write_bytes(
        b'{"version":"0.9","run":{"exe":"C:\\\\windows\\\\system32\\\\cmd.exe","args":"/c x"},"files":{}}')
    if default_exe:
        (install_dir / "tarnwick.exe").write_bytes(b"installed by hand")
    assert run_launcher(install_dir, server_url=UNREACHABLE).returncode == 1
    log = read_log(install_dir)
    assert "the install state was refused (unsafe_run_exe) -- read as empty" in log
    expected = OFFLINE if default_exe else CANT_REACH
    assert log[-2:] == [expected, f"headless: done, phase {expected[1]}"]


def test_refused_requests_say_why_in_the_log(install_dir, update_server, release, tmp_path):
    """An oversized signature is cut off unread; a server whose TLS certificate
    this system does not trust is named as such."""
    release.publish(base_game())
    signature = Path(update_server.root) / "manifest.sig"
    signature.write_bytes(signature.read_bytes() + b"!")
    assert run(install_dir, update_server).returncode == 1
    assert any(line.startswith("request manifest.sig?t=") and
               line.endswith("failed after 1 attempt: the body is larger than 64 bytes")
               for line in read_log(install_dir)), read_log(install_dir)

    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", str(key), "-out", str(cert), "-days", "2",
                    "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    with UpdateServer(update_server.root, tls=(cert, key)) as tls_server:
        assert run(install_dir, tls_server).returncode == 1
        deadline = time.monotonic() + 5   # the server may still be reading the probe
        while not tls_server.request_log and time.monotonic() < deadline:
            time.sleep(0.05)
        reached = tls_server.request_log
    failures = [line for line in read_log(install_dir) if line.startswith("request manifest.json?t=")]
    assert len(failures) == 1 and "failed after 3 attempts" in failures[0], read_log(install_dir)
    assert "certificate is not one this system trusts" in failures[0]
    # Only the probe passed the handshake, and it told the unproven server
    # nothing of the real request: no path of ours, no agent, no cookies, no
    # credentials.
    assert [(r.method, r.path) for r in reached] == [("HEAD", "/")]
    headers = {name.lower() for name in reached[0].headers}
    assert not headers & {"user-agent", "cookie", "authorization", "proxy-authorization", "referer"}, headers


# ---------------------------------------------------------------- piece failures

def test_missing_piece_fails_after_one_request(install_dir, update_server, release):
    manifest = release.publish(base_game())
    bad = piece_ids(manifest, "data/random.bin")[1]
    update_server.fault(piece_path(bad), status=404)
    result = run(install_dir, update_server)
    assert result.returncode == 1
    log = read_log(install_dir)
    assert log.index(f"request {piece_path(bad)} failed after 1 attempt: http 404") \
        < log.index(f"piece {bad}: failed (http 404)")
    assert log[-2:] == [DOWNLOAD_FAILED, "headless: done, phase 8"]
    assert update_server.count(piece_path(bad)) == 1
    assert tree(install_dir) == {}   # nothing of the game was touched


def test_connection_dropped_twice_then_served(install_dir, update_server, release):
    manifest = release.publish(base_game())
    flaky = piece_ids(manifest, "data/text.txt")[0]
    update_server.fault(piece_path(flaky), drop=2)
    result = run(install_dir, update_server)
    assert result.returncode == 0, read_log(install_dir)
    times = update_server.requests_for(piece_path(flaky))
    assert len(times) == 3
    assert times[1] - times[0] >= 0.35 and times[2] - times[1] >= 0.75
    assert tree(install_dir) == release.files


def piece_entry(manifest, path, k):
    for entry in manifest["files"]:
        if entry["p"] == path:
            return entry["c"][k]
    raise KeyError(path)


def test_stored_piece_one_byte_too_long_fails_with_status_200(install_dir, update_server,
                                                             release):
    manifest = release.publish(base_game())
    piece_id, _, stored = piece_entry(manifest, "data/random.bin", 0)
    assert stored == 1
    body = piece_file(update_server.root, piece_id).read_bytes() + b"!"
    update_server.fault(piece_path(piece_id), body=body)
    assert run(install_dir, update_server).returncode == 1
    log = read_log(install_dir)
    assert f"piece {piece_id}: failed (http 200)" in log
    assert DOWNLOAD_FAILED in log
    assert update_server.count(piece_path(piece_id)) == 1   # a bad body is not retried


def test_stored_piece_with_one_byte_changed_fails_and_is_not_cached(install_dir, update_server,
                                                                    release):
    manifest = release.publish(base_game())
    piece_id, _, stored = piece_entry(manifest, "data/random.bin", 1)
    assert stored == 1
    update_server.fault(piece_path(piece_id), alter=True)   # the right length, one byte flipped
    assert run(install_dir, update_server).returncode == 1
    log = read_log(install_dir)
    assert f"piece {piece_id}: failed (http 200)" in log
    assert log[-2] == DOWNLOAD_FAILED
    assert not list((install_dir / UPDATE_FOLDER / "pieces").rglob(piece_id + "*"))


def test_compressed_piece_that_decodes_short_fails(install_dir, update_server, release):
    files = base_game()
    files["data/text.txt"] = b"abcdefgh" * (SMALL_PIECE // 8) + b"abcdefgh" * 250
    manifest = release.publish(files)
    first_id, _, first_stored = piece_entry(manifest, "data/text.txt", 0)
    tail_id, _, tail_stored = piece_entry(manifest, "data/text.txt", 1)
    assert (first_stored, tail_stored) == (0, 0)
    # a well-formed compressed body, but of the 2000-byte tail piece
    update_server.fault(piece_path(first_id),
                        body=piece_file(update_server.root, tail_id).read_bytes())
    assert run(install_dir, update_server).returncode == 1
    log = read_log(install_dir)
    at = log.index(f"piece {first_id}: failed (http 200)")
    assert log[at - 1] == f"piece {first_id}: did not decode (header)"   # the declared size is wrong
    assert DOWNLOAD_FAILED in log


def test_interrupted_download_resumes_from_what_it_wrote(install_dir, update_server, release):
    files = base_game()
    files["data/more.bin"] = random_bytes(5 * SMALL_PIECE, seed=3)
    manifest = release.publish(files)
    # the smallest piece is taken last, so the others are written by then
    smallest = min(((p[1], p[0]) for f in manifest["files"] for p in f["c"]))[1]
    update_server.fault(piece_path(smallest), status=404)
    assert run(install_dir, update_server).returncode == 1
    fetched = set(release.chunk_requests()) - {smallest}
    assert len(fetched) >= 2

    # The pieces went straight into the stage copies of their files; one of
    # them keeps its place but loses its content: it is fetched again.
    spoiled = piece_entry(manifest, "data/more.bin", 0)[0]
    part = install_dir / UPDATE_FOLDER / "stage" / "data" / "more.bin.part"
    data = bytearray(part.read_bytes())
    data[0] ^= 0xFF
    part.write_bytes(bytes(data))

    update_server.clear_faults()
    update_server.clear_log()
    result = run(install_dir, update_server)
    assert result.returncode == 0, "\n".join(read_log(install_dir))
    assert tree(install_dir) == files
    counts = release.chunk_requests()
    assert counts.get(smallest) == 1
    assert counts.get(spoiled) == 1
    assert not (set(counts) & (fetched - {spoiled}))
    assert set(counts.values()) == {1}
