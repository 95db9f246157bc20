#include "splash/pixel_font.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace {

struct Glyph {
    char c;
    const char* rows[6];
};

const Glyph kGlyphs[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", "....."}},
    {'a', {".....", ".###.", "#..#.", "#..#.", ".####", "....."}},
    {'b', {"#....", "#....", "####.", "#...#", "####.", "....."}},
    {'c', {".....", ".###.", "#....", "#....", ".###.", "....."}},
    {'d', {"....#", "....#", ".####", "#...#", ".####", "....."}},
    {'e', {".....", ".###.", "#####", "#....", ".###.", "....."}},
    {'f', {"..##.", ".#...", "####.", ".#...", ".#...", "....."}},
    {'g', {".....", ".####", "#...#", ".####", "....#", "####."}},
    {'h', {"#....", "#....", "####.", "#...#", "#...#", "....."}},
    {'i', {"..#..", ".....", "..#..", "..#..", "..#..", "....."}},
    {'j', {"...#.", ".....", "...#.", "...#.", "#..#.", ".##.."}},
    {'k', {"#....", "#..#.", "#.#..", "##...", "#.##.", "....."}},
    {'l', {".##..", "..#..", "..#..", "..#..", ".###.", "....."}},
    {'m', {".....", "##.##", "#.#.#", "#.#.#", "#.#.#", "....."}},
    {'n', {".....", "####.", "#...#", "#...#", "#...#", "....."}},
    {'o', {".....", ".###.", "#...#", "#...#", ".###.", "....."}},
    {'p', {".....", "####.", "#...#", "####.", "#....", "#...."}},
    {'q', {".....", ".####", "#...#", ".####", "....#", "....#"}},
    {'r', {".....", "#.##.", "##...", "#....", "#....", "....."}},
    {'s', {".....", ".####", "##...", "...##", "####.", "....."}},
    {'t', {".#...", "####.", ".#...", ".#...", "..##.", "....."}},
    {'u', {".....", "#...#", "#...#", "#...#", ".####", "....."}},
    {'v', {".....", "#...#", "#...#", ".#.#.", "..#..", "....."}},
    {'w', {".....", "#...#", "#.#.#", "#.#.#", ".#.#.", "....."}},
    {'x', {".....", "#..#.", ".##..", ".##..", "#..#.", "....."}},
    {'y', {".....", "#...#", "#...#", ".####", "....#", "####."}},
    {'z', {".....", "#####", "...#.", ".#...", "#####", "....."}},
    {'0', {".###.", "#..##", "#.#.#", "##..#", ".###.", "....."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", ".###.", "....."}},
    {'2', {".###.", "#...#", "..##.", ".#...", "#####", "....."}},
    {'3', {"####.", "....#", ".###.", "....#", "####.", "....."}},
    {'4', {"#..#.", "#..#.", "#####", "...#.", "...#.", "....."}},
    {'5', {"#####", "#....", "####.", "....#", "####.", "....."}},
    {'6', {".###.", "#....", "####.", "#...#", ".###.", "....."}},
    {'7', {"#####", "....#", "...#.", "..#..", "..#..", "....."}},
    {'8', {".###.", "#...#", ".###.", "#...#", ".###.", "....."}},
    {'9', {".###.", "#...#", ".####", "....#", ".###.", "....."}},
    {'%', {"##..#", "##.#.", "..#..", ".#.##", "#..##", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", "....."}},
    {'.', {".....", ".....", ".....", ".....", "..#..", "....."}},
    {':', {".....", "..#..", ".....", ".....", "..#..", "....."}},
    {'/', {"....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {'_', {".....", ".....", ".....", ".....", ".....", "#####"}},
    {'>', {".#...", "..#..", "...#.", "..#..", ".#...", "....."}},
    {'<', {"...#.", "..#..", ".#...", "..#..", "...#.", "....."}},
    {',', {".....", ".....", ".....", ".....", "..#..", ".#..."}},
    {'(', {"...#.", "..#..", "..#..", "..#..", "...#.", "....."}},
    {')', {".#...", "..#..", "..#..", "..#..", ".#...", "....."}},
    {'[', {"..##.", "..#..", "..#..", "..#..", "..##.", "....."}},
    {']', {".##..", "..#..", "..#..", "..#..", ".##..", "....."}},
    {'+', {".....", "..#..", ".###.", "..#..", ".....", "....."}},
    {'=', {".....", "#####", ".....", "#####", ".....", "....."}},
    {'?', {".###.", "#...#", "..##.", ".....", "..#..", "....."}},
    {'!', {"..#..", "..#..", "..#..", ".....", "..#..", "....."}},
    {'\'', {"..#..", "..#..", ".....", ".....", ".....", "....."}},
    {'"', {".#.#.", ".#.#.", ".....", ".....", ".....", "....."}},
    {'#', {".#.#.", "#####", ".#.#.", "#####", ".#.#.", "....."}},
    {'*', {".....", "#.#.#", ".###.", "#.#.#", ".....", "....."}},
    {';', {".....", "..#..", ".....", "..#..", ".#...", "....."}},
    {'|', {"..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'&', {".##..", "#..#.", ".##..", "#..#.", ".##.#", "....."}},
    {'@', {".###.", "#.###", "#.#.#", "#.###", ".#...", "....."}},
    {'$', {".####", "#.#..", ".###.", "..#.#", "####.", "....."}},
};

// Byte -> index into kGlyphs (+1, 0 = none), built once.
const std::array<unsigned char, 256>& glyph_index()
{
    static const std::array<unsigned char, 256> index = [] {
        std::array<unsigned char, 256> t{};
        for (size_t i = 0; i < sizeof kGlyphs / sizeof kGlyphs[0]; ++i)
            t[static_cast<unsigned char>(kGlyphs[i].c)] = static_cast<unsigned char>(i + 1);
        return t;
    }();
    return index;
}

// Overlap of the pixel span [p, p + 1) with [a, b).
inline float span_cover(int p, float a, float b)
{
    return std::max(0.0f, std::min(static_cast<float>(p + 1), b) - std::max(static_cast<float>(p), a));
}

inline uint32_t blend_channel(uint32_t dst, float src, float alpha, int shift)
{
    const float d = static_cast<float>((dst >> shift) & 0xFF);
    const float v = d + (src - d) * alpha;
    return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f) << shift;
}

// Fills the square [x, x + side) x [y, y + side) with the colour; pixels on
// the square's edges get the colour's alpha times the covered area.
void fill_square(PixelBuffer& buf, float x, float y, float side, uint32_t argb)
{
    const float x1 = x + side;
    const float y1 = y + side;
    const float lo_x = std::max(std::floor(x), 0.0f);
    const float hi_x = std::min(std::ceil(x1), static_cast<float>(buf.width));
    const float lo_y = std::max(std::floor(y), 0.0f);
    const float hi_y = std::min(std::ceil(y1), static_cast<float>(buf.height));
    if (!(lo_x < hi_x) || !(lo_y < hi_y))  // also false for NaN
        return;
    const float alpha = static_cast<float>(argb >> 24) / 255.0f;
    const float r = static_cast<float>((argb >> 16) & 0xFF);
    const float g = static_cast<float>((argb >> 8) & 0xFF);
    const float b = static_cast<float>(argb & 0xFF);
    for (int row = static_cast<int>(lo_y); row < static_cast<int>(hi_y); ++row) {
        const float cover_y = span_cover(row, y, y1);
        uint32_t* line = buf.pixels + static_cast<ptrdiff_t>(row) * buf.stride;
        for (int col = static_cast<int>(lo_x); col < static_cast<int>(hi_x); ++col) {
            const float a = alpha * cover_y * span_cover(col, x, x1);
            if (a <= 0.0f)
                continue;
            const uint32_t d = line[col];
            line[col] = (d & 0xFF000000u) | blend_channel(d, r, a, 16) | blend_channel(d, g, a, 8) |
                        blend_channel(d, b, a, 0);
        }
    }
}

void draw_pass(PixelBuffer& buf, const std::string& text, float x, float y, float z,
               float offset, uint32_t argb)
{
    const float side = 1.02f * z;
    float pen = x;
    for (unsigned char c : text) {
        if (const char* const* rows = glyph_rows(c)) {
            for (int j = 0; j < 6; ++j)
                for (int i = 0; i < 5; ++i)
                    if (rows[j][i] == '#')
                        fill_square(buf, pen + i * z + offset, y + j * z + offset, side, argb);
        }
        pen += 6.0f * z;
    }
}

}  // namespace

const char* const* glyph_rows(unsigned char c)
{
    const unsigned char i = glyph_index()[c];
    return i ? kGlyphs[i - 1].rows : nullptr;
}

void draw_pixel_text(PixelBuffer& buf, const std::string& text, float x, float y, float z,
                     uint32_t argb)
{
    if (!buf.pixels || buf.width <= 0 || buf.height <= 0 || !(z > 0.0f))
        return;
    draw_pass(buf, text, x, y, z, 0.45f * z, 0x6E000000u);
    draw_pass(buf, text, x, y, z, 0.0f, argb);
}

void pixel_text_rows(float y, float z, int& first, int& end)
{
    // Six rows of cells, the last square 1.02 z tall, the shadow 0.45 z lower.
    first = static_cast<int>(std::floor(y)) - 1;
    end = static_cast<int>(std::ceil(y + 5.0f * z + 1.02f * z + 0.45f * z)) + 1;
}
