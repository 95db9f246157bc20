#pragma once
// The two Desktop Window Manager calls the splash uses, looked up once at
// run time in dwmapi.dll; without them the features quietly go away.
#include <windows.h>

// Rounded corners (or square ones while maximised); nothing without DWM.
void set_corner_preference(HWND window, bool round);

// The window's frame as the screen shows it, without the invisible resize
// borders. True only when the call exists, succeeds and left < right.
bool extended_frame_bounds(HWND window, RECT& rect);
