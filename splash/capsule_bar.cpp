#include "splash/capsule_bar.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979f;

struct Rgb {
    float r, g, b;
};

// The colour ramp the fill and the glint cycle through; first and last entry
// are equal so the ramp wraps without a seam.
const float kRamp[5][3] = {
    {70, 150, 255}, {170, 110, 255}, {255, 80, 150}, {255, 170, 70}, {70, 150, 255},
};

inline float fraction(float t)
{
    return t - std::floor(t);
}

inline float clamp01(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

Rgb ramp(float t)
{
    const float pos = 4.0f * fraction(t);
    const int i = std::min(static_cast<int>(pos), 3);
    const float w = pos - static_cast<float>(i);
    const float* a = kRamp[i];
    const float* b = kRamp[i + 1];
    constexpr float k = 1.0f / 255.0f;
    return {(a[0] + (b[0] - a[0]) * w) * k, (a[1] + (b[1] - a[1]) * w) * k,
            (a[2] + (b[2] - a[2]) * w) * k};
}

inline void mix(Rgb& c, const Rgb& to, float t)
{
    c.r += (to.r - c.r) * t;
    c.g += (to.g - c.g) * t;
    c.b += (to.b - c.b) * t;
}

inline uint32_t to_byte(float v)
{
    return static_cast<uint32_t>(clamp01(v) * 255.0f + 0.5f);
}

// The glint at outline position e: its strength m and its ramp colour q.
struct Glint {
    float m;
    Rgb q;
};

struct GlintClock {
    float inv_perimeter;
    float head;   // glint position on the outline, 0..1
    float phase;  // colour phase
};

Glint glint_at(float e, const GlintClock& clock)
{
    const float n = e * clock.inv_perimeter;
    const float behind = fraction(clock.head - n);
    const float tail = behind < 0.4f ? std::pow(1.0f - behind / 0.4f, 1.6f) : 0.0f;
    const float ahead = fraction(n - clock.head);
    const float head = ahead < 0.02f ? 1.0f - ahead / 0.02f : 0.0f;
    Glint glint{std::max(head, tail), {0, 0, 0}};
    if (glint.m > 0.0f)
        glint.q = ramp(n + clock.phase);
    return glint;
}

// Everything that depends only on the column, worked out once per call for a
// chunk of columns, so the pixel loop is mostly a square root and a few mixes.
constexpr int kChunk = 256;

struct ColumnTerms {
    float dx_body[kChunk];  // horizontal distance to the body's centre segment
    float dx_fill[kChunk];  // horizontal distance to the fill's centre segment
    Rgb fill[kChunk];       // fill ramp colour
    bool straight[kChunk];  // between the two end centres
    Glint top[kChunk];      // glint on the straight top edge
    Glint bottom[kChunk];   // glint on the straight bottom edge
};

inline float distance_outside(float x, float lo, float hi)
{
    return x < lo ? lo - x : (x > hi ? x - hi : 0.0f);
}

struct Shading {
    CapsuleGeometry geo;
    BarRect bar;
    GlintClock clock;
    bool fill_on;
    float reach;        // beyond this signed distance a pixel is left as it is
    float shadow_only;  // from here to reach only the shadow applies
    float glint_band;  // |sd| below this may carry the glint
    float seg_lo, seg_hi;
    float fill_lo, fill_hi;
};

void column_terms(const Shading& s, int col0, int count, ColumnTerms& t)
{
    const CapsuleGeometry& g = s.geo;
    const float colour_phase = s.clock.phase;
    for (int j = 0; j < count; ++j) {
        const float x = static_cast<float>(col0 + j) + 0.5f;
        t.dx_body[j] = distance_outside(x, s.seg_lo, s.seg_hi);
        t.dx_fill[j] = distance_outside(x, s.fill_lo, s.fill_hi);
        if (s.fill_on)
            t.fill[j] = ramp((x - s.bar.x) / s.bar.w * 0.75f - colour_phase);
        t.straight[j] = g.xl <= x && x <= g.xr;
        if (t.straight[j]) {
            t.top[j] = glint_at(x - g.xl, s.clock);
            t.bottom[j] = glint_at(kPi * g.r + g.S + (g.xr - x), s.clock);
        }
    }
}

// Glint position on a round end, clockwise from the top-left end of the
// straight part.
float cap_position(const CapsuleGeometry& g, float x, float dy)
{
    if (x > g.xr)
        return (std::atan2(dy, x - g.xr) + kPi / 2) * g.r + g.S;
    float angle = std::atan2(dy, x - g.xl);
    if (angle < 0.0f)
        angle += 2.0f * kPi;
    return kPi * g.r + 2.0f * g.S + (angle - kPi / 2) * g.r;
}

// What is left of a pixel outside the body, the fill and the glint band at
// signed distance sd: only the shadow darkens it, by this factor.
inline float shadow_keep(const CapsuleGeometry& g, float sd)
{
    const float fall = clamp01(1.0f - sd / g.A);
    return 1.0f - std::min(fall * fall * 0.42f, 1.0f);
}

inline uint32_t darken(uint32_t pixel, float keep)
{
    const auto scale = [keep](uint32_t v) {
        return static_cast<uint32_t>(static_cast<float>(v & 0xFF) * keep + 0.5f);
    };
    return 0xFF000000u | scale(pixel >> 16) << 16 | scale(pixel >> 8) << 8 | scale(pixel);
}

// One pixel at signed distance sd from the body's edge; fill_distance is
// its distance from the fill's centre segment.
uint32_t shade_pixel(const Shading& s, const ColumnTerms& t, int j, float x, float dy, float sd,
                     float fill_distance, float shine, uint32_t pixel)
{
    const CapsuleGeometry& g = s.geo;
    if (sd >= s.reach)
        return pixel | 0xFF000000u;
    if (sd >= s.shadow_only)
        return darken(pixel, shadow_keep(g, sd));

    constexpr float k255 = 1.0f / 255.0f;
    Rgb c{static_cast<float>((pixel >> 16) & 0xFF) * k255,
          static_cast<float>((pixel >> 8) & 0xFF) * k255, static_cast<float>(pixel & 0xFF) * k255};

    const float k = clamp01(0.5f - sd);
    if (sd > -1.0f) {  // drop shadow outside the edge
        const float fall = clamp01(1.0f - sd / g.A);
        const float a = clamp01(fall * fall * 0.42f * (1.0f - k));
        c.r *= 1.0f - a;
        c.g *= 1.0f - a;
        c.b *= 1.0f - a;
    }
    mix(c, Rgb{0.016f, 0.02f, 0.03f}, clamp01(0.86f * k));

    if (s.fill_on) {
        const float k2 = clamp01(0.5f - (fill_distance - g.fr));
        if (k2 > 0.0f) {
            const Rgb& q = t.fill[j];
            mix(c, Rgb{q.r + (1 - q.r) * shine, q.g + (1 - q.g) * shine, q.b + (1 - q.b) * shine},
                k2);
        }
    }

    const float asd = std::fabs(sd);
    if (asd < s.glint_band) {
        Glint glint;
        if (t.straight[j])
            glint = dy < 0.0f ? t.top[j] : t.bottom[j];
        else
            glint = glint_at(cap_position(g, x, dy), s.clock);
        if (glint.m > 0.0f) {
            const float m = glint.m;
            const Rgb& q = glint.q;
            const float dark = clamp01(std::max(1.0f - asd / (2.4f * g.E), 0.0f) * m * 0.6f);
            const float line = clamp01(std::max(1.0f - asd / (1.15f * g.E), 0.0f) * m);
            const float core =
                clamp01(std::max(1.0f - asd / std::max(0.45f * g.E, 0.75f), 0.0f) * m * 0.95f);
            const Rgb tint{q.r + (1 - q.r) * 0.12f, q.g + (1 - q.g) * 0.12f, q.b + (1 - q.b) * 0.12f};
            const Rgb bright{q.r + (1 - q.r) * 0.65f, q.g + (1 - q.g) * 0.65f,
                             q.b + (1 - q.b) * 0.65f};
            mix(c, Rgb{0, 0, 0}, dark);
            mix(c, tint, line);
            mix(c, tint, line);
            mix(c, bright, core);
        }
    }
    return 0xFF000000u | to_byte(c.r) << 16 | to_byte(c.g) << 8 | to_byte(c.b);
}

// First and one-past-last index of a pixel range, clipped to [0, limit]; the
// arithmetic is done in double so huge or NaN inputs cannot overflow an int.
void clip_range(double lo, double hi, int limit, int& first, int& end)
{
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (!(lo < hi) || hi <= 0.0 || lo >= limit) {
        first = end = 0;
        return;
    }
    first = static_cast<int>(std::max(lo, 0.0));
    end = static_cast<int>(std::min(hi, static_cast<double>(limit)));
}

// How far beyond the body the shadow and the glint reach.
float shading_margin(const CapsuleGeometry& g)
{
    return 3.0f * g.E + g.A + 2.0f;
}

}  // namespace

