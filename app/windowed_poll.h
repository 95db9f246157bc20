#pragma once
// The windowed run's decisions, free of any window: what one 30 ms poll of
// the update status puts on the splash (bar fraction and status line), how
// the run ends, and the text of the warning box.
#include "app/progress_text.h"
#include "base/settings.h"

#include <cstdint>
#include <string>

struct SplashView {
    bool progress_known = false;   // false: the bar keeps its last value
    float progress = 0;
    std::string text;
    // The window's own text, which screen readers say: the product, and
    // what the bar shows while it shows something ("tarnwick - updating, 45 %").
    std::string window_text;
};

// The window text once the game is being started.
inline constexpr const char* STARTING_WINDOW_TEXT = TW_PRODUCT_WORD " - starting the game";

class WindowedPoll {
public:
    // game_present: a game executable is installed, so the download is an
    // update ("updating...") rather than a first install (numbers alone).
    explicit WindowedPoll(bool game_present) : game_present_(game_present) {}

    // One poll: the phase and byte counters of the update status, the
    // millisecond tick count now.
    SplashView poll(uint32_t phase, double done, double total, uint64_t now_ms);

private:
    // The hashing of installed files (the comparing phase) as a pass of its own: shown
    // only once it has lasted CHECK_SHOWN_AFTER_MS, so that the few files a
    // normal update hashes do not flash the bar.
    SplashView poll_check(double done, double total, uint64_t now_ms);
    SplashView poll_update(uint32_t phase, double done, double total, uint64_t now_ms);

    bool game_present_;
    int updating_percent_ = -1;   // the last percentage the bar showed while updating
    SpeedAverage average_;
    SpeedAverage check_average_;
    double check_total_ = 0;
    uint64_t check_start_ = 0;
};

constexpr uint64_t CHECK_SHOWN_AFTER_MS = 2000;

enum class WindowedEnd { start_game, quiet_exit, warning };

// ready: start the game; the launcher-update phase (a newer launcher took
// over): end quietly; anything else: tell the player why in a warning box.
WindowedEnd windowed_end(bool ready, uint32_t phase);

// The warning box text: the status message, or a general one when the
// update failed without saying why.
std::string warning_text(const std::string& message);

// The longest wait for the game's loading window after the start.
constexpr uint64_t HANDOVER_LIMIT_MS = 119999;
