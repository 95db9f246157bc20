#include "app/progress_text.h"

#include <gtest/gtest.h>

TEST(ProgressText, GigabytesAndRemainingTimeBoundaries)
{
    EXPECT_EQ(gigabytes_text(1.2e9, 9.8e9), "1.2 / 9.8 gb");
    EXPECT_EQ(remaining_time_text(5399), " - 90 min");
    EXPECT_EQ(remaining_time_text(5400), " - 1.5 h");
    EXPECT_EQ(remaining_time_text(20), " - 1 min");
}

TEST(ProgressText, RemainingTimeOnlyAfterTenSecondsOfSamples)
{
    SpeedAverage average;
    average.sample(1000, 0);
    average.sample(2000, 1e8);   // first full second: 100 MB/s taken as is
    EXPECT_DOUBLE_EQ(average.speed, 1e8);
    average.sample(2500, 5e8);   // under a second later: ignored
    EXPECT_DOUBLE_EQ(average.speed, 1e8);
    average.sample(3000, 3e8);   // 200 MB/s weighted 5 %
    EXPECT_DOUBLE_EQ(average.speed, 1.05e8);

    EXPECT_EQ(progress_text(average, 10999, 3e8, 9.8e9), "0.3 / 9.8 gb");
    // 9.5e9 bytes left at 1.05e8 B/s: 90.5 s -> rounds to 2 minutes
    EXPECT_EQ(progress_text(average, 11000, 3e8, 9.8e9), "0.3 / 9.8 gb - 2 min");
}
