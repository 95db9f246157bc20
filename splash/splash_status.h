#pragma once
// What the launcher's main thread tells the splash: the progress, the status
// line and the window's text, and when to close. The main thread writes it,
// the splash thread reads it; nothing here calls into the window.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

struct SplashStatus {
    std::atomic<bool> splash_alive{false};
    std::atomic<bool> quit_requested{false};
    // Raised by the splash thread once its start-up is over: the first frame
    // is on screen and the background video has opened, failed, or is none.
    std::atomic<bool> started{false};

    // The main thread's progress fraction as float bits; negative = unknown.
    void set_progress(float value) { progress_bits.exchange(float_bits(value)); }
    float progress() const { return bits_float(progress_bits.load()); }

    // The status line under the bar; the lock is held only to copy it.
    void set_text(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(text_mutex);
        splash_text = text;
    }
    std::string text()
    {
        std::lock_guard<std::mutex> lock(text_mutex);
        return splash_text;
    }

    // The window's own text (what screen readers say); the splash thread
    // puts it on the window at most once a second.
    void set_window_text(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(text_mutex);
        wanted_window_text = text;
    }
    std::string window_text()
    {
        std::lock_guard<std::mutex> lock(text_mutex);
        return wanted_window_text;
    }

    // Set before the splash thread starts, read-only afterwards.
    std::string assets_dir;   // UTF-8
    int32_t default_width = 1920;
    int32_t default_height = 1080;
    int64_t start_time = 0;   // steady clock, nanoseconds

private:
    static uint32_t float_bits(float v)
    {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }
    static float bits_float(uint32_t b)
    {
        float v;
        std::memcpy(&v, &b, sizeof v);
        return v;
    }

    std::atomic<uint32_t> progress_bits{float_bits(-1.0f)};
    std::mutex text_mutex;
    std::string splash_text;
    std::string wanted_window_text;
};
