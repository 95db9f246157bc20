#pragma once
// A view of 32-bit pixels the splash draws into: bytes blue, green, red,
// unused (the value 0xXXRRGGBB on a little-endian machine), rows top-down.
// The buffer does not own the memory; a DIB section or a vector does.
#include <cstdint>

struct PixelBuffer {
    uint32_t* pixels;
    int width;
    int height;
    int stride;  // pixels from one row to the next
};
