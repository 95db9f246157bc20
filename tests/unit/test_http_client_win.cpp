// The WinHTTP client. HttpClient.* need no server; HttpLive.* run only when
// TW_TEST_SERVER_URL names a test update server (tests/e2e/test_http_client.py
// starts one, sets its faults, and checks its request log afterwards).
#include "base/paths.h"
#include "base/update_status.h"
#include "crypto/sha256.h"
#include "crypto/signature.h"
#include "formats/piece_codec.h"
#include "net/http_client.h"
#include "net/mirror_list.h"
#include "net/server_paths.h"
#include "tests/windows/child_scenarios.h"
#include "update/piece_cache.h"
#include "update/piece_download.h"
#include "update/update_run.h"
#include "update/update_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The content the test server holds in "pattern-<n>.bin" and friends.
std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

unsigned long elapsed_ms(ULONGLONG since) { return static_cast<unsigned long>(GetTickCount64() - since); }

class HttpLive : public testing::Test {
protected:
    void SetUp() override
    {
        url_ = env("TW_TEST_SERVER_URL");
        if (url_.empty()) GTEST_SKIP() << "TW_TEST_SERVER_URL is not set";
        ASSERT_TRUE(client_.open(widen(url_)));
        ASSERT_TRUE(mirrors_.open(widen(url_)));
    }
    std::string url_;
    HttpClient client_;
    MirrorList mirrors_;
};

}  // namespace

TEST(HttpClient, OpenSplitsTheBaseUrl)
{
    HttpClient c;
    EXPECT_FALSE(c.is_open());
    ASSERT_TRUE(c.open(L"http://127.0.0.1:8080/update"));
    EXPECT_TRUE(c.is_open());
    EXPECT_EQ(c.host(), L"127.0.0.1");
    EXPECT_EQ(c.port(), 8080);
    EXPECT_EQ(c.base_path(), L"/update/");
    EXPECT_FALSE(c.secure());

    ASSERT_TRUE(c.open(L"https://updates.example.com"));
    EXPECT_EQ(c.host(), L"updates.example.com");
    EXPECT_EQ(c.port(), 443);
    EXPECT_EQ(c.base_path(), L"/");
    EXPECT_TRUE(c.secure());

    ASSERT_TRUE(c.open(L"http://h/a/b/"));
    EXPECT_EQ(c.port(), 80);
    EXPECT_EQ(c.base_path(), L"/a/b/");
    c.close();
    EXPECT_FALSE(c.is_open());
}

TEST(HttpClient, OverlongHostOrPathFailsOpen)
{
    HttpClient c;
    EXPECT_TRUE(c.open(L"http://" + std::wstring(255, L'h') + L"/update/"));
    EXPECT_FALSE(c.open(L"http://" + std::wstring(256, L'h') + L"/update/"));
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(c.open(L"http://h/" + std::wstring(1022, L'p')));   // 1,023 with the slash
    EXPECT_FALSE(c.open(L"http://h/" + std::wstring(1023, L'p')));
    EXPECT_FALSE(c.is_open());
}

TEST(HttpClient, MalformedUrlsFailOpen)
{
    HttpClient c;
    EXPECT_FALSE(c.open(L""));
    EXPECT_FALSE(c.open(L"update/"));
    EXPECT_FALSE(c.open(L"ftp://h/update/"));
    EXPECT_FALSE(c.is_open());
    std::string body = "x";
    EXPECT_FALSE(c.get("manifest.json", body));   // a closed client fetches nothing
}

TEST_F(HttpLive, NotFoundWithStatusEndsAfterOneAttempt)
{
    std::string body;
    int status = 0;
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(client_.get("missing-a.bin", body, {}, nullptr, &status));
    EXPECT_EQ(status, 404);
    EXPECT_LT(elapsed_ms(start), 350u);   // no retry pause
}

TEST_F(HttpLive, NotFoundWithoutStatusIsTriedThreeTimes)
{
    std::string body;
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(client_.get("missing-b.bin", body));
    EXPECT_GE(elapsed_ms(start), 2350u);   // 400 + 800 + 1,200 ms of pauses
}

