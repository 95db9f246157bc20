#pragma once
// The capsule progress bar: a dark rounded body with a soft drop shadow, a
// shining colour-ramp fill, and a glint running round the outline once every
// three seconds. Shaded per pixel straight into the back buffer.
#include "splash/pixel_buffer.h"
#include "splash/splash_layout.h"

#include <cstddef>

// All lengths in pixels, derived from the bar rectangle (u = bar width / 10).
struct CapsuleGeometry {
    float u;   // unit
    float T;   // thickness
    float r;   // end radius
    float cy;  // centre line
    float xl;  // left end centre
    float xr;  // right end centre
    float S;   // straight length
    float P;   // outline length
    float A;   // shadow reach
    float E;   // edge width
    float g;   // inner pad of the fill
    float fr;  // fill radius
    float f0;  // fill start
    float f1;  // fill end
};

CapsuleGeometry capsule_geometry(const BarRect& bar, float progress);

// Shades the bar over whatever the buffer holds. Only the bar's bounding box
// (plus its shadow and glint margin) is visited; it allocates nothing.
void shade_capsule_bar(PixelBuffer& buf, const BarRect& bar, double seconds, float progress);

// The rows [first, end) of a buffer height rows tall that shade_capsule_bar
// may touch for this bar, whatever the progress and the time.
void capsule_bar_rows(const BarRect& bar, int height, int& first, int& end);

// Where the status text goes under the capsule bar: the pixel font's cell
// size z and the text's top-left corner, centred on the bar.
void capsule_text_origin(const BarRect& bar, size_t text_length, float& x, float& y, float& z);
