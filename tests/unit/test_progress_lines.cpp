#include "app/progress_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Polls every 250 ms from `from` to `to` (inclusive) with done rising at
// `rate` bytes per ms from `from`; returns the lines with their times.
std::vector<std::pair<uint64_t, std::string>> run(ProgressLines& lines, uint32_t phase,
                                                  uint64_t from, uint64_t to, double rate,
                                                  int64_t total)
{
    std::vector<std::pair<uint64_t, std::string>> out;
    for (uint64_t t = from; t <= to; t += 250) {
        std::string line = lines.poll(t, phase, static_cast<int64_t>((t - from) * rate), total);
        if (!line.empty()) out.emplace_back(t, line);
    }
    return out;
}

}  // namespace

TEST(ProgressLines, EveryFiveSecondsWithSpeedAndLaterTheTimeLeft)
{
    ProgressLines lines;
    auto out = run(lines, 3, 1000, 11000, 20000, 1000000000);   // 20 MB/s of 1 GB
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].first, 6000u);
    EXPECT_EQ(out[0].second, "downloading: 0.1 / 1.0 gb (20.0 mb/s)");
    EXPECT_EQ(out[1].first, 11000u);
    EXPECT_EQ(out[1].second, "downloading: 0.2 / 1.0 gb - 1 min (20.0 mb/s)");
}

TEST(ProgressLines, ShortWorkStaysSilentAndEachPhaseStartsItsOwnClock)
{
    ProgressLines lines;
    EXPECT_TRUE(run(lines, 3, 1000, 5750, 20000, 1000000000).empty());
    EXPECT_TRUE(run(lines, 4, 6000, 30000, 0, 10).empty());             // not reported
    EXPECT_TRUE(run(lines, 2, 30000, 40000, 20000, 0).empty());         // no total yet
    auto hashing = run(lines, 2, 40250, 46000, 20000, 1000000000);
    ASSERT_EQ(hashing.size(), 1u);
    EXPECT_EQ(hashing[0].first, 45250u);
    EXPECT_EQ(hashing[0].second.rfind("checking the installed files: 0.1 / 1.0 gb", 0), 0u);
    // The same phase with a new total (the next step's counters): a new clock.
    EXPECT_TRUE(run(lines, 2, 46250, 51000, 20000, 500000000).empty());
}
