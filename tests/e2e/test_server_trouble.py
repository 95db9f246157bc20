"""Servers as players meet them: a release being uploaded, a server that
trickles, redirects to another host, to plain http, and in a long chain."""
import time

import pytest

from games import SMALL_PIECE, make_game, piece_ids, piece_path, publish, random_bytes, read_state, tree
from launcher import read_log, run_launcher
from tls_fixtures import trusted_tls  # noqa: F401  (fixture)
from update_server import UpdateServer

DOWNLOAD_FAILED = "[8] the download failed -- check the connection and open the launcher again"


def game():
    return {
        "tarnwick.exe": b"MZ game\n",
        "data/random.bin": random_bytes(6 * SMALL_PIECE, seed=19),
        "data/text.txt": b"a line of the game's text\n" * 200,
    }


@pytest.fixture
def published(update_server, tmp_path):
    return publish(make_game(tmp_path / "src", game()), update_server.root)


def run(install_dir, url, env=None):
    return run_launcher(install_dir, server_url=url, env=env)


def installed(install_dir):
    return tree(install_dir) == game() and read_state(install_dir)["version"] == "1.0.0"


def test_signature_of_a_release_being_uploaded(install_dir, update_server, published):
    """The first look finds the new manifest beside the old signature; the
    second, about two seconds later, finds both."""
    update_server.fault("manifest.sig", body=bytes(64), times=1)
    assert run(install_dir, update_server.url).returncode == 0, read_log(install_dir)
    assert installed(install_dir)
    json_times = update_server.requests_for("manifest.json")
    assert len(json_times) == 2 and update_server.count("manifest.sig") == 2
    assert json_times[1] - json_times[0] >= 1.9
    assert "the manifest's signature does NOT verify -- refusing it" not in read_log(install_dir)


def test_trickling_piece_ends_its_attempts_and_the_run(install_dir, update_server, published):
    """128 bytes a second stays under the floor: each attempt ends when the
    (shortened) window closes, the run ends in phase 8, and the progress lines
    of the wait name the mirror."""
    slow = piece_ids(published, "data/random.bin")[2]
    update_server.fault(piece_path(slow), trickle=(64, 0.5))
    started = time.monotonic()
    result = run(install_dir, update_server.url, env={"TW_TEST_SLOW_BODY_WINDOW_MS": "3000"})
    elapsed = time.monotonic() - started
    assert result.returncode == 1
    log = read_log(install_dir)
    assert log[-2:] == [DOWNLOAD_FAILED, "headless: done, phase 8"], log
    failure = [line for line in log if line.startswith(f"request {piece_path(slow)} failed after 3 attempts")]
    assert len(failure) == 1 and "arrived slower than 1024 bytes a second over 3000 ms" in failure[0], log
    assert update_server.count(piece_path(slow)) == 3
    assert elapsed < 60
    mirror = f"127.0.0.1:{update_server.port}"
    progress = [line for line in log if line.startswith("downloading: ")]
    assert progress and all(line.endswith(f" from {mirror}") for line in progress), log


def test_a_server_that_never_answers_ends_the_run(install_dir, update_server, published):
    """The request is taken and no header ever comes: each attempt ends when
    the (shortened) window closes, not when the server would answer."""
    update_server.fault("manifest.json", delay=120)
    started = time.monotonic()
    result = run(install_dir, update_server.url, env={"TW_TEST_SLOW_BODY_WINDOW_MS": "3000"})
    assert result.returncode == 1 and time.monotonic() - started < 60
    log = read_log(install_dir)
    assert any(line.startswith("request manifest.json") and "failed after 3 attempts: winhttp error" in line
               and line.endswith("(timed out)") for line in log), log
    assert tree(install_dir) == {}


def test_redirect_to_another_host_is_followed(install_dir, update_server, published):
    with UpdateServer(update_server.root, host="127.0.0.2") as cdn:
        update_server.fault("*", redirect=cdn.url)
        assert run(install_dir, update_server.url).returncode == 0, read_log(install_dir)
        assert installed(install_dir)
        assert cdn.count("manifest.json") == 1
        assert sorted(p for p, _ in cdn.requests if "/chunks/" in p) == \
            sorted("/update/" + piece_path(i) for i in set(piece_ids(published)))


def test_long_redirect_chain_fails(install_dir, update_server, published):
    """Five hops are followed; a sixth ends the request at once."""
    update_server.fault("manifest.json", redirect=update_server.url, times=6)
    assert run(install_dir, update_server.url).returncode == 1
    assert any(line.startswith("request manifest.json?t=") and
               line.endswith("failed after 1 attempt: more than 5 redirects") for line in read_log(install_dir))
    assert update_server.count("manifest.json") == 6

    update_server.fault("manifest.json", redirect=update_server.url, times=5)
    assert run(install_dir, update_server.url).returncode == 0, read_log(install_dir)
    assert installed(install_dir)


# ---------------------------------------------------------------- https

def test_https_redirected_to_plain_http_is_refused(install_dir, update_server, published, trusted_tls):
    """The manifest comes over https; the pieces, redirected to plain http,
    are refused with a line that says so."""
    with UpdateServer(update_server.root, tls=trusted_tls) as secure:
        secure.fault("chunks/*", redirect=update_server.url)
        assert run(install_dir, secure.url).returncode == 1
    log = read_log(install_dir)
    assert "manifest 1.0.0 (build b-1.0.0), 3 files, launcher v0 (this is v5)" in log, log
    refused = [line for line in log if "refused a redirect from https to plain http (http://127.0.0.1:" in line]
    assert refused and refused[0].startswith("request chunks/"), log
    assert log[-2:] == [DOWNLOAD_FAILED, "headless: done, phase 8"]
    assert not any("/chunks/" in p for p, _ in update_server.requests)
