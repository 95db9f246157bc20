#pragma once
// The progress lines of a headless run: while the update downloads or reads
// installed files (comparing: hashing them, then copying the pieces it can
// reuse), at most one line every five seconds with the bytes done of the
// total, the speed and the time left, worked out as the windowed run's
// progress text. Each piece of work (a phase, or a new total within one)
// starts its own clock, and work that ends within its first five seconds
// prints nothing. Plain values in, plain text out: the caller polls the update
// status and prints what comes back.
#include "app/progress_text.h"

#include <cstdint>
#include <string>

constexpr uint64_t PROGRESS_LINE_INTERVAL_MS = 5000;

class ProgressLines {
public:
    // now_ms is a steady millisecond clock; phase and counters as read from
    // the update status. Returns the line to print now, or "".
    std::string poll(uint64_t now_ms, uint32_t phase, int64_t done, int64_t total);

private:
    uint32_t phase_ = 0;       // the phase being timed; 0 when none
    int64_t total_ = 0;        // its total: a new total within a phase is new work
    uint64_t last_line_ = 0;   // start of the work, then time of the last line
    SpeedAverage average_;
};

// " (%.1f mb/s)" in decimal megabytes per second; "" before the first sample.
std::string speed_text(double bytes_per_second);
