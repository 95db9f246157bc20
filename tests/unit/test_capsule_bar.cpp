#include "splash/capsule_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kBackground = 0x00507090u;  // top byte clear on purpose

struct Canvas {
    int w, h;
    std::vector<uint32_t> px;
    Canvas(int width, int height) : w(width), h(height), px(width * height)
    {
        // A gentle gradient, so mixing and shading show in every channel.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[y * w + x] = kBackground + static_cast<uint32_t>((x * 7 + y * 3) % 40);
    }
    PixelBuffer buffer() { return PixelBuffer{px.data(), w, h, w}; }
    uint32_t at(float x, float y) const { return px[static_cast<int>(y) * w + static_cast<int>(x)]; }
};

Canvas shaded(int w, int h, const BarRect& bar, double seconds, float progress)
{
    Canvas c(w, h);
    PixelBuffer b = c.buffer();
    shade_capsule_bar(b, bar, seconds, progress);
    return c;
}

int brightness(uint32_t p)
{
    return static_cast<int>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF));
}

// A plain, slow rendering of the capsule, written straight from the shading
// rules with doubles and atan2 everywhere: the fast version must agree.
namespace ref {

double frac(double t) { return t - std::floor(t); }
double clamp01(double v) { return std::min(std::max(v, 0.0), 1.0); }

void ramp(double t, double out[3])
{
    static const double table[5][3] = {
        {70, 150, 255}, {170, 110, 255}, {255, 80, 150}, {255, 170, 70}, {70, 150, 255}};
    const double pos = 4 * frac(t);
    const int i = std::min(static_cast<int>(pos), 3);
    for (int ch = 0; ch < 3; ++ch)
        out[ch] = (table[i][ch] + (table[i + 1][ch] - table[i][ch]) * (pos - i)) / 255.0;
}

double segment_distance(double x, double y, double x0, double x1, double cy)
{
    const double cx = std::min(std::max(x, std::min(x0, x1)), std::max(x0, x1));
    return std::hypot(x - cx, y - cy);
}

void render(Canvas& c, const BarRect& bar, double seconds, double progress)
{
    const double pi = 3.14159265358979323846;
    const double p = clamp01(progress);
    const double u = bar.w / 10.0, T = std::max(0.93 * u, 12.0), r = T / 2;
    const double cy = bar.y + 0.288 * u + 0.45 * u;
    const double xl = bar.x + r, xr = bar.x + bar.w - r, S = std::max(bar.w - T, 0.0);
    const double P = 2 * S + 2 * pi * r, A = 0.55 * T, E = std::max(0.087 * u, 2.0);
    const double g = std::max(0.18 * T, 2.0), fr = r - g;
    const double f0 = bar.x + g, f1 = bar.x + g + std::max((bar.w - 2 * g) * p, 2 * fr);
    const double cphase = seconds * 0.25, h = frac(seconds / 3);
    const double M = 3 * E + A + 2;
    const int c0 = std::max(0, static_cast<int>(std::floor(bar.x - M)));
    const int c1 = std::min(c.w, static_cast<int>(std::ceil(bar.x + bar.w + M)));
    const int r0 = std::max(0, static_cast<int>(std::floor(cy - r - M)));
    const int r1 = std::min(c.h, static_cast<int>(std::ceil(cy + r + M)));
    for (int row = r0; row < r1; ++row)
        for (int col = c0; col < c1; ++col) {
            const double x = col + 0.5, y = row + 0.5;
            uint32_t& px = c.px[row * c.w + col];
            double rgb[3] = {((px >> 16) & 0xFF) / 255.0, ((px >> 8) & 0xFF) / 255.0,
                             (px & 0xFF) / 255.0};
            const double sd = segment_distance(x, y, xl, xr, cy) - r;
            const double k = clamp01(0.5 - sd);
            if (sd > -1) {
                const double a = clamp01(std::pow(clamp01(1 - sd / A), 2) * 0.42 * (1 - k));
                for (double& v : rgb) v *= 1 - a;
            }
            const double body[3] = {0.016, 0.02, 0.03};
            for (int ch = 0; ch < 3; ++ch) rgb[ch] += (body[ch] - rgb[ch]) * clamp01(0.86 * k);
            if (p > 0.001) {
                const double k2 = clamp01(0.5 - (segment_distance(x, y, f0 + fr, f1 - fr, cy) - fr));
                if (k2 > 0) {
                    const double v = clamp01(std::fabs(y - cy) / std::max(fr, 1.0) / 0.75);
                    const double shine = (1 - (3 - 2 * v) * v * v) * 0.5 + 0.1;
                    double q[3];
                    ramp((x - bar.x) / bar.w * 0.75 - cphase, q);
                    for (int ch = 0; ch < 3; ++ch)
                        rgb[ch] += (q[ch] + (1 - q[ch]) * shine - rgb[ch]) * k2;
                }
            }
            const double asd = std::fabs(sd);
            if (asd < 2.4 * E + 1) {
                double e;
                if (xl <= x && x <= xr)
                    e = y < cy ? x - xl : pi * r + S + (xr - x);
                else if (x > xr)
                    e = (std::atan2(y - cy, x - xr) + pi / 2) * r + S;
                else {
                    double angle = std::atan2(y - cy, x - xl);
                    if (angle < 0) angle += 2 * pi;
                    e = pi * r + 2 * S + (angle - pi / 2) * r;
                }
                const double n = e / P;
                const double b = frac(h - n), a = frac(n - h);
                const double tail = b < 0.4 ? std::pow(1 - b / 0.4, 1.6) : 0;
                const double head = a < 0.02 ? 1 - a / 0.02 : 0;
                const double m = std::max(head, tail);
                if (m > 0) {
                    const double dark = clamp01(std::max(1 - asd / (2.4 * E), 0.0) * m * 0.6);
                    const double line = clamp01(std::max(1 - asd / (1.15 * E), 0.0) * m);
                    const double core = clamp01(std::max(1 - asd / std::max(0.45 * E, 0.75), 0.0) * m * 0.95);
                    double q[3];
                    ramp(n + cphase, q);
                    for (int ch = 0; ch < 3; ++ch) {
                        const double tint = q[ch] + (1 - q[ch]) * 0.12;
                        const double bright = q[ch] + (1 - q[ch]) * 0.65;
                        rgb[ch] *= 1 - dark;
                        rgb[ch] += (tint - rgb[ch]) * line;
                        rgb[ch] += (tint - rgb[ch]) * line;
                        rgb[ch] += (bright - rgb[ch]) * core;
                    }
                }
            }
            uint32_t out = 0xFF000000u;
            for (int ch = 0; ch < 3; ++ch)
                out |= static_cast<uint32_t>(std::lround(clamp01(rgb[ch]) * 255)) << (16 - 8 * ch);
            px = out;
        }
}

}  // namespace ref

