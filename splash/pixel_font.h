#pragma once
// The splash's built-in pixel font: 63 glyphs of five columns by six rows
// (space, a-z, 0-9 and common punctuation). Upper-case letters and bytes above
// 127 have no glyph and leave a gap of one character.
#include "splash/pixel_buffer.h"

#include <cstdint>
#include <string>

// The six rows of the glyph for byte c, five characters each, '#' set and
// '.' clear; nullptr when the byte has no glyph.
const char* const* glyph_rows(unsigned char c);

// Draws text with its top-left at (x, y) and cell size z: first a shadow pass
// in 0x6E000000 shifted 0.45 z right and down, then the text in argb. Every
// set cell is a square of side 1.02 z at (pen + i z, y + j z); the pen moves
// 6 z per byte. Squares are anti-aliased by their area coverage of each pixel
// and blended source-over into the buffer.
void draw_pixel_text(PixelBuffer& buf, const std::string& text, float x, float y, float z,
                     uint32_t argb);

// The rows [first, end) that draw_pixel_text at top y with cell size z may
// touch, shadow included.
void pixel_text_rows(float y, float z, int& first, int& end);
