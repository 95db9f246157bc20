#pragma once
// The download progress as the player reads it: decimal gigabytes done of the
// total, a smoothed speed and the time left. The windowed run shows it under
// the bar; headless runs print it as a progress line. Plain values in, plain
// text out.
#include <cstdint>
#include <string>

// A speed that follows the transfer without jumping: one sample per second at
// most, each weighted 5 % against the running average.
struct SpeedAverage {
    uint64_t t_start = 0;   // ms of the first sample; 0 = no sample yet
    uint64_t t_last = 0;
    double done_last = 0;
    double speed = 0;       // bytes per second, 0 until the first full second

    // now_ms is a millisecond tick count; done the bytes done so far.
    void sample(uint64_t now_ms, double done);
};

// "%.1f / %.1f gb" with done and total in bytes (decimal gigabytes).
std::string gigabytes_text(double done, double total);

// " - %.1f h" from 5400 s on, else " - %d min" rounded to whole minutes and at
// least 1 (a remainder under 90 s shows 1 minute).
std::string remaining_time_text(double seconds);

// The numbers, followed by the time left once ten seconds have passed since
// the first sample and the speed is above one byte per second.
std::string progress_text(const SpeedAverage& average, uint64_t now_ms, double done, double total);
