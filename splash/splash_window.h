#pragma once
// The splash window and its frame loop, on the splash thread.
#include "splash/splash_renderer.h"
#include "splash/splash_status.h"

#include <windows.h>

// Creates the window at (x, y) with the renderer's size, runs the frame loop
// (which reads the progress and text from status and ends on its
// quit_requested, among others) and destroys the window.
void run_splash_window(SplashStatus& status, SplashRenderer& renderer, int x, int y);

// The window procedure of class "tarnwickSplash": caption hit-testing and
// the self-drawn caption buttons.
LRESULT CALLBACK splash_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
