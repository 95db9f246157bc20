#include "splash/splash_geometry.h"

#include <algorithm>
#include <cmath>

WindowRect centred_start_rect(int screen_w, int screen_h, int wanted_w, int wanted_h)
{
    WindowRect r;
    r.w = std::min(screen_w, wanted_w);
    r.h = std::min(screen_h, wanted_h);
    r.x = (screen_w - r.w) / 2;
    r.y = (screen_h - r.h) / 2;
    return r;
}

int caption_button_at(int x, int y, int client_width, int caption_height, float dpi_scale)
{
    if (y < 0 || y >= caption_height || x < 0 || x >= client_width) return NO_BUTTON;
    const int w = std::max(1, static_cast<int>(std::lround(46 * dpi_scale)));
    if (x < client_width - 3 * w) return NO_BUTTON;
    const int k = (client_width - x - 1) / w;
    return k <= 2 ? 2 - k : NO_BUTTON;
}

bool caption_drags_window(int x, int y, int client_width, int caption_height, float dpi_scale,
                          bool maximized)
{
    if (maximized || y < 0 || y >= caption_height) return false;
    return caption_button_at(x, y, client_width, caption_height, dpi_scale) == NO_BUTTON;
}
