#include "app/progress_lines.h"

#include "base/update_status.h"

#include <cstdio>

namespace {

// The phases that report progress, and the words that start their lines.
const char* work_label(uint32_t phase)
{
    switch (phase) {
    case PHASE_COMPARING: return "checking the installed files: ";
    case PHASE_DOWNLOADING: return "downloading: ";
    default: return nullptr;
    }
}

}  // namespace

std::string speed_text(double bytes_per_second)
{
    if (bytes_per_second <= 0) return {};
    char text[48];
    std::snprintf(text, sizeof text, " (%.1f mb/s)", bytes_per_second / 1e6);
    return text;
}

std::string ProgressLines::poll(uint64_t now_ms, uint32_t phase, int64_t done, int64_t total)
{
    const char* label = work_label(phase);
    if (!label || total <= 0) {   // no work with a total: the next one starts afresh
        phase_ = 0;
        return {};
    }
    const double d = static_cast<double>(done);
    if (phase != phase_ || total != total_) {
        phase_ = phase;
        total_ = total;
        last_line_ = now_ms;
        average_ = SpeedAverage{};
        average_.sample(now_ms, d);
        return {};
    }
    average_.sample(now_ms, d);
    if (now_ms - last_line_ < PROGRESS_LINE_INTERVAL_MS) return {};
    last_line_ = now_ms;
    return label + progress_text(average_, now_ms, d, static_cast<double>(total)) +
           speed_text(average_.speed);
}
