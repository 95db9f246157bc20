#include "splash/frame_pacing.h"

#include <algorithm>

double splash_frame_rate(bool has_video, double video_fps)
{
    if (!has_video) return 60.0;
    // A NaN from a broken file would pass std::clamp unchanged.
    if (!(video_fps >= 24.0)) return 24.0;
    return std::min(video_fps, 240.0);
}

int64_t frame_period_ns(double rate) { return static_cast<int64_t>(1e9 / rate); }

int64_t next_frame_index(int64_t previous, int64_t elapsed_ns, double rate)
{
    const int64_t by_clock = static_cast<int64_t>(static_cast<double>(elapsed_ns) / 1e9 * rate);
    return std::max(previous + 1, by_clock);
}

int64_t source_video_frame(int64_t previous, bool next_ready)
{
    if (previous < 0) return 0;
    return next_ready ? previous + 1 : previous;
}

FrameWait frame_wait(int64_t remaining_ns)
{
    FrameWait wait;
    if (remaining_ns < 1) {
        wait.now = true;
        return wait;
    }
    wait.timer_units = std::max<int64_t>(remaining_ns / 100, 1);
    wait.sleep_ms = static_cast<uint32_t>(std::max<int64_t>(remaining_ns / 1000000, 1));
    return wait;
}
