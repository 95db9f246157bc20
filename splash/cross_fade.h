#pragma once
// The still-picture cycle: each picture stands 6 s, then fades into the next
// over 1.2 s, so one picture's turn lasts 7.2 s.
#include "splash/pixel_buffer.h"

struct PictureCycle {
    int index;  // picture drawn as the background
    int next;   // picture blended over it
    int alpha;  // constant alpha of the blend, 0..255; 0 = no blend
};

// n = number of still pictures; with a video decoder there is no fade.
PictureCycle picture_cycle(double seconds, int n, bool has_decoder);

// Blends src over dst with one constant alpha for every pixel (no per-pixel
// alpha), as GDI's AlphaBlend does with a source constant alpha: every byte
// becomes (src x alpha + dst x (255 - alpha)) / 255, rounded. Only the area
// both buffers share is touched.
void blend_constant_alpha(PixelBuffer& dst, const PixelBuffer& src, int alpha);

// Lays src, premultiplied alpha in the top byte, over dst at row dst_row, as
// GDI's AlphaBlend does with per-pixel alpha: every colour byte becomes
// src + dst x (255 - alpha) / 255, rounded; the top byte of dst is kept.
// Fully transparent source pixels are skipped, which makes a band of text
// cheap. Only the rows and columns both buffers share are touched.
void blend_premultiplied(PixelBuffer& dst, int dst_row, const PixelBuffer& src);

// The video's fade-in over the poster: the constant alpha (0..255) of the
// video some seconds after its first frame showed; 255 from 0.4 s on.
int video_fade_alpha(double seconds_since_first_frame);