TEST_F(HttpLive, DroppedConnectionsAreRetried)
{
    std::string body;
    ASSERT_TRUE(client_.get("flaky.bin", body));
    EXPECT_EQ(body, pattern(1000));
}

TEST_F(HttpLive, ZeroLengthBodySucceeds)
{
    std::string body = "left over";
    size_t reported = 0;
    int status = 0;
    ASSERT_TRUE(client_.get("empty.bin", body, [&](size_t n) { reported += n; }, nullptr, &status));
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(reported, 0u);
    EXPECT_EQ(status, 200);
}

TEST_F(HttpLive, OtherStatusesAreRetried)
{
    std::string body;
    int status = 0;
    ASSERT_TRUE(client_.get("error.bin", body, {}, nullptr, &status));   // 500 twice, then served
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, pattern(10));
    EXPECT_FALSE(client_.get("not-modified.bin", body, {}, nullptr, &status));   // 304 always
    EXPECT_EQ(status, 304);
}

TEST_F(HttpLive, BaseUrlWithOrWithoutTrailingSlash)
{
    std::string with_slash = url_.back() == '/' ? url_ : url_ + "/";
    std::string without = with_slash.substr(0, with_slash.size() - 1);
    std::string body;
    HttpClient a, b;
    ASSERT_TRUE(a.open(widen(with_slash)));
    ASSERT_TRUE(b.open(widen(without)));
    EXPECT_EQ(a.base_path(), b.base_path());
    ASSERT_TRUE(a.get(manifest_request_path("same.bin", 1), body));
    EXPECT_EQ(body, pattern(20));
    ASSERT_TRUE(b.get(manifest_request_path("same.bin", 2), body));
    EXPECT_EQ(body, pattern(20));
}

TEST_F(HttpLive, StopFlagSetMeansNoRequest)
{
    std::atomic<bool> stop{true};
    std::string body;
    int status = 0;
    EXPECT_FALSE(client_.get("stopped.bin", body, {}, &stop, &status));
    EXPECT_EQ(status, 0);
}

TEST_F(HttpLive, StopDuringRetryPauseEndsWithoutAnotherRequest)
{
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        Sleep(200);   // the first attempt's 500 arrives at once; the pause is 400 ms
        stop = true;
    });
    std::string body;
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(client_.get("always-500.bin", body, {}, &stop));
    stopper.join();
    EXPECT_LT(elapsed_ms(start), 1000u);
}

TEST_F(HttpLive, ProgressCountsEveryByte)
{
    std::string body;
    size_t reported = 0;
    int calls = 0;
    ASSERT_TRUE(client_.get("large.bin", body, [&](size_t n) { reported += n; ++calls; }));
    EXPECT_EQ(body.size(), 3u << 20);
    EXPECT_EQ(reported, body.size());
    EXPECT_GE(calls, 1);
    EXPECT_TRUE(body == pattern(3u << 20));
}

TEST_F(HttpLive, BodyCutShortFails)
{
    std::string body;
    EXPECT_FALSE(client_.get("cut.bin", body));   // Content-Length 2000, 500 bytes sent
}

TEST_F(HttpLive, SlowAnswerWithinTimeoutsSucceeds)
{
    std::string body;
    ASSERT_TRUE(client_.get("slow.bin", body));
    EXPECT_EQ(body, pattern(30));
}

