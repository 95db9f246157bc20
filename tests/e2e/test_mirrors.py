"""Several mirrors in TW_UPDATE_URL: the manifest from the first that offers
one that verifies, pieces from it, and a piece it cannot deliver from the next.
Each run must install exactly the release with every piece delivered once."""
import shutil

import pytest

from games import SMALL_PIECE, piece_ids, piece_path, publish, make_game, random_bytes, read_state, tree
from launcher import read_log, run_launcher
from update_server import UpdateServer

DOWN = "http://127.0.0.1:9/update/"


def game(version):
    return {
        "tarnwick.exe": b"MZ game " + version.encode() + b"\n",
        "data/random.bin": random_bytes(4 * SMALL_PIECE + 7, seed=len(version)),
        "data/text.txt": (b"mirrored text of release " + version.encode() + b"\n") * 300,
    }


@pytest.fixture
def mirrors(tmp_path):
    """Two servers on one published folder; the second at another address."""
    root = tmp_path / "server"
    first, second = UpdateServer(root).start(), UpdateServer(root, host="127.0.0.2").start()
    yield first, second
    first.stop()
    second.stop()


def release(tmp_path, root, version, serial=None):
    src = make_game(tmp_path / f"src-{version}", game(version))
    extra = ("--serial", str(serial)) if serial is not None else ()
    return publish(src, root, version=version, extra=extra)


def chunk_counts(server):
    counts = {}
    for path, _ in server.requests:
        if "/chunks/" in path:
            counts[path.rsplit("/", 1)[1]] = counts.get(path.rsplit("/", 1)[1], 0) + 1
    return counts


def name(server):
    return f"{server.host}:{server.port}"


def run(install_dir, *urls, env=None):
    return run_launcher(install_dir, server_url=" ".join(urls), env=env)


def installed_exactly(install_dir, version):
    assert tree(install_dir) == game(version)
    assert read_state(install_dir)["version"] == version


def test_first_mirror_down(install_dir, mirrors, tmp_path):
    _, second = mirrors
    manifest = release(tmp_path, second.root, "1.0.0")
    assert run(install_dir, DOWN, second.url).returncode == 0, read_log(install_dir)
    installed_exactly(install_dir, "1.0.0")
    assert chunk_counts(second) == {piece: 1 for piece in piece_ids(manifest)}
    log = read_log(install_dir)
    down = [line for line in log if line.startswith("mirror 127.0.0.1:9: ")]
    assert len(down) == 1 and "cannot connect" in down[0], log
    assert f"manifest from mirror {name(second)} (2 of 2)" in log
    assert f"downloading {len(set(piece_ids(manifest)))} pieces from mirror {name(second)}" in log


@pytest.mark.parametrize("fault", ["missing", "corrupt"])
def test_pieces_the_first_mirror_cannot_deliver_come_from_the_second(fault, install_dir, mirrors, tmp_path):
    first, second = mirrors
    manifest = release(tmp_path, first.root, "1.0.0")
    bad = piece_ids(manifest, "data/random.bin")[1:3]
    for piece in bad:
        if fault == "missing":
            first.fault(piece_path(piece), status=404)
        else:
            first.fault(piece_path(piece), alter=True)
    assert run(install_dir, first.url, second.url).returncode == 0, read_log(install_dir)
    installed_exactly(install_dir, "1.0.0")
    # The first is asked once for every piece (a 404 or wrong bytes are not
    # retried there); the second only for what the first could not deliver.
    assert chunk_counts(first) == {piece: 1 for piece in piece_ids(manifest)}
    assert chunk_counts(second) == {piece: 1 for piece in bad}
    assert second.count("manifest.json") == 0
    log = read_log(install_dir)
    trouble = [line for line in log if line.startswith(f"mirror {name(first)}: ")]
    cause = "http 404" if fault == "missing" else "did not match the piece"
    assert len(trouble) == 1 and cause in trouble[0], log   # logged once for the two pieces
    assert f"manifest from mirror {name(first)} (1 of 2)" in log


def test_first_mirror_with_a_manifest_that_does_not_verify(install_dir, mirrors, tmp_path):
    """A mirror whose manifest and signature do not match (also after the
    second look) is passed over for the next."""
    first, second = mirrors
    manifest = release(tmp_path, first.root, "1.0.0")
    first.fault("manifest.json", body=(first.root / "manifest.json").read_bytes().replace(b"1.0.0", b"1.0.1"))
    assert run(install_dir, first.url, second.url).returncode == 0, read_log(install_dir)
    installed_exactly(install_dir, "1.0.0")
    assert first.count("manifest.json") == 2 and chunk_counts(first) == {}
    assert chunk_counts(second) == {piece: 1 for piece in piece_ids(manifest)}
    log = read_log(install_dir)
    assert f"mirror {name(first)}: manifest: the signature does not verify" in log
    assert f"manifest from mirror {name(second)} (2 of 2)" in log


def test_first_mirror_serving_an_older_signed_release(install_dir, tmp_path):
    """The first mirror still serves 1.0.0, signed; the second 2.0.0, which is
    installed. The run must stay on 2.0.0, from the second."""
    old_root, new_root = tmp_path / "old", tmp_path / "new"
    release(tmp_path, old_root, "1.0.0")
    release(tmp_path, new_root, "2.0.0", serial=1)   # published after 1.0.0: serial 2
    with UpdateServer(old_root) as old, UpdateServer(new_root, host="127.0.0.2") as new:
        assert run(install_dir, new.url).returncode == 0
        assert run(install_dir, old.url, new.url).returncode == 0, read_log(install_dir)
        installed_exactly(install_dir, "2.0.0")
        assert chunk_counts(old) == {}
        assert "the server offered an older release (serial 1, installed 2)" in "\n".join(read_log(install_dir))
