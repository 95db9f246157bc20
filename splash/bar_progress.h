#pragma once
// What the splash bar shows: the target from the main thread's progress (or
// a slow creep while nothing is known), the smoothed value drawn on screen,
// and the tick sound's steps. Plain numbers; the loop owns the state.

// The bar's target: progress capped at 1 when it is known (not negative);
// otherwise a creep to 2 % over the first 20 seconds.
float progress_target(float progress, double seconds);

// One frame of smoothing towards the target: rate 4 per second, steps of at
// most 0.1 s, never past the target.
float smooth_progress(float displayed, float target, double dt_seconds);

// 0..9: the tenth of the bar that is reached, rounded.
int tick_step(float displayed);

// Seconds without any known progress after which the splash gives up.
constexpr double UNKNOWN_PROGRESS_LIMIT_S = 300.0;

// One tick each time the bar reaches a higher step; at most nine per bar and
// one per frame.
struct TickSteps {
    int last = 0;
    // True when a tick is due for this frame's displayed progress.
    bool advance(float displayed);
};
