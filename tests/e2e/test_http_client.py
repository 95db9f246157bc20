"""The launcher's HTTP client under Wine against the test update server.

The HttpLive gtests in tarnwick_tests.exe run once against one server whose
files and faults are set up here; each test below checks one gtest's result
together with what the server saw.
"""
import json
import os
import random
import subprocess
import xml.etree.ElementTree as ET

import pytest

from launcher import BUILD, PRIVATE_KEY, PUBLISH_TOOL, UNIT_TESTS, run_wine, winpath
from update_server import UpdateServer

BASE = "/update/"


def pattern(n):
    return bytes((i * 7 + 3) % 251 for i in range(n))


def publish_sample(server_root, tmp):
    """Publishes a small game with the studio tool; returns the piece to fetch, or None."""
    if not PUBLISH_TOOL.exists() or not PRIVATE_KEY.exists():
        return None
    game = tmp / "game"
    game.mkdir()
    (game / "tarnwick.exe").write_bytes(b"MZ" + b"compressible game text " * 20000)
    rnd = random.Random(7)
    (game / "noise.bin").write_bytes(bytes(rnd.getrandbits(8) for _ in range(70000)))
    out = subprocess.run([str(PUBLISH_TOOL), "publish", str(game), str(server_root), "--key", str(PRIVATE_KEY),
                          "--version", "1.0", "--build", "http-test", "--exe", "tarnwick.exe",
                          "--piece", "262144"], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    manifest = json.loads((server_root / "manifest.json").read_bytes())
    exe = next(f for f in manifest["files"] if f["p"] == "tarnwick.exe")
    piece = exe["c"][0]
    assert len(piece) < 3 or not piece[2], "the compressible piece should be compressed"
    size = manifest.get("piece", 16777216)
    tail = exe["c"][1]
    return {"id": piece[0], "raw_size": min(size, exe["s"]), "stored": 0, "transfer": piece[1],
            "cut": {"id": tail[0], "raw_size": exe["s"] - size, "stored": tail[2], "transfer": tail[1]}}


@pytest.fixture(scope="module")
def live_run(tmp_path_factory):
    if not UNIT_TESTS.exists():
        pytest.skip("tarnwick_tests.exe is not built")
    tmp = tmp_path_factory.mktemp("http")
    root = tmp / "server"
    srv = UpdateServer(root).start()
    piece = publish_sample(root, tmp)

    srv.put("flaky.bin", pattern(1000))
    srv.fault("flaky.bin", drop=2)
    srv.put("empty.bin", b"")
    srv.put("error.bin", pattern(10))
    srv.fault("error.bin", status=500, times=2)
    srv.put("not-modified.bin", pattern(10))
    srv.fault("not-modified.bin", status=304)
    srv.put("same.bin", pattern(20))
    srv.put("stopped.bin", pattern(5))
    srv.fault("always-500.bin", status=500)
    srv.put("large.bin", pattern(3 << 20))
    srv.put("cut.bin", pattern(2000))
    srv.fault("cut.bin", truncate=500)
    srv.put("slow.bin", pattern(30))
    srv.fault("slow.bin", delay=1.5)
    for t in range(12):
        n = 1000 + t * 50000
        srv.put("pattern-%d.bin" % n, pattern(n))

    env = {"TW_TEST_SERVER_URL": srv.url}
    if piece:
        for prefix, p in (("TW_TEST_PIECE", piece), ("TW_TEST_CUT_PIECE", piece["cut"])):
            env.update({prefix + "_ID": p["id"], prefix + "_RAW_SIZE": p["raw_size"],
                        prefix + "_STORED": int(p["stored"]), prefix + "_TRANSFER": p["transfer"]})
        srv.fault("chunks/%s/%s" % (piece["cut"]["id"][:2], piece["cut"]["id"]), truncate=100, times=1)
    report = tmp / "report.xml"
    proc = run_wine(UNIT_TESTS, ["--gtest_filter=HttpLive.*:HttpClient.*:PieceFetch.*",
                                 "--gtest_output=xml:" + winpath(report)],
                    env=env, timeout=300)
    srv.stop()
    results = {}
    if report.exists():
        for case in ET.parse(report).getroot().iter("testcase"):
            name = case.get("classname") + "." + case.get("name")
            if case.find("failure") is not None:
                results[name] = "failed: " + " | ".join(f.get("message", "") for f in case.iter("failure"))
            elif case.find("skipped") is not None or case.get("result") == "skipped":
                results[name] = "skipped"
            else:
                results[name] = "passed"
    output = proc.stdout.decode("utf-8", "replace") + proc.stderr.decode("utf-8", "replace")
    return {"server": srv, "results": results, "output": output, "piece": piece}


def passed(run, name):
    result = run["results"].get(name)
    assert result == "passed", "%s: %s\n%s" % (name, result, run["output"][-3000:])


def times(run, path):
    return run["server"].requests_for(path)


def test_offline_client_checks(live_run):
    for name in ("HttpClient.OpenSplitsTheBaseUrl", "HttpClient.OverlongHostOrPathFailsOpen",
                 "HttpClient.MalformedUrlsFailOpen"):
        passed(live_run, name)


def test_404_with_status_is_asked_once(live_run):
    passed(live_run, "HttpLive.NotFoundWithStatusEndsAfterOneAttempt")
    assert len(times(live_run, "missing-a.bin")) == 1


def test_404_without_status_is_asked_three_times(live_run):
    passed(live_run, "HttpLive.NotFoundWithoutStatusIsTriedThreeTimes")
    t = times(live_run, "missing-b.bin")
    assert len(t) == 3
    assert 0.35 <= t[1] - t[0] <= 0.75
    assert 0.75 <= t[2] - t[1] <= 1.2


def test_dropped_connections_retried_after_400_then_800_ms(live_run):
    passed(live_run, "HttpLive.DroppedConnectionsAreRetried")
    t = times(live_run, "flaky.bin")
    assert len(t) == 3
    assert 0.35 <= t[1] - t[0] <= 0.75, t
    assert 0.75 <= t[2] - t[1] <= 1.2, t


def test_zero_length_body(live_run):
    passed(live_run, "HttpLive.ZeroLengthBodySucceeds")
    assert len(times(live_run, "empty.bin")) == 1


def test_other_statuses_are_retried(live_run):
    passed(live_run, "HttpLive.OtherStatusesAreRetried")
    assert len(times(live_run, "error.bin")) == 3
    assert len(times(live_run, "not-modified.bin")) == 3


def test_trailing_slash_makes_no_difference(live_run):
    passed(live_run, "HttpLive.BaseUrlWithOrWithoutTrailingSlash")
    paths = [p for p, _ in live_run["server"].requests if p.startswith(BASE + "same.bin")]
    assert paths == [BASE + "same.bin?t=1", BASE + "same.bin?t=2"]


def test_stop_flag_prevents_requests(live_run):
    passed(live_run, "HttpLive.StopFlagSetMeansNoRequest")
    assert times(live_run, "stopped.bin") == []
    passed(live_run, "HttpLive.StopDuringRetryPauseEndsWithoutAnotherRequest")
    assert len(times(live_run, "always-500.bin")) == 1


def test_bodies_arrive_whole(live_run):
    passed(live_run, "HttpLive.ProgressCountsEveryByte")
    passed(live_run, "HttpLive.SlowAnswerWithinTimeoutsSucceeds")
    passed(live_run, "HttpLive.TwelveThreadsShareOneSession")
    assert len(times(live_run, "large.bin")) == 1
    for t in range(12):
        assert len(times(live_run, "pattern-%d.bin" % (1000 + t * 50000))) == 4


def test_body_cut_short_is_a_failed_attempt(live_run):
    passed(live_run, "HttpLive.BodyCutShortFails")
    assert len(times(live_run, "cut.bin")) == 3


def test_requests_are_plain_gets_with_the_launcher_agent(live_run):
    log = live_run["server"].request_log
    assert log
    assert {r.method for r in log} == {"GET"}
    assert {r.user_agent for r in log} == {"tarnwick-launcher/5"}


def test_published_piece_fetched_and_decoded(live_run):
    if not live_run["piece"]:
        pytest.skip("the publishing tool is not built in %s" % BUILD)
    passed(live_run, "HttpLive.PublishedPieceDecodesToItsId")
    passed(live_run, "HttpLive.PublishedManifestVerifiesWithTheBuiltInKey")
    pid = live_run["piece"]["id"]
    assert times(live_run, "chunks/%s/%s" % (pid[:2], pid)) != []


def test_piece_download_counts_and_failures(live_run):
    if not live_run["piece"]:
        pytest.skip("the publishing tool is not built in %s" % BUILD)
    passed(live_run, "PieceFetch.BodyCutShortOnceCountsThePieceOnce")
    cut = live_run["piece"]["cut"]["id"]
    assert len(times(live_run, "chunks/%s/%s" % (cut[:2], cut))) == 2
    passed(live_run, "PieceFetch.CacheThatCannotBeWrittenIsReportedAsSuch")
