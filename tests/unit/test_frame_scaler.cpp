#include "splash/frame_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<uint32_t> pattern(int w, int h, uint32_t seed)
{
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    uint32_t s = seed;
    for (uint32_t& p : px) {
        s = s * 1664525u + 1013904223u;
        p = s >> 8;  // top byte 0, like a decoder's X byte
    }
    return px;
}

// Bilinear cover scaling in doubles, straight from the geometry.
std::vector<uint32_t> reference(const std::vector<uint32_t>& src, int sw, int sh, int W, int H)
{
    const double s = std::max(static_cast<double>(H) / sh, static_cast<double>(W) / sw);
    const double ox = (W - sw * s) / 2, oy = (H - sh * s) / 2;
    std::vector<uint32_t> out(static_cast<size_t>(W) * H);
    for (int row = 0; row < H; ++row)
        for (int col = 0; col < W; ++col) {
            const double sx = std::clamp((col + 0.5 - ox) / s - 0.5, 0.0, sw - 1.0);
            const double sy = std::clamp((row + 0.5 - oy) / s - 0.5, 0.0, sh - 1.0);
            const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
            const int x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
            const double fx = sx - x0, fy = sy - y0;
            uint32_t p = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                auto c = [&](int x, int y) { return (src[y * sw + x] >> shift) & 0xFF; };
                const double top = c(x0, y0) * (1 - fx) + c(x1, y0) * fx;
                const double bottom = c(x0, y1) * (1 - fx) + c(x1, y1) * fx;
                p |= static_cast<uint32_t>(std::lround(top * (1 - fy) + bottom * fy)) << shift;
            }
            out[static_cast<size_t>(row) * W + col] = p;
        }
    return out;
}

int max_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8)
            worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                             static_cast<int>((b[i] >> shift) & 0xFF)));
    return worst;
}

std::vector<uint32_t> scaled(const std::vector<uint32_t>& src, int sw, int sh, int W, int H,
                             ScalePool* pool)
{
    std::vector<uint32_t> out(static_cast<size_t>(W) * H, 0xDEADBEEFu);
    PixelBuffer dst{out.data(), W, H, W};
    scale_frame_cover(src.data(), sw, sh, dst, pool);
    return out;
}

}  // namespace

TEST(FrameScaler, SameSizeIsAnExactCopy)
{
    const auto src = pattern(13, 7, 1);
    const auto out = scaled(src, 13, 7, 13, 7, nullptr);
    for (size_t i = 0; i < src.size(); ++i)
        ASSERT_EQ(out[i], src[i] | 0xFF000000u) << i;
}

TEST(FrameScaler, MatchesAPlainBilinearCover)
{
    struct Case {
        int sw, sh, W, H;
    };
    const Case cases[] = {
        {4, 3, 8, 6},     // exact upscale
        {16, 9, 8, 8},    // wider frame: sides cropped
        {9, 16, 12, 10},  // taller frame: top and bottom cropped
        {32, 18, 19, 11}, // downscale with odd sizes
        {5, 5, 37, 23},   // large, uneven upscale
        {1, 1, 6, 4},     // a single pixel fills everything
        {64, 36, 191, 99},
    };
    ScalePool pool(3);
    for (const Case& c : cases) {
        const auto src = pattern(c.sw, c.sh, static_cast<uint32_t>(c.sw * 31 + c.H));
        const auto want = reference(src, c.sw, c.sh, c.W, c.H);
        EXPECT_LE(max_difference(scaled(src, c.sw, c.sh, c.W, c.H, &pool), want), 2)
            << c.sw << "x" << c.sh << " -> " << c.W << "x" << c.H;
    }
}

TEST(FrameScaler, CoverCropsSymmetricallyAroundTheCentre)
{
    // Left half black, right half white, twice as wide as the target: the
    // middle two quarters survive, so the output is half black, half white.
    const int sw = 16, sh = 4;
    std::vector<uint32_t> src(sw * sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            src[y * sw + x] = x < sw / 2 ? 0u : 0xFFFFFFu;
    const auto out = scaled(src, sw, sh, 8, 8, nullptr);  // scale 2, 32 px wide, crop 12 each side
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(out[y * 8 + x], 0xFF000000u);
        for (int x = 5; x < 8; ++x)
            EXPECT_EQ(out[y * 8 + x], 0xFFFFFFFFu);
        EXPECT_EQ(out[y * 8 + 3] & 0xFF, 255 - (out[y * 8 + 4] & 0xFF));
    }
}

TEST(FrameScaler, UniformFrameStaysUniform)
{
    const std::vector<uint32_t> src(7 * 5, 0x00FEFD01u);
    for (uint32_t p : scaled(src, 7, 5, 23, 17, nullptr))
        ASSERT_EQ(p, 0xFFFEFD01u);
}

TEST(FrameScaler, PoolSizeDoesNotChangeThePicture)
{
    const auto src = pattern(40, 30, 9);
    const auto alone = scaled(src, 40, 30, 97, 53, nullptr);
    for (int threads : {1, 2, 5, 8}) {
        ScalePool pool(threads);
        EXPECT_EQ(pool.size(), threads);
        EXPECT_EQ(scaled(src, 40, 30, 97, 53, &pool), alone) << threads;
    }
    // More bands than rows: the empty bands must be harmless.
    ScalePool pool(8);
    const auto tiny = pattern(3, 2, 4);
    EXPECT_EQ(scaled(tiny, 3, 2, 5, 3, &pool), scaled(tiny, 3, 2, 5, 3, nullptr));
}

TEST(FrameScaler, StrideLeavesPaddingAlone)
{
    const auto src = pattern(6, 4, 2);
    std::vector<uint32_t> out(10 * 5, 0x12345678u);
    PixelBuffer dst{out.data(), 8, 5, 10};
    scale_frame_cover(src.data(), 6, 4, dst, nullptr);
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(out[y * 10 + 8], 0x12345678u);
        EXPECT_EQ(out[y * 10 + 9], 0x12345678u);
        EXPECT_NE(out[y * 10 + 7], 0x12345678u);
    }
}

TEST(FrameScaler, EmptyInputsDrawNothing)
{
    std::vector<uint32_t> out(4, 7u);
    PixelBuffer dst{out.data(), 2, 2, 2};
    const uint32_t one = 5;
    scale_frame_cover(nullptr, 4, 4, dst, nullptr);
    scale_frame_cover(&one, 0, 1, dst, nullptr);
    scale_frame_cover(&one, 1, -1, dst, nullptr);
    EXPECT_EQ(out, std::vector<uint32_t>(4, 7u));
}

TEST(ScalePool, RunsEveryBandExactlyOnceAcrossManyJobs)
{
    ScalePool pool(4);
    for (int round = 0; round < 300; ++round) {
        const int bands = 1 + round % 11;
        std::vector<std::atomic<int>> hits(bands);
        pool.run(bands, [&](int band) { hits[band].fetch_add(1); });
        for (int b = 0; b < bands; ++b)
            ASSERT_EQ(hits[b].load(), 1) << "round " << round << " band " << b;
    }
    pool.run(0, [](int) { FAIL(); });
}

TEST(ScalePool, DefaultThreadCountIsBetweenOneAndEight)
{
    EXPECT_GE(default_scale_threads(), 1);
    EXPECT_LE(default_scale_threads(), 8);
}
