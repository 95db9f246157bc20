#pragma once
// The one splash of the process and its thread: start_splash starts the
// thread, which runs the window (splash_window.h) until stop_splash or the
// window's own end. The main thread talks to it through the status record.
#include "splash/splash_status.h"

#include <string>
#include <thread>

struct SplashState : SplashStatus {
    std::thread splash_thread;
};

// The one splash of the process.
extern SplashState splash_state;

// Writes the hand-over time stamp, records the folder, size and start time,
// raises splash_alive and starts the splash thread. False (splash_alive
// lowered again) when the thread cannot be started; a second call while the
// thread exists does nothing and returns true.
bool start_splash(const std::string& assets_dir, int width, int height);

// Raises quit_requested and joins the splash thread (when there is one).
void stop_splash();

// The splash thread's work: GDI+, the renderer, the window and its loop.
void splash_thread_main();