void capsule_bar_rows(const BarRect& bar, int height, int& first, int& end)
{
    // The rows depend on the geometry's centre line and radius alone, which
    // the progress does not move.
    const CapsuleGeometry g = capsule_geometry(bar, 0.0f);
    const float margin = shading_margin(g);
    clip_range(static_cast<double>(g.cy) - g.r - margin, static_cast<double>(g.cy) + g.r + margin, height, first,
               end);
}

CapsuleGeometry capsule_geometry(const BarRect& bar, float progress)
{
    const float p = progress > 0.0f ? std::min(progress, 1.0f) : 0.0f;  // NaN reads as 0
    CapsuleGeometry g{};
    g.u = bar.w / 10.0f;
    g.T = std::max(0.93f * g.u, 12.0f);
    g.r = g.T / 2.0f;
    g.cy = bar.y + 0.288f * g.u + 0.45f * g.u;
    g.xl = bar.x + g.r;
    g.xr = bar.x + bar.w - g.r;
    g.S = std::max(bar.w - g.T, 0.0f);
    g.P = 2.0f * g.S + 2.0f * kPi * g.r;
    g.A = 0.55f * g.T;
    g.E = std::max(0.087f * g.u, 2.0f);
    g.g = std::max(0.18f * g.T, 2.0f);
    g.fr = g.r - g.g;
    g.f0 = bar.x + g.g;
    g.f1 = bar.x + g.g + std::max((bar.w - 2.0f * g.g) * p, 2.0f * g.fr);
    return g;
}

