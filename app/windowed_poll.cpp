#include "app/windowed_poll.h"

#include "base/settings.h"
#include "base/update_status.h"

#include <algorithm>
#include <cmath>

namespace {

int whole_percent(float fraction) { return std::clamp(static_cast<int>(std::floor(fraction * 100.0f)), 0, 100); }

// "tarnwick - updating, 45 %"
std::string window_text_of(const char* state, int percent)
{
    return std::string(PRODUCT_NAME) + " - " + state + ", " + std::to_string(percent) + " %";
}

}  // namespace

SplashView WindowedPoll::poll_check(double done, double total, uint64_t now_ms)
{
    if (total != check_total_ || check_start_ == 0) {   // new work: its own clock and speed
        check_total_ = total;
        check_start_ = now_ms;
        check_average_ = SpeedAverage{};
    }
    check_average_.sample(now_ms, done);
    SplashView view;
    if (now_ms - check_start_ < CHECK_SHOWN_AFTER_MS) return view;
    view.progress_known = true;
    view.progress = static_cast<float>(done / total);
    view.text = "checking... " + progress_text(check_average_, now_ms, done, total);
    view.window_text = window_text_of("checking", whole_percent(view.progress));
    return view;
}

SplashView WindowedPoll::poll(uint32_t phase, double done, double total, uint64_t now_ms)
{
    SplashView view = phase == PHASE_COMPARING && total > 0 ? poll_check(done, total, now_ms)
                                                            : poll_update(phase, done, total, now_ms);
    if (view.window_text.empty()) view.window_text = PRODUCT_NAME;
    return view;
}

SplashView WindowedPoll::poll_update(uint32_t phase, double done, double total, uint64_t now_ms)
{
    SplashView view;
    if (phase == PHASE_DOWNLOADING && total > 0) {
        view.progress_known = true;
        view.progress = static_cast<float>(done / total) * 0.9f;
    } else if (phase == PHASE_INSTALLING && total > 0) {
        view.progress_known = true;
        view.progress = static_cast<float>(done / total) * 0.1f + 0.9f;
    }

    const bool busy = phase == PHASE_DOWNLOADING || phase == PHASE_INSTALLING ||
                      phase == PHASE_WAITING_FOR_GAME;
    std::string label = busy && game_present_ ? "updating..." : "";
    if (phase == PHASE_DOWNLOADING && total > 0) {
        average_.sample(now_ms, done);
        std::string numbers = progress_text(average_, now_ms, done, total);
        view.text = label.empty() ? numbers : label + " " + numbers;
    } else {
        view.text = label;
    }
    if (busy) {
        // Waiting for the game keeps the bar, and the percentage, where they were.
        if (view.progress_known) updating_percent_ = whole_percent(view.progress);
        if (updating_percent_ >= 0) view.window_text = window_text_of("updating", updating_percent_);
    }
    return view;
}

WindowedEnd windowed_end(bool ready, uint32_t phase)
{
    if (ready) return WindowedEnd::start_game;
    if (phase == PHASE_LAUNCHER_UPDATE) return WindowedEnd::quiet_exit;
    return WindowedEnd::warning;
}

std::string warning_text(const std::string& message)
{
    return message.empty() ? std::string(PRODUCT_NAME) + " could not be updated" : message;
}
