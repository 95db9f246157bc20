#include "splash/frame_timer.h"

#include <chrono>

namespace {
constexpr DWORD TIMER_MISSED_MARGIN_MS = 2;
}

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

FrameTimer::FrameTimer()
{
    timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS));
    if (timer_) {
        kind_ = "high-resolution timer";
        return;
    }
    timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET,
                                        TIMER_ALL_ACCESS));
    if (timer_) kind_ = "timer";
}

void FrameTimer::wait(const FrameWait& wait)
{
    if (wait.now) return;
    if (!timer_) {
        Sleep(wait.sleep_ms);
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -wait.timer_units;   // negative: relative to now
    if (!SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE)) {
        Sleep(1);
        return;
    }
    // The wait is bounded by the frame's own due time, a little after the
    // timer's: a timer that fires late or not at all (under emulation one
    // was seen to miss its time while the download kept the machine busy)
    // costs the frame a couple of milliseconds, not a tenth of a second.
    WaitForSingleObject(timer_.get(), wait.sleep_ms + TIMER_MISSED_MARGIN_MS);
}

int64_t splash_clock_ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t thread_cpu_ns()
{
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100;
}
