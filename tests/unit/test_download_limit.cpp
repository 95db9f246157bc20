#include "app/download_limit.h"
#include "net/download_budget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <queue>
#include <vector>

TEST(DownloadLimit, RatesReadAsCurlReadsThem)
{
    const std::pair<const char*, uint64_t> good[] = {
        {"1000", 1000}, {"4M", 4u << 20}, {"4m", 4u << 20}, {"200K", 200u << 10}, {"1G", 1u << 30},
        {"1.5M", 3u << 19}, {".5k", 512}, {"1099511627776", uint64_t(1) << 40}};
    for (const auto& [text, expected] : good) {
        uint64_t rate = 0;
        EXPECT_TRUE(parse_rate(text, rate)) << text;
        EXPECT_EQ(rate, expected) << text;
    }
    for (const char* bad : {"", "0", "0K", "-1M", "4 M", " 4M", "4MB", "4T", "M", ".", "1e6", "1099511627777",
                            "99999999999999999999", "4M\n"}) {
        uint64_t rate = 7;
        EXPECT_FALSE(parse_rate(bad, rate)) << bad;
        EXPECT_EQ(rate, 7u) << bad;
    }
    EXPECT_EQ(rate_text(4u << 20), "4 MiB/s");
    EXPECT_EQ(rate_text(3u << 19), "1.5 MiB/s");
    EXPECT_EQ(rate_text(512u << 10), "512 KiB/s");
}

TEST(DownloadLimit, PolicyWinsAndWhatDoesNotReadIsRefusedForTheNextSource)
{
    const LimitSource policy = rate_from_kib("policy", 1024, false);
    const LimitSource option = rate_from_text("--max-rate", std::string("4M"));
    const LimitSource own = rate_from_kib("own", 16384, false);

    DownloadLimit limit = choose_download_limit({policy, option, own});
    EXPECT_EQ(limit.bytes_per_second, 1u << 20);
    EXPECT_EQ(limit.lines, std::vector<std::string>{"download limit: 1 MiB/s (policy)"});
    // A mistake is said even where a policy wins over it.
    limit = choose_download_limit({policy, rate_from_text("--max-rate", std::string("4X")), own});
    EXPECT_EQ(limit.lines, (std::vector<std::string>{"the download limit \"4X\" from --max-rate is not a rate -- ignored",
                                                     "download limit: 1 MiB/s (policy)"}));

    // A policy of 0 is no policy; a value of the wrong type and a rate that
    // does not read are refused, each with its line, and the next one counts.
    limit = choose_download_limit({rate_from_kib("policy", 0, false), rate_from_kib("other policy", {}, true),
                                   rate_from_text("--max-rate", std::string("fast")), own});
    EXPECT_EQ(limit.bytes_per_second, 16u << 20);
    EXPECT_EQ(limit.lines, (std::vector<std::string>{
                               "the download limit that is not a DWORD from other policy is not a rate -- ignored",
                               "the download limit \"fast\" from --max-rate is not a rate -- ignored",
                               "download limit: 16 MiB/s (own)"}));

    limit = choose_download_limit({rate_from_text("--max-rate", std::string("100")), own});
    EXPECT_EQ(limit.bytes_per_second, SMALLEST_DOWNLOAD_LIMIT);
    EXPECT_EQ(limit.lines.front(),
              "the download limit 100 bytes/s from --max-rate is below the smallest one kept -- raised to 16 KiB/s");

    limit = choose_download_limit({rate_from_kib("policy", {}, false), rate_from_text("--max-rate", {})});
    EXPECT_EQ(limit.bytes_per_second, 0u);
    EXPECT_EQ(limit.lines, std::vector<std::string>{"download limit: none"});
}

namespace {

// Twelve readers that each take a slice, wait what the bucket says and take
// the next, on a simulated clock; returns the bytes each whole second let
// through (a slice counts when its wait ends).
std::vector<uint64_t> bytes_per_second(uint64_t rate, int64_t seconds, uint64_t slice)
{
    TokenBucket bucket(rate, budget_burst(rate), 0);
    using Reader = std::pair<int64_t, int>;   // ready time, reader
    std::priority_queue<Reader, std::vector<Reader>, std::greater<Reader>> ready;
    for (int i = 0; i < 12; ++i) ready.push({i * 1000, i});
    std::vector<uint64_t> per_second(static_cast<size_t>(seconds), 0);
    for (;;) {
        auto [now, reader] = ready.top();
        ready.pop();
        const int64_t at = now + bucket.take(slice, now);
        if (at >= seconds * 1'000'000'000) break;
        // One reader's reads bring half a slice and give the rest back.
        const uint64_t used = reader == 3 ? slice - slice / 2 : slice;
        if (used < slice) bucket.give_back(slice - used);
        per_second[static_cast<size_t>(at / 1'000'000'000)] += used;
        ready.push({at + 200'000, reader});
    }
    return per_second;
}

}  // namespace

TEST(DownloadBudget, TwelveReadersTogetherHoldTheRateWithinTheBurst)
{
    for (uint64_t rate : {uint64_t(1) << 20, uint64_t(4) << 20, uint64_t(16) << 20}) {
        DownloadBudget budget(rate);
        const uint64_t slice = budget.slice(1u << 20);
        const std::vector<uint64_t> seconds = bytes_per_second(rate, 30, slice);
        // No second brings more than the rate (the bucket starts empty and
        // its debt keeps the readers in line), and over the run it holds.
        for (size_t s = 0; s < seconds.size(); ++s) EXPECT_LE(seconds[s], rate + 2 * slice) << rate << " " << s;
        uint64_t total = 0;
        for (uint64_t b : seconds) total += b;
        EXPECT_NEAR(static_cast<double>(total) / 30, static_cast<double>(rate), rate * 0.02) << rate;
    }
    // Without a limit nothing waits.
    DownloadBudget none(0);
    EXPECT_EQ(none.slice(12345), 12345u);
    EXPECT_EQ(none.take(1u << 30, nullptr), 0);
}

TEST(DownloadBudget, AStopEndsTheWaitAndGivesTheSliceBack)
{
    DownloadBudget budget(SMALLEST_DOWNLOAD_LIMIT);
    std::atomic<bool> stop{true};
    EXPECT_EQ(budget.take(SMALLEST_DOWNLOAD_LIMIT * 60, &stop), -1);   // a minute's wait, ended
    // The stopped slice left no debt: the next small read waits well under
    // the minute it would otherwise have.
    stop = false;
    EXPECT_LT(budget.take(1024, &stop), 2000);
}

TEST(DownloadBudget, ALowLimitOpensFewerRequestsAtOnce)
{
    EXPECT_EQ(DownloadBudget(1u << 20).connections(), 4u);
    EXPECT_EQ(DownloadBudget(SMALLEST_DOWNLOAD_LIMIT).connections(), 1u);
    EXPECT_GE(DownloadBudget(16u << 20).connections(), 12u);

    DownloadBudget one(SMALLEST_DOWNLOAD_LIMIT);
    std::atomic<bool> stop{true};
    {
        DownloadBudget::Connection first(&one, &stop);
        EXPECT_TRUE(first.entered());   // a free place is taken whatever the flag
        DownloadBudget::Connection second(&one, &stop);
        EXPECT_FALSE(second.entered());   // none free: waits, until the stop
    }
    DownloadBudget::Connection again(&one, &stop);
    EXPECT_TRUE(again.entered());   // the first place came free with its holder
}
