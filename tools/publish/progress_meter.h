#pragma once
// Progress lines on stderr for long publishing runs: at most one a second,
// and then only after another 5% of the bytes or 10 seconds of silence.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class ProgressMeter {
public:
    ProgressMeter(uint64_t total_pieces, uint64_t total_bytes);
    // Thread-safe.
    void piece_done(uint64_t raw_bytes);

private:
    using Clock = std::chrono::steady_clock;
    std::mutex mutex_;
    uint64_t total_pieces_, total_bytes_;
    uint64_t pieces_ = 0, bytes_ = 0, bytes_at_last_line_ = 0;
    Clock::time_point last_line_;
};

// "512 bytes", "1.5 KB", "12.3 MB", "1.2 GB" (decimal units).
std::string format_bytes(uint64_t bytes);
