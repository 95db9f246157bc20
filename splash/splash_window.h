#pragma once
// The splash window and its frame loop, on the splash thread.
#include "splash/splash_renderer.h"

#include <windows.h>

// Creates the window at (x, y) with the renderer's size, runs the frame loop
// until one of its end conditions, and destroys the window.
void run_splash_window(SplashRenderer& renderer, int x, int y);

// The window procedure of class "tarnwickSplash": caption hit-testing and
// the self-drawn caption buttons.
LRESULT CALLBACK splash_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