TEST_F(HttpLive, TwelveThreadsShareOneSession)
{
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 12; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 4; ++round) {
                size_t n = 1000 + static_cast<size_t>(t) * 50000;
                std::string body;
                if (!client_.get("pattern-" + std::to_string(n) + ".bin", body) || body != pattern(n)) ++failures;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// A piece written by the publishing tool, fetched by its server path and
// decoded: its raw bytes must hash to its id.
TEST_F(HttpLive, PublishedPieceDecodesToItsId)
{
    std::string id = env("TW_TEST_PIECE_ID");
    if (id.empty()) GTEST_SKIP() << "no published piece named";
    size_t raw_size = std::strtoull(env("TW_TEST_PIECE_RAW_SIZE").c_str(), nullptr, 10);
    bool stored = env("TW_TEST_PIECE_STORED") == "1";
    std::string body;
    int status = 0;
    ASSERT_TRUE(client_.get(piece_request_path(id), body, {}, nullptr, &status)) << status;
    std::string raw;
    if (stored) {
        raw = body;
    } else {
        raw.resize(raw_size);
        ASSERT_TRUE(decompress_piece(reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                     reinterpret_cast<uint8_t*>(raw.data()), raw.size()));
    }
    EXPECT_EQ(raw.size(), raw_size);
    EXPECT_EQ(sha256_bytes(raw.data(), raw.size()), id);
}

// The manifest the publishing tool signed with this build's development key
// verifies with the key built into the launcher, exactly as served.
TEST_F(HttpLive, PublishedManifestVerifiesWithTheBuiltInKey)
{
    if (env("TW_TEST_PIECE_ID").empty()) GTEST_SKIP() << "nothing published";
    std::string manifest, signature;
    ASSERT_TRUE(client_.get(manifest_request_path("manifest.json", 77), manifest));
    ASSERT_TRUE(client_.get(manifest_request_path("manifest.sig", 77), signature));
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_TRUE(verify_manifest_signature(manifest, signature));
    EXPECT_FALSE(verify_manifest_signature(manifest + "\n", signature));
    EXPECT_FALSE(verify_manifest_signature(manifest, signature.substr(0, 63)));
}

// The download of one published piece into a fresh install folder.
class PieceFetch : public HttpLive {
protected:
    void SetUp() override
    {
        HttpLive::SetUp();
        reset_update_status();
    }
    void TearDown() override { reset_update_status(); }
    // The piece the environment names under prefix, or false.
    bool job_from_env(const std::string& prefix, PieceJob& job)
    {
        job.id = env((prefix + "_ID").c_str());
        job.raw_size = std::strtoll(env((prefix + "_RAW_SIZE").c_str()).c_str(), nullptr, 10);
        job.transfer_size = std::strtoll(env((prefix + "_TRANSFER").c_str()).c_str(), nullptr, 10);
        job.stored = env((prefix + "_STORED").c_str()) == "1";
        return !job.id.empty();
    }
    InstallFolder folder{make_temp_folder(L"piece-fetch")};
};

// The server cuts the body short once, then serves it: the bytes of the cut
// attempt leave bytes_done again, so it ends exactly at the transfer size.
TEST_F(PieceFetch, BodyCutShortOnceCountsThePieceOnce)
{
    PieceJob job;
    if (!job_from_env("TW_TEST_CUT_PIECE", job)) GTEST_SKIP() << "no piece named";
    ASSERT_TRUE(download_pieces(folder, mirrors_, {job}));
    EXPECT_EQ(update_status.bytes_done.load(), job.transfer_size);
    EXPECT_EQ(cached_piece_size(folder, job.id), job.raw_size);
}

// A cache that cannot be written is the disk's failure, not the network's.
TEST_F(PieceFetch, CacheThatCannotBeWrittenIsReportedAsSuch)
{
    PieceJob job;
    if (!job_from_env("TW_TEST_PIECE", job)) GTEST_SKIP() << "no piece named";
    std::wstring piece_folder = parent_folder(folder.piece_cache_path(job.id));
    ASSERT_TRUE(create_folders(parent_folder(piece_folder)));
    HANDLE blocker = CreateFileW(piece_folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);   // a file where the piece's folder belongs
    CloseHandle(blocker);
    UpdateRun run(folder);
    ASSERT_TRUE(run.mirrors.open(widen(url_)));
    run.plan.jobs = {job};
    EXPECT_FALSE(download_update(run));
    EXPECT_EQ(read_status().message, "could not write to the install folder");
}
