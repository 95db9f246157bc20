// Frame numbers and media times of the background video decoder.
#include "splash/video_timing.h"

#include <gtest/gtest.h>

TEST(VideoTiming, NtscRateRoundTripsThroughMediaTime)
{
    FrameRate ntsc{30000, 1001};
    EXPECT_EQ(frame_time(1, ntsc), 333667);
    EXPECT_EQ(frame_at_time(333667, ntsc), 1);
    for (int64_t n : {0, 2, 29, 30, 1799, 108000})
        EXPECT_EQ(frame_at_time(frame_time(n, ntsc), ntsc), n) << n;
}

TEST(VideoTiming, MissingOrBrokenRateMeansSixtyFps)
{
    for (auto [num, den] : {std::pair{0, 0}, {30, 0}, {0, 1}, {-30, 1}, {30, -1}}) {
        FrameRate rate = normalised_frame_rate(num, den);
        EXPECT_EQ(rate.num, 60);
        EXPECT_EQ(rate.den, 1);
    }
    EXPECT_DOUBLE_EQ(frames_per_second(FrameRate{}), 60.0);
    EXPECT_EQ(frame_time(3, FrameRate{}), 500000);
}

TEST(VideoTiming, FrameCountFromDurationRounds)
{
    FrameRate thirty{30, 1};
    EXPECT_EQ(frames_in_duration(40'000'000, thirty), 120);
    EXPECT_EQ(frames_in_duration(40'100'000, thirty), 120);
    EXPECT_EQ(frames_in_duration(40'200'000, thirty), 121);
    EXPECT_EQ(frames_in_duration(0, thirty), 0);
}

TEST(VideoTiming, ReadsOnWithinNinetyFramesAheadOtherwiseSeeks)
{
    EXPECT_TRUE(needs_seek(-1, 0) == false);   // nothing read yet: frame 0 is next anyway
    EXPECT_FALSE(needs_seek(10, 11));
    EXPECT_FALSE(needs_seek(10, 100));
    EXPECT_TRUE(needs_seek(10, 101));
    EXPECT_TRUE(needs_seek(10, 10));
    EXPECT_TRUE(needs_seek(10, 3));
}