int max_difference(const Canvas& a, const Canvas& b)
{
    int worst = 0;
    for (size_t i = 0; i < a.px.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8)
            worst = std::max(worst, std::abs(static_cast<int>((a.px[i] >> shift) & 0xFF) -
                                             static_cast<int>((b.px[i] >> shift) & 0xFF)));
    return worst;
}

// A bar from the video layout of a 400 x 300 window (thickness and edge at
// their floors) and a wide one where every size follows the bar width.
const BarRect kSmallBar{170.0f, 183.68f, 60.0f, 8.4f};
const BarRect kWideBar{100.0f, 40.0f, 400.0f, 20.0f};

}  // namespace

TEST(CapsuleBar, GeometryOfTheFullHdVideoBar)
{
    const CapsuleGeometry g = capsule_geometry(BarRect{816.0f, 661.2375f, 288.0f, 30.24f}, 0.5f);
    EXPECT_NEAR(g.u, 28.8f, 1e-4f);
    EXPECT_NEAR(g.T, 26.784f, 1e-3f);
    EXPECT_NEAR(g.cy, 661.2375f + 0.738f * 28.8f, 1e-3f);
    EXPECT_NEAR(g.xl, 816.0f + 13.392f, 1e-3f);
    EXPECT_NEAR(g.xr, 1104.0f - 13.392f, 1e-3f);
    EXPECT_NEAR(g.E, 2.5056f, 1e-4f);
    EXPECT_NEAR(g.f1 - g.f0, (288.0f - 2 * g.g) * 0.5f, 1e-3f);
}

