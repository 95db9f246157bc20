#pragma once
// The splash's shared record and its thread. The main thread writes the
// progress and the status line, raises quit_requested and reads
// splash_alive; everything else belongs to the splash thread.
#include "base/win_handles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

struct SplashState {
    std::thread splash_thread;
    std::atomic<bool> splash_alive{false};
    std::atomic<bool> quit_requested{false};

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

    // Set by start_splash before the thread starts, read-only afterwards.
    std::string assets_dir;   // UTF-8
    int32_t default_width = 1920;
    int32_t default_height = 1080;
    int64_t start_time = 0;   // steady clock, nanoseconds

    // Splash thread only.
    int32_t caption_height = 0;
    bool caption_from_host = false;
    float dpi_scale = 1.0f;
    int32_t hover_button = -1;
    int32_t pressed_button = -1;
    int32_t caption_command = -1;   // posted by the window procedure for the loop
    bool user_moved = false;
    bool maximized = false;
    RECT restore_rect{};
    std::wstring title = L"tarnwick";
    IconHandle small_icon;   // the caption's and the task bar's icon
    bool user_placed = false;
    bool minimized = false;
    HWND window = nullptr;

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

// The one splash of the process.
extern SplashState splash_state;

// Steady-clock nanoseconds, the splash's time base.
int64_t splash_clock_ns();

// Writes the hand-over time stamp, records the folder, size and start time,
// raises splash_alive and starts the splash thread. False (splash_alive
// lowered again) when the thread cannot be started; a second call while the
// thread exists does nothing and returns true.
bool start_splash(const std::string& assets_dir, int width, int height);

// Raises quit_requested and joins the splash thread (when there is one).
void stop_splash();

// The splash thread's work: GDI+, the renderer, the window and its loop.
void splash_thread_main();
