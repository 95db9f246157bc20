#include "splash/cross_fade.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

constexpr double kTurn = 7.2;      // seconds per picture, fade included
constexpr double kStand = 6.0;     // seconds before the fade starts
constexpr double kFade = 1.2;
constexpr double kVideoFade = 0.4;

// x / 255 rounded, for 0 <= x <= 255 * 255 (exact in that range).
inline uint32_t div255(uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

}  // namespace

PictureCycle picture_cycle(double seconds, int n, bool has_decoder)
{
    PictureCycle cycle{0, 0, 0};
    if (n <= 1)
        return cycle;
    // Times before the start (or not a number) show the first picture rather
    // than indexing before the list.
    const double t = seconds > 0.0 ? seconds : 0.0;
    const double turns = std::floor(t / kTurn);
    cycle.index = static_cast<int>(std::fmod(turns, static_cast<double>(n)));
    cycle.next = (cycle.index + 1) % n;
    const double phase = std::fmod(t, kTurn);
    if (!has_decoder && phase > kStand)
        cycle.alpha = static_cast<int>(std::clamp((phase - kStand) / kFade, 0.0, 1.0) * 255.0);
    return cycle;
}

int video_fade_alpha(double seconds_since_first_frame)
{
    // Not a number counts as the fade done: the video is never hidden.
    if (!(seconds_since_first_frame < kVideoFade))
        return 255;
    return static_cast<int>(std::clamp(seconds_since_first_frame / kVideoFade, 0.0, 1.0) * 255.0);
}

void blend_constant_alpha(PixelBuffer& dst, const PixelBuffer& src, int alpha)
{
    if (!dst.pixels || !src.pixels || alpha <= 0)
        return;
    const uint32_t a = static_cast<uint32_t>(std::min(alpha, 255));
    const uint32_t ia = 255 - a;
    const int width = std::min(dst.width, src.width);
    const int height = std::min(dst.height, src.height);
    for (int row = 0; row < height; ++row) {
        uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(row) * dst.stride;
        const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(row) * src.stride;
        for (int col = 0; col < width; ++col) {
            const uint32_t sp = s[col];
            const uint32_t dp = d[col];
            uint32_t out = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const uint32_t v = ((sp >> shift) & 0xFF) * a + ((dp >> shift) & 0xFF) * ia;
                out |= div255(v) << shift;
            }
            d[col] = out;
        }
    }
}

void blend_premultiplied(PixelBuffer& dst, int dst_row, const PixelBuffer& src)
{
    if (!dst.pixels || !src.pixels)
        return;
    const int width = std::min(dst.width, src.width);
    const int first = std::max(0, -dst_row);
    const int end = std::min(src.height, dst.height - dst_row);
    for (int row = first; row < end; ++row) {
        uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(row + dst_row) * dst.stride;
        const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(row) * src.stride;
        for (int col = 0; col < width; ++col) {
            const uint32_t sp = s[col];
            const uint32_t a = sp >> 24;
            if (a == 0)
                continue;
            const uint32_t ia = 255 - a;
            const uint32_t dp = d[col];
            uint32_t out = dp & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const uint32_t v = ((sp >> shift) & 0xFF) + div255(((dp >> shift) & 0xFF) * ia);
                out |= std::min(v, 255u) << shift;
            }
            d[col] = out;
        }
    }
}
