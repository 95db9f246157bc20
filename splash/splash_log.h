#pragma once
// "splash.log" in the splash cache folder: a line whenever the foreground
// window changes, a state line every half second (frames, bar, host, splash
// rectangle, z-order, foreground), for diagnosing a splash that hid behind
// something or never went away, and a line for every frame that came more
// than 50 ms after the one before (a visible stall). Two events of the start
// have a line too: the first frame presented and the video's first frame;
// and the end a line of CPU time per frame, of the window's thread and of the
// video's decode thread, which the window benchmark reads.
#include "splash/frame_source.h"
#include "splash/splash_loop.h"

#include <cstdio>
#include <memory>

class SplashLog {
public:
    // Truncates the log in the cache folder; without it nothing is written.
    void open();
    // After each presented frame; interval: seconds since the frame before,
    // foreground: the foreground window this frame.
    void frame(const SplashLoop& loop, double seconds, double interval, HWND foreground);
    // "<seconds>s <event>", written at once.
    void note(double seconds, const char* event);
    // At the end: the window thread's CPU time per frame after the first,
    // and the decode thread's per video frame it made (source may be null).
    void cpu(int64_t frames, int64_t window_cpu_ns, const VideoFrameSource* source);

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    HWND last_logged_foreground_ = nullptr;
    char foreground_class_[64] = {};        // of last_logged_foreground_
    const char* foreground_owner_ = "other";
    double next_state_time_ = 0;
};
