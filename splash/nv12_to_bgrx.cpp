#include "splash/nv12_to_bgrx.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// MFVideoTransferMatrix and MFNominalRange values.
// SMPTE 240M (3) is within a few thousandths of BT.709 and is read as it.
constexpr uint32_t MATRIX_BT601 = 2;
constexpr uint32_t MATRIX_BT2020_10 = 4;
constexpr uint32_t MATRIX_BT2020_12 = 5;
constexpr uint32_t RANGE_FULL = 1;  // 0..255; 2 is 16..235, and the rest is read as that

// Everything is worked in 1/64 units so that the sum of a luma and a chroma
// term still fits a signed 16-bit lane. Luma is scaled the way SIMD code
// does it without a widening multiply: Y * 257 (the byte in both halves of a
// 16-bit lane) times luma_gain, keeping the high 16 bits, is Y * gain * 64.
struct Coefficients {
    int luma_gain;   // gain * 64 * 65536 / 257
    int v_to_red;    // per (V - 128), in 1/64
    int u_to_green;  // subtracted, per (U - 128)
    int v_to_green;  // subtracted, per (V - 128)
    int u_to_blue;   // per (U - 128)
    int offset;      // added to every channel: the black level taken off, plus half a unit to round
};

Coefficients coefficients(YuvColour colour)
{
    double kr = 0.2126, kb = 0.0722;
    if (colour.matrix == YuvMatrix::bt601) kr = 0.299, kb = 0.114;
    if (colour.matrix == YuvMatrix::bt2020) kr = 0.2627, kb = 0.0593;
    const double kg = 1.0 - kr - kb;
    const double luma = colour.full_range ? 1.0 : 255.0 / 219.0;
    const double chroma = colour.full_range ? 1.0 : 255.0 / 224.0;
    const double black = colour.full_range ? 0.0 : 16.0;
    auto unit = [](double v) { return static_cast<int>(std::lround(v * 64.0)); };
    Coefficients c;
    c.luma_gain = static_cast<int>(std::lround(luma * 64.0 * 65536.0 / 257.0));
    c.v_to_red = unit(2.0 * (1.0 - kr) * chroma);
    c.u_to_green = unit(2.0 * kb * (1.0 - kb) / kg * chroma);
    c.v_to_green = unit(2.0 * kr * (1.0 - kr) / kg * chroma);
    c.u_to_blue = unit(2.0 * (1.0 - kb) * chroma);
    c.offset = 32 - unit(black * luma);
    return c;
}

inline int scaled_luma(int y, const Coefficients& c) { return (y * 257 * c.luma_gain) >> 16; }

inline uint8_t channel(int sum) { return static_cast<uint8_t>(std::clamp(sum >> 6, 0, 255)); }

// Pixels [from, width) of one row, one at a time: the tail the SIMD loop
// leaves, or the whole row without SSE2. Same arithmetic as the SIMD loop,
// so both give identical bytes.
void convert_tail(const uint8_t* luma, const uint8_t* chroma, int from, int width, const Coefficients& c,
                  uint8_t* out)
{
    for (int x = from; x < width; ++x) {
        const int u = chroma[(x >> 1) * 2] - 128;
        const int v = chroma[(x >> 1) * 2 + 1] - 128;
        const int y = scaled_luma(luma[x], c) + c.offset;
        out[x * 4 + 0] = channel(y + c.u_to_blue * u);
        out[x * 4 + 1] = channel(y - c.u_to_green * u - c.v_to_green * v);
        out[x * 4 + 2] = channel(y + c.v_to_red * v);
        out[x * 4 + 3] = 0xFF;
    }
}

#if defined(__SSE2__)

// 8 pixels of one channel: luma terms plus chroma terms, back to bytes.
inline __m128i channel8(__m128i luma, __m128i chroma)
{
    return _mm_srai_epi16(_mm_adds_epi16(luma, chroma), 6);
}

// The BGRX bytes of 16 pixels to out.
inline void store16(uint8_t* out, __m128i b, __m128i g, __m128i r)
{
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
    const __m128i rx_lo = _mm_unpacklo_epi8(r, opaque), rx_hi = _mm_unpackhi_epi8(r, opaque);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg_lo, rx_lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg_lo, rx_lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(bg_hi, rx_hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(bg_hi, rx_hi));
}

// 16 pixels of one row, given the chroma terms of their 8 pairs, each term
// already doubled to one lane per pixel (lo: pixels 0..7, hi: 8..15).
inline void row16(const uint8_t* luma, __m128i gain, const __m128i (&b)[2], const __m128i (&g)[2],
                  const __m128i (&r)[2], uint8_t* out)
{
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
    const __m128i y_lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(y, y), gain);
    const __m128i y_hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(y, y), gain);
    store16(out, _mm_packus_epi16(channel8(y_lo, b[0]), channel8(y_hi, b[1])),
            _mm_packus_epi16(channel8(y_lo, g[0]), channel8(y_hi, g[1])),
            _mm_packus_epi16(channel8(y_lo, r[0]), channel8(y_hi, r[1])));
}

