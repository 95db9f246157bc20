"""The download limit under Wine: the bytes a throttled run takes from the
server each second, and where the limit comes from (an administrator's
policy before --max-rate before the player's own value)."""
import pytest

from games import make_game, publish, random_bytes, tree
from launcher import read_log, run_launcher, run_wine

UNREACHABLE = "http://127.0.0.1:9/update/"
MACHINE_POLICY = r"HKLM\Software\Policies\tarnwick"
USER_POLICY = r"HKCU\Software\Policies\tarnwick"
OWN = r"HKCU\Software\tarnwick"
PIECE = 16384


def set_value(key, data, kind="REG_DWORD"):
    proc = run_wine("reg", ["add", key, "/v", "MaxDownloadRate", "/t", kind, "/d", str(data), "/f"], timeout=60)
    assert proc.returncode == 0, proc.stderr


@pytest.fixture
def limits():
    """Sets MaxDownloadRate values for one test and removes them after it."""
    yield set_value
    for key in (MACHINE_POLICY, USER_POLICY, OWN):
        run_wine("reg", ["delete", key, "/v", "MaxDownloadRate", "/f"], timeout=60)


def limit_lines(install_dir):
    return [line for line in read_log(install_dir) if "download limit" in line]


def test_a_throttled_run_takes_no_more_than_the_limit_from_the_server(install_dir, update_server, tmp_path):
    files = {"tarnwick.exe": b"MZ throttled\n", "data/big.bin": random_bytes(2 << 20, seed=26)}
    publish(make_game(tmp_path / "game", files), update_server.root, piece=PIECE)
    limit = 512 << 10
    proc = run_launcher(install_dir, args=("--headless", "--max-rate", "512K"), server_url=update_server.url)
    assert proc.returncode == 0, read_log(install_dir)
    assert tree(install_dir) == files
    assert limit_lines(install_dir) == ["download limit: 512 KiB/s (--max-rate)"]

    sent = update_server.sent
    total = sum(size for _, size in sent)
    assert total >= len(files["data/big.bin"])
    start, end = sent[0][0], sent[-1][0]
    # The bucket lets through its burst (a quarter second) plus the limit for
    # every second; the twelve connections' socket buffers may hold up to a
    # piece each beyond what the launcher has read.
    slack = limit // 4 + 12 * PIECE
    assert total <= limit * (end - start) + slack, (total, end - start)
    for t, _ in sent:
        in_second = sum(size for u, size in sent if t <= u < t + 1)
        assert in_second <= 2 * limit, (t - start, in_second)
    print("throttled run: %d bytes in %.2f s = %.0f KiB/s against 512" % (total, end - start,
                                                                          total / (end - start) / 1024))


def test_a_policy_wins_and_a_value_that_does_not_read_is_refused(install_dir, limits):
    limits(OWN, 512)
    limits(MACHINE_POLICY, 2048)
    run_launcher(install_dir, args=("--headless", "--max-rate", "lots"), server_url=UNREACHABLE)
    assert limit_lines(install_dir) == [
        'the download limit "lots" from --max-rate is not a rate -- ignored',
        r"download limit: 2 MiB/s (MaxDownloadRate in HKLM\Software\Policies\tarnwick)"]

    # Without the machine's policy: the user's policy, of the wrong type, is
    # refused and the command line counts before the player's own value.
    run_wine("reg", ["delete", MACHINE_POLICY, "/v", "MaxDownloadRate", "/f"], timeout=60)
    limits(USER_POLICY, "fast", kind="REG_SZ")
    run_launcher(install_dir, args=("--headless", "--max-rate", "1.5M"), server_url=UNREACHABLE)
    assert limit_lines(install_dir) == [
        r"the download limit that is not a DWORD from MaxDownloadRate in HKCU\Software\Policies\tarnwick "
        "is not a rate -- ignored",
        "download limit: 1.5 MiB/s (--max-rate)"]

    run_launcher(install_dir, server_url=UNREACHABLE)
    assert limit_lines(install_dir)[-1] == r"download limit: 512 KiB/s (MaxDownloadRate in HKCU\Software\tarnwick)"
