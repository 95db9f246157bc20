#pragma once
// Where the splash window goes and what its self-drawn caption does at a
// point: the start rectangle, the caption buttons, the smallest size the
// window takes. Plain numbers; the window code supplies the metrics.

struct WindowRect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The wanted size capped to the primary screen, centred on it.
WindowRect centred_start_rect(int screen_w, int screen_h, int wanted_w, int wanted_h);

// A target smaller than this is never applied (maximise, restore, host).
constexpr int MIN_SPLASH_WIDTH = 320;
constexpr int MIN_SPLASH_HEIGHT = 200;
inline bool splash_size_usable(int w, int h) { return w >= MIN_SPLASH_WIDTH && h >= MIN_SPLASH_HEIGHT; }

// Caption buttons, right to left: 2 close, 1 maximise/restore, 0 minimise.
enum CaptionButton { NO_BUTTON = -1, MINIMISE_BUTTON = 0, MAXIMISE_BUTTON = 1, CLOSE_BUTTON = 2 };

// The caption button under a point in client coordinates, or NO_BUTTON.
// Buttons are round(46 x dpi_scale) wide in the top caption_height rows; a
// point outside the client area (the mouse is captured while a button is
// held) is over no button.
int caption_button_at(int x, int y, int client_width, int caption_height, float dpi_scale);

// The caption band drags the window, except over a button or while the
// window is maximised.
bool caption_drags_window(int x, int y, int client_width, int caption_height, float dpi_scale,
                          bool maximized);