// Two rows sharing one chroma row, 16 pixels per step; returns where the
// scalar tail starts.
int convert_pair_simd(const uint8_t* luma0, const uint8_t* luma1, const uint8_t* chroma, int width,
                      const Coefficients& c, uint8_t* out0, uint8_t* out1)
{
    const __m128i gain = _mm_set1_epi16(static_cast<short>(c.luma_gain));
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    const __m128i centre = _mm_set1_epi16(128);
    const __m128i offset = _mm_set1_epi16(static_cast<short>(c.offset));
    const __m128i v_red = _mm_set1_epi16(static_cast<short>(c.v_to_red));
    const __m128i u_green = _mm_set1_epi16(static_cast<short>(c.u_to_green));
    const __m128i v_green = _mm_set1_epi16(static_cast<short>(c.v_to_green));
    const __m128i u_blue = _mm_set1_epi16(static_cast<short>(c.u_to_blue));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i uv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma + x));
        const __m128i u = _mm_sub_epi16(_mm_and_si128(uv, low_bytes), centre);
        const __m128i v = _mm_sub_epi16(_mm_srli_epi16(uv, 8), centre);
        const __m128i blue = _mm_add_epi16(_mm_mullo_epi16(u, u_blue), offset);
        const __m128i green = _mm_sub_epi16(offset, _mm_add_epi16(_mm_mullo_epi16(u, u_green),
                                                                  _mm_mullo_epi16(v, v_green)));
        const __m128i red = _mm_add_epi16(_mm_mullo_epi16(v, v_red), offset);
        const __m128i b[2] = {_mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue)};
        const __m128i g[2] = {_mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green)};
        const __m128i r[2] = {_mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red)};
        row16(luma0 + x, gain, b, g, r, out0 + x * 4);
        row16(luma1 + x, gain, b, g, r, out1 + x * 4);
    }
    return x;
}

#else

int convert_pair_simd(const uint8_t*, const uint8_t*, const uint8_t*, int, const Coefficients&, uint8_t*,
                      uint8_t*)
{
    return 0;
}

#endif

}  // namespace

YuvColour colour_from_media_type(bool has_matrix, uint32_t matrix, bool has_range, uint32_t range)
{
    YuvColour colour;
    if (has_matrix && matrix == MATRIX_BT601) colour.matrix = YuvMatrix::bt601;
    if (has_matrix && (matrix == MATRIX_BT2020_10 || matrix == MATRIX_BT2020_12)) colour.matrix = YuvMatrix::bt2020;
    colour.full_range = has_range && range == RANGE_FULL;
    return colour;
}

bool locate_nv12_planes(const uint8_t* data, size_t length, ptrdiff_t stride, int width, int height,
                        int plane_rows, Nv12Frame& frame)
{
    if (!data || width < 1 || height < 1 || stride < width + (width & 1)) return false;
    const size_t row = static_cast<size_t>(stride);
    const size_t chroma_rows = (static_cast<size_t>(height) + 1) / 2;
    // Bytes the layout needs with `rows` luma rows; the last chroma row need
    // only reach its last pair, not the whole stride.
    auto needed = [&](size_t rows) {
        return row * rows + row * (chroma_rows - 1) + static_cast<size_t>(width + (width & 1));
    };
    size_t rows = static_cast<size_t>(height);
    if ((length * 2) % (row * 3) == 0 && length * 2 / (row * 3) >= rows)
        rows = length * 2 / (row * 3);
    else if (plane_rows > height && needed(static_cast<size_t>(plane_rows)) <= length)
        rows = static_cast<size_t>(plane_rows);
    if (needed(rows) > length) return false;
    frame.luma = data;
    frame.luma_stride = stride;
    frame.chroma = data + row * rows;
    frame.chroma_stride = stride;
    frame.width = width;
    frame.height = height;
    return true;
}

bool convert_nv12_to_bgrx(const Nv12Frame& f, YuvColour colour, uint8_t* out)
{
    if (!f.luma || !f.chroma || !out || f.width < 1 || f.height < 1) return false;
    if (f.luma_stride < f.width || f.chroma_stride < f.width + (f.width & 1)) return false;
    const Coefficients c = coefficients(colour);
    const size_t out_row = static_cast<size_t>(f.width) * 4;
    for (int y = 0; y < f.height; y += 2) {
        // An odd last row is converted as a pair with itself.
        const int y1 = std::min(y + 1, f.height - 1);
        const uint8_t* luma0 = f.luma + y * f.luma_stride;
        const uint8_t* luma1 = f.luma + y1 * f.luma_stride;
        const uint8_t* chroma = f.chroma + (y / 2) * f.chroma_stride;
        uint8_t* out0 = out + y * out_row;
        uint8_t* out1 = out + y1 * out_row;
        const int tail = convert_pair_simd(luma0, luma1, chroma, f.width, c, out0, out1);
        convert_tail(luma0, chroma, tail, f.width, c, out0);
        convert_tail(luma1, chroma, tail, f.width, c, out1);
    }
    return true;
}