void shade_capsule_bar(PixelBuffer& buf, const BarRect& bar, double seconds, float progress)
{
    if (!buf.pixels || buf.width <= 0 || buf.height <= 0 || !(bar.w > 0.0f))
        return;
    Shading s{};
    s.geo = capsule_geometry(bar, progress);
    s.bar = bar;
    const CapsuleGeometry& g = s.geo;
    s.fill_on = progress > 0.001f;
    // Only the fractional part of the colour phase and glint position matter;
    // reducing them in double keeps a long-running splash as smooth as a new one.
    const double safe_seconds = std::isfinite(seconds) ? seconds : 0.0;
    s.clock.inv_perimeter = 1.0f / g.P;
    s.clock.head = static_cast<float>(safe_seconds / 3.0 - std::floor(safe_seconds / 3.0));
    s.clock.phase =
        static_cast<float>(safe_seconds * 0.25 - std::floor(safe_seconds * 0.25));
    s.glint_band = 2.4f * g.E + 1.0f;
    s.reach = std::max({g.A, s.glint_band, 0.5f});
    s.shadow_only = std::max(s.glint_band, 0.5f);
    s.seg_lo = std::min(g.xl, g.xr);
    s.seg_hi = std::max(g.xl, g.xr);
    s.fill_lo = g.f0 + g.fr;
    s.fill_hi = g.f1 - g.fr;

    int col_first, col_end, row_first, row_end;
    clip_range(static_cast<double>(bar.x) - shading_margin(g), static_cast<double>(bar.x) + bar.w + shading_margin(g),
               buf.width, col_first, col_end);
    capsule_bar_rows(bar, buf.height, row_first, row_end);

    const float fill_scale = 1.0f / std::max(g.fr, 1.0f) / 0.75f;
    ColumnTerms terms;
    for (int col0 = col_first; col0 < col_end; col0 += kChunk) {
        const int count = std::min(kChunk, col_end - col0);
        column_terms(s, col0, count, terms);
        for (int row = row_first; row < row_end; ++row) {
            const float dy = static_cast<float>(row) + 0.5f - g.cy;
            const float dy2 = dy * dy;
            const float v = clamp01(std::fabs(dy) * fill_scale);
            const float shine = (1.0f - (3.0f - 2.0f * v) * v * v) * 0.5f + 0.1f;
            uint32_t* line = buf.pixels + static_cast<ptrdiff_t>(row) * buf.stride + col0;
            // Columns over a centre segment are |dy| from it: the distances
            // of the straight part, and its shadow, are the row's own.
            const float row_distance = std::sqrt(dy2);
            const float row_sd = row_distance - g.r;
            const bool row_untouched = row_sd >= s.reach;
            const bool row_shadow = !row_untouched && row_sd >= s.shadow_only;
            const float row_keep = row_shadow ? shadow_keep(g, row_sd) : 1.0f;
            for (int j = 0; j < count; ++j) {
                const float dx = terms.dx_body[j];
                if (dx == 0.0f && row_untouched) {
                    line[j] |= 0xFF000000u;
                    continue;
                }
                if (dx == 0.0f && row_shadow) {
                    line[j] = darken(line[j], row_keep);
                    continue;
                }
                const float sd = dx == 0.0f ? row_sd : std::sqrt(dx * dx + dy2) - g.r;
                const float df = terms.dx_fill[j];
                const float fill_distance = df == 0.0f ? row_distance : std::sqrt(df * df + dy2);
                const float x = static_cast<float>(col0 + j) + 0.5f;
                line[j] = shade_pixel(s, terms, j, x, dy, sd, fill_distance, shine, line[j]);
            }
        }
    }
}

void capsule_text_origin(const BarRect& bar, size_t text_length, float& x, float& y, float& z)
{
    const CapsuleGeometry g = capsule_geometry(bar, 0.0f);
    const float step = 0.17f * g.u;
    z = 0.75f * step;
    x = bar.x + bar.w / 2.0f - (6.0f * static_cast<float>(text_length) - 1.0f) * z / 2.0f;
    y = g.cy + g.r + 2.2f * step + 2.0f * z;
}
