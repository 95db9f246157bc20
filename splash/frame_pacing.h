#pragma once
// Frame pacing of the splash loop: frames are due at absolute deadlines
// (origin + period x index), so the rate never drifts and a late frame skips
// ahead instead of drawing a burst of catch-up frames. Plain numbers in and
// out; the loop owns the clock and the timer.
#include <cstdint>

// The loop's rate: the video's frames per second clamped to [24, 240] when
// there is a video, else 60.
double splash_frame_rate(bool has_video, double video_fps);

// Nanoseconds per frame, truncated.
int64_t frame_period_ns(double rate);

// The frame due now: one past the previous index, or further when the clock
// says frames were missed. elapsed_ns counts from the timing origin.
int64_t next_frame_index(int64_t previous, int64_t elapsed_ns, double rate);

// The video frame to show without a frame source: it follows the clock
// exactly like the timing index.
inline int64_t clock_video_frame(int64_t previous, int64_t elapsed_ns, double rate)
{
    return next_frame_index(previous, elapsed_ns, rate);
}

// The video frame to show with a frame source: the start frame first, then
// one step forward only once the next frame is decoded, so decoding never
// holds up drawing.
int64_t source_video_frame(int64_t previous, bool next_ready);

// How to wait for the next deadline.
struct FrameWait {
    bool now = false;          // the deadline has passed: go on at once
    int64_t timer_units = 0;   // relative due time in 100-ns units (at least 1)
    uint32_t sleep_ms = 0;     // when sleeping instead (at least 1)
};

// remaining_ns = origin + period x (index + 1) - now.
FrameWait frame_wait(int64_t remaining_ns);
