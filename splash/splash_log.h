#pragma once
// "splash.log" in the splash cache folder: a line whenever the foreground
// window changes and a state line every half second (frames, bar, host,
// splash rectangle, z-order, foreground), for diagnosing a splash that hid
// behind something or never went away.
#include "splash/splash_loop.h"

#include <cstdio>
#include <memory>

class SplashLog {
public:
    // Truncates the log in the cache folder; without it nothing is written.
    void open();
    // After each presented frame.
    void frame(const SplashLoop& loop, double seconds);

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    HWND last_logged_foreground_ = nullptr;
    double next_state_time_ = 0;
};
