#pragma once
// Waiting for the splash's next frame deadline: a high-resolution waitable
// timer where the system has one, else a plain one, else Sleep.
#include "base/win_handles.h"
#include "splash/frame_pacing.h"

#include <cstdint>

class FrameTimer {
public:
    FrameTimer();
    // Returns at the deadline (or after at most 100 ms with a timer).
    void wait(const FrameWait& wait);
    const char* kind() const { return kind_; }

private:
    KernelHandle timer_;
    const char* kind_ = "sleep";
};

// Steady-clock nanoseconds, the splash's time base.
int64_t splash_clock_ns();

// CPU time (user and kernel) the calling thread has used, in nanoseconds.
int64_t thread_cpu_ns();
