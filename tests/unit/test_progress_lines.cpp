#include "app/progress_lines.h"

#include <gtest/gtest.h>

// Polls every 250 ms from `from` to `to` with done rising 20 bytes per ms (20
// MB/s) from `from`; returns the lines with their times.
static std::vector<std::pair<uint64_t, std::string>> poll(ProgressLines& lines, uint32_t phase,
                                                          uint64_t from, uint64_t to, int64_t total)
{
    std::vector<std::pair<uint64_t, std::string>> out;
    for (uint64_t t = from; t <= to; t += 250) {
        std::string line = lines.poll(t, phase, static_cast<int64_t>(t - from) * 20000, total);
        if (!line.empty()) out.emplace_back(t, line);
    }
    return out;
}

TEST(ProgressLines, EveryFiveSecondsOfEachPieceOfWorkAndNothingForShortWork)
{
    ProgressLines lines;
    using Lines = std::vector<std::pair<uint64_t, std::string>>;
    EXPECT_EQ(poll(lines, 3, 1000, 11000, 1000000000),
              (Lines{{6000, "downloading: 0.1 / 1.0 gb (20.0 mb/s)"},
                     {11000, "downloading: 0.2 / 1.0 gb - 1 min (20.0 mb/s)"}}));
    EXPECT_TRUE(poll(lines, 4, 11250, 30000, 10).empty());        // not reported
    EXPECT_TRUE(poll(lines, 3, 30250, 35000, 1000000000).empty());  // ends within 5 s
    EXPECT_TRUE(poll(lines, 2, 35250, 40000, 0).empty());           // no total yet
    auto hashing = poll(lines, 2, 40250, 46000, 1000000000);
    ASSERT_EQ(hashing.size(), 1u);
    EXPECT_EQ(hashing[0].first, 45250u);
    EXPECT_EQ(hashing[0].second.rfind("checking the installed files: 0.1 / 1.0 gb", 0), 0u);
    EXPECT_TRUE(poll(lines, 2, 46250, 51000, 500000000).empty());  // new total: a new clock
}
