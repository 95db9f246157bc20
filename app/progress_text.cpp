#include "app/progress_text.h"

#include <cstdio>

void SpeedAverage::sample(uint64_t now_ms, double done)
{
    if (t_last == 0) {
        t_start = t_last = now_ms;
        done_last = done;
        return;
    }
    if (now_ms - t_last < 1000) return;
    const double sample = (done - done_last) * 1000.0 / static_cast<double>(now_ms - t_last);
    speed = speed <= 0 ? sample : sample * 0.05 + speed * 0.95;
    t_last = now_ms;
    done_last = done;
}

std::string gigabytes_text(double done, double total)
{
    char text[96];
    std::snprintf(text, sizeof text, "%.1f / %.1f gb", done / 1e9, total / 1e9);
    return text;
}

std::string remaining_time_text(double seconds)
{
    char text[64];
    if (seconds >= 5400) {
        std::snprintf(text, sizeof text, " - %.1f h", seconds / 3600);
    } else {
        int minutes = static_cast<int>(seconds / 60 + 0.5);
        if (minutes < 1) minutes = 1;
        std::snprintf(text, sizeof text, " - %d min", minutes);
    }
    return text;
}

std::string progress_text(const SpeedAverage& average, uint64_t now_ms, double done, double total)
{
    std::string text = gigabytes_text(done, total);
    if (average.t_last != 0 && now_ms - average.t_start >= 10000 && average.speed > 1)
        text += remaining_time_text((total - done) / average.speed);
    return text;
}
