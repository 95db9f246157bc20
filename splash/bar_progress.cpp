#include "splash/bar_progress.h"

#include <algorithm>
#include <cmath>

float progress_target(float progress, double seconds)
{
    if (progress >= 0) return std::min(progress, 1.0f);
    return static_cast<float>(0.02 * std::min(seconds / 20.0, 1.0));
}

float smooth_progress(float displayed, float target, double dt_seconds)
{
    const double dt = std::clamp(dt_seconds, 0.0, 0.1);
    const double k = std::min(1.0, 4.0 * dt);
    return static_cast<float>(displayed + k * (target - displayed));
}

int tick_step(float displayed)
{
    const float p = std::clamp(displayed, 0.0f, 1.0f);
    return std::clamp(static_cast<int>(std::lround(p * 9.0f)), 0, 9);
}

bool TickSteps::advance(float displayed)
{
    const int step = tick_step(displayed);
    const bool due = step > last;
    last = std::max(last, step);
    return due;
}
