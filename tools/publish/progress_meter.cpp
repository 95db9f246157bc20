#include "tools/publish/progress_meter.h"

#include <cstdio>

ProgressMeter::ProgressMeter(uint64_t total_pieces, uint64_t total_bytes)
    : total_pieces_(total_pieces), total_bytes_(total_bytes), last_line_(Clock::now())
{
}

void ProgressMeter::piece_done(uint64_t raw_bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++pieces_;
    bytes_ += raw_bytes;
    auto now = Clock::now();
    auto quiet = now - last_line_;
    bool enough_work = (bytes_ - bytes_at_last_line_) * 20 >= total_bytes_;
    if (quiet < std::chrono::seconds(1) || (!enough_work && quiet < std::chrono::seconds(10)))
        return;
    std::fprintf(stderr, "published %llu / %llu pieces, %s of %s\n",
                 static_cast<unsigned long long>(pieces_),
                 static_cast<unsigned long long>(total_pieces_), format_bytes(bytes_).c_str(),
                 format_bytes(total_bytes_).c_str());
    last_line_ = now;
    bytes_at_last_line_ = bytes_;
}

std::string format_bytes(uint64_t bytes)
{
    static const char* const UNITS[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1000;
    int unit = 0;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, UNITS[unit]);
    return text;
}
