#pragma once
// Frame numbers and media times (100-ns units) of a video with a rational
// frame rate. Integer arithmetic where the result must round-trip exactly.
#include <cmath>
#include <cstdint>

constexpr int64_t MEDIA_TIME_UNITS_PER_SECOND = 10'000'000;

// The frame rate the decoder works with: num / den, or 60/1 when the file
// gives none or a fraction that is not positive (a zero numerator would make
// every frame time a division by zero).
struct FrameRate {
    int32_t num = 60;
    int32_t den = 1;
};

inline FrameRate normalised_frame_rate(int64_t num, int64_t den)
{
    if (num <= 0 || den <= 0 || num > INT32_MAX || den > INT32_MAX) return {};
    return {static_cast<int32_t>(num), static_cast<int32_t>(den)};
}

inline double frames_per_second(FrameRate rate)
{
    return rate.den == 0 ? 60.0 : static_cast<double>(rate.num) / rate.den;
}

// Start time of frame n, rounded to the nearest 100-ns unit.
inline int64_t frame_time(int64_t n, FrameRate rate)
{
    if (rate.num <= 0) return 0;
    return (n * rate.den * MEDIA_TIME_UNITS_PER_SECOND + rate.num / 2) / rate.num;
}

// The frame a sample time belongs to, rounded to the nearest frame.
inline int64_t frame_at_time(int64_t time, FrameRate rate)
{
    return std::llround(static_cast<double>(time) * frames_per_second(rate) /
                        MEDIA_TIME_UNITS_PER_SECOND);
}

// Frames in a file of the given duration; never negative.
inline int64_t frames_in_duration(uint64_t duration, FrameRate rate)
{
    double frames = static_cast<double>(duration) / MEDIA_TIME_UNITS_PER_SECOND *
                    frames_per_second(rate);
    int64_t count = std::llround(frames);
    return count < 0 ? 0 : count;
}

// The decoder reads on instead of seeking when frame n lies at most this far
// ahead of the frame it delivered last.
constexpr int64_t READ_ON_WINDOW = 90;

inline bool needs_seek(int64_t last_frame, int64_t n)
{
    return !(last_frame < n && n <= last_frame + READ_ON_WINDOW);
}