TEST(CapsuleBar, MatchesAPlainRendering)
{
    struct Case {
        BarRect bar;
        double seconds;
        float progress;
    };
    const Case cases[] = {
        {kSmallBar, 0.0, 0.0f},     {kSmallBar, 1.3, 0.4f},    {kSmallBar, 2.9, 1.0f},
        {kWideBar, 0.7, 0.0f},      {kWideBar, 1.75, 0.63f},   {kWideBar, 2.4, 0.002f},
        {kWideBar, 1000.25, 0.9f},  {BarRect{5.0f, 3.0f, 80.0f, 6.0f}, 0.2, 0.5f},
    };
    for (const Case& c : cases) {
        const Canvas fast = shaded(600, 150, c.bar, c.seconds, c.progress);
        Canvas slow(600, 150);
        ref::render(slow, c.bar, c.seconds, c.progress);
        EXPECT_LE(max_difference(fast, slow), 1)
            << "bar " << c.bar.x << " t " << c.seconds << " p " << c.progress;
    }
}

TEST(CapsuleBar, EmptyUpToOneThousandthThenARoundDot)
{
    const double t = 0.5;
    const Canvas zero = shaded(600, 150, kWideBar, t, 0.0f);
    EXPECT_EQ(shaded(600, 150, kWideBar, t, 0.001f).px, zero.px);
    EXPECT_EQ(shaded(600, 150, kWideBar, t, -3.0f).px, zero.px);

    const CapsuleGeometry g = capsule_geometry(kWideBar, 0.0011f);
    const Canvas dot = shaded(600, 150, kWideBar, t, 0.0011f);
    EXPECT_NE(dot.px, zero.px);
    // The dot is a circle of radius fr at the left end of the bar.
    EXPECT_GT(brightness(dot.at(g.f0 + g.fr, g.cy)), brightness(zero.at(g.f0 + g.fr, g.cy)) + 200);
    EXPECT_GT(brightness(dot.at(g.f0 + 0.3f * g.fr, g.cy - 0.5f * g.fr)), 300);
    EXPECT_EQ(dot.at(g.f0 + 2 * g.fr + 1.5f, g.cy), zero.at(g.f0 + 2 * g.fr + 1.5f, g.cy));
    EXPECT_EQ(dot.at(g.f0 + g.fr, g.cy - g.fr - 1.5f), zero.at(g.f0 + g.fr, g.cy - g.fr - 1.5f));
}

TEST(CapsuleBar, FillEndsWhereTheProgressSays)
{
    const double t = 0.5;
    const Canvas zero = shaded(600, 150, kWideBar, t, 0.0f);
    const Canvas half = shaded(600, 150, kWideBar, t, 0.5f);
    const CapsuleGeometry g = capsule_geometry(kWideBar, 0.5f);
    EXPECT_NEAR(g.f1, kWideBar.x + g.g + (kWideBar.w - 2 * g.g) / 2, 1e-3f);
    EXPECT_GT(brightness(half.at(g.f1 - 2, g.cy)), brightness(zero.at(g.f1 - 2, g.cy)) + 200);
    EXPECT_EQ(half.at(g.f1 + 1.5f, g.cy), zero.at(g.f1 + 1.5f, g.cy));
    EXPECT_EQ(half.at(kWideBar.x + kWideBar.w - g.r, g.cy), zero.at(kWideBar.x + kWideBar.w - g.r, g.cy));
}

