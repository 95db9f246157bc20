#pragma once
// The game window's last position and size, kept by the game in
// LOCALAPPDATA\tarnwick-window.txt as one line "v2 x y width height". The
// splash opens at that rectangle so it covers where the game will appear.
#include <string>

// Parses the placement text. Accepted only with all five numbers, version 2,
// 320 <= width <= screen width, height >= 200, y >= 0 and
// y + height <= screen height; x is taken as stored (it may lie on a monitor
// left of the primary one). Numbers outside 32 bits are rejected.
bool parse_window_placement(const std::string& text, int screen_w, int screen_h, int& x, int& y,
                            int& w, int& h);

// Reads and parses the placement file; false when LOCALAPPDATA is not set or
// the file is missing, unreadable or not accepted. Outputs change only on true.
bool read_window_placement(int screen_w, int screen_h, int& x, int& y, int& w, int& h);