TEST(CapsuleBar, ProgressAboveOneDrawsTheFullBar)
{
    const Canvas full = shaded(600, 150, kWideBar, 2.0, 1.0f);
    EXPECT_EQ(shaded(600, 150, kWideBar, 2.0, 1.7f).px, full.px);
    EXPECT_EQ(shaded(600, 150, kWideBar, 2.0, 1e9f).px, full.px);
    const Canvas zero = shaded(600, 150, kWideBar, 2.0, 0.0f);
    const CapsuleGeometry g = capsule_geometry(kWideBar, 1.0f);
    const float last = kWideBar.x + kWideBar.w - g.g - g.fr;  // centre of the fill's right end
    EXPECT_GT(brightness(full.at(last, g.cy)), brightness(zero.at(last, g.cy)) + 200);
}

TEST(CapsuleBar, TouchesOnlyItsBoundingBox)
{
    const Canvas before(600, 150);
    const Canvas after = shaded(600, 150, kWideBar, 0.0, 0.5f);
    const CapsuleGeometry g = capsule_geometry(kWideBar, 0.5f);
    const float margin = 3 * g.E + g.A + 2;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 600; ++x) {
            const bool inside = x >= std::floor(kWideBar.x - margin) &&
                                x < std::ceil(kWideBar.x + kWideBar.w + margin) &&
                                y >= std::floor(g.cy - g.r - margin) && y < std::ceil(g.cy + g.r + margin);
            const uint32_t b = before.px[y * 600 + x];
            const uint32_t a = after.px[y * 600 + x];
            if (!inside)
                ASSERT_EQ(a, b) << x << "," << y;
            else
                ASSERT_EQ(a >> 24, 0xFFu) << x << "," << y;
        }
    // Far from the capsule inside the box only the top byte changes.
    EXPECT_EQ(after.at(kWideBar.x - margin + 1, 1 + g.cy - g.r - margin) & 0xFFFFFF,
              before.at(kWideBar.x - margin + 1, 1 + g.cy - g.r - margin) & 0xFFFFFF);
}

TEST(CapsuleBar, GlintRunsRoundTheOutline)
{
    const CapsuleGeometry g = capsule_geometry(kWideBar, 0.0f);
    // A point on the top edge a quarter along the straight part.
    const float x = g.xl + g.S / 4, y = g.cy - g.r;
    const float n = (x - g.xl) / g.P;
    const double at_head = n * 3.0 + 0.01;  // the head has just passed it
    const double away = at_head + 1.5;      // half a lap later
    EXPECT_GT(brightness(shaded(600, 150, kWideBar, at_head, 0.0f).at(x, y)),
              brightness(shaded(600, 150, kWideBar, away, 0.0f).at(x, y)) + 150);
    // The glint laps every 3 s and the colours every 4 s: all repeats after 12 s.
    EXPECT_LE(max_difference(shaded(600, 150, kWideBar, at_head, 0.0f),
                             shaded(600, 150, kWideBar, at_head + 12.0, 0.0f)),
              1);
}

TEST(CapsuleBar, ClipsAtTheBufferEdges)
{
    Canvas c(50, 20);
    PixelBuffer b = c.buffer();
    shade_capsule_bar(b, BarRect{-30.0f, -10.0f, 100.0f, 10.0f}, 1.0, 0.5f);
    shade_capsule_bar(b, BarRect{30.0f, 15.0f, 300.0f, 10.0f}, 1.0, 0.5f);
    shade_capsule_bar(b, BarRect{1e30f, 0.0f, 1e30f, 10.0f}, 1.0, 0.5f);
    shade_capsule_bar(b, BarRect{0.0f, 0.0f, NAN, 10.0f}, NAN, NAN);
    SUCCEED();  // ASan reports any access outside the buffer
}

TEST(CapsuleBar, StatusTextSitsCentredBelowTheBar)
{
    const BarRect bar{816.0f, 661.2375f, 288.0f, 30.24f};
    float x, y, z;
    capsule_text_origin(bar, 10, x, y, z);
    EXPECT_NEAR(z, 3.672f, 1e-4f);
    EXPECT_NEAR(x + 59 * z / 2, 960.0f, 1e-3f);
    EXPECT_NEAR(y, 713.9991f, 1e-3f);
}
