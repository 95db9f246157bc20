#include "splash/pixel_font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Canvas {
    int w, h;
    std::vector<uint32_t> px;
    Canvas(int width, int height, uint32_t fill) : w(width), h(height), px(width * height, fill) {}
    PixelBuffer buffer() { return PixelBuffer{px.data(), w, h, w}; }
    uint32_t at(int x, int y) const { return px[y * w + x]; }
};

int green(uint32_t p)
{
    return static_cast<int>((p >> 8) & 0xFF);
}

Canvas render(const std::string& text, float x, float y, float z, uint32_t colour)
{
    Canvas c(160, 40, 0xFF404040u);
    PixelBuffer b = c.buffer();
    draw_pixel_text(b, text, x, y, z, colour);
    return c;
}

}  // namespace

TEST(PixelFont, TableHasSixtyThreeWellFormedGlyphs)
{
    int count = 0;
    for (int c = 0; c < 256; ++c) {
        const char* const* rows = glyph_rows(static_cast<unsigned char>(c));
        if (!rows)
            continue;
        ++count;
        for (int j = 0; j < 6; ++j) {
            ASSERT_EQ(std::strlen(rows[j]), 5u) << "glyph " << c;
            EXPECT_EQ(std::strspn(rows[j], "#."), 5u) << "glyph " << c;
        }
    }
    EXPECT_EQ(count, 63);
    for (unsigned char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789%-.:/_><,()[]+=?!'\"#*;|&@$ "))
        EXPECT_NE(glyph_rows(c), nullptr) << c;
    EXPECT_EQ(glyph_rows('A'), nullptr);
    EXPECT_EQ(glyph_rows('Z'), nullptr);
    EXPECT_EQ(glyph_rows(0xC3), nullptr);
    EXPECT_EQ(glyph_rows('\n'), nullptr);
}

TEST(PixelFont, SampleGlyphs)
{
    const char* const* a = glyph_rows('a');
    EXPECT_STREQ(a[1], ".###.");
    EXPECT_STREQ(a[4], ".####");
    const char* const* zero = glyph_rows('0');
    EXPECT_STREQ(zero[2], "#.#.#");
    const char* const* at = glyph_rows('@');
    EXPECT_STREQ(at[1], "#.###");
    for (int j = 0; j < 6; ++j)
        EXPECT_STREQ(glyph_rows('|')[j], "..#..");
    for (int j = 0; j < 6; ++j)
        EXPECT_STREQ(glyph_rows(' ')[j], ".....");
}

TEST(PixelFont, CellsAreAreaCoveredSquaresOverAShadow)
{
    // '.' sets row 4, column 2: with z = 10 at (0, 0) the square spans
    // [20, 30.2) x [40, 50.2); its shadow [24.5, 34.7) x [44.5, 54.7).
    Canvas c(60, 60, 0xFF404040u);
    PixelBuffer b = c.buffer();
    draw_pixel_text(b, ".", 0, 0, 10, 0xFFFFFFFFu);
    const int shaded = 36;  // 0x40 under alpha 0x6E black
    EXPECT_EQ(c.at(25, 45), 0xFFFFFFFFu);
    EXPECT_EQ(c.at(20, 40), 0xFFFFFFFFu);
    EXPECT_EQ(c.at(19, 45), 0xFF404040u);
    EXPECT_EQ(c.at(25, 39), 0xFF404040u);
    EXPECT_NEAR(green(c.at(33, 52)), shaded, 1);                    // shadow only
    EXPECT_NEAR(green(c.at(30, 45)), shaded + (255 - shaded) / 5, 1);  // 0.2 covered
    EXPECT_NEAR(green(c.at(34, 45)), 0x40 - (0x40 - shaded) * 7 / 10, 1);  // shadow edge
    EXPECT_EQ(c.at(36, 56), 0xFF404040u);
}

TEST(PixelFont, UpperCaseLeavesAGapOfOneCharacter)
{
    const Canvas mixed = render("aBa", 2, 2, 3, 0xFF60E060u);
    const Canvas spaced = render("a a", 2, 2, 3, 0xFF60E060u);
    EXPECT_EQ(mixed.px, spaced.px);

    // The second 'a' lands exactly where an 'a' drawn two cells on would.
    const Canvas single = render("a", 2 + 12 * 3, 2, 3, 0xFF60E060u);
    for (int y = 0; y < 40; ++y)
        for (int x = 2 + 12 * 3; x < 160; ++x)
            ASSERT_EQ(mixed.at(x, y), single.at(x, y)) << x << "," << y;
    // Nothing is drawn in the gap (apart from the first glyph's shadow,
    // which does not reach past the pen's 6 z step plus half a cell).
    for (int y = 0; y < 40; ++y)
        for (int x = 2 + 6 * 3 + 3; x < 2 + 12 * 3; ++x)
            ASSERT_EQ(mixed.at(x, y), 0xFF404040u) << x << "," << y;
}

TEST(PixelFont, HighBytesOnlyMoveThePen)
{
    const Canvas utf8 = render("\xC3\xA9x", 0, 0, 2, 0xFFFFFFFFu);
    const Canvas spaced = render("  x", 0, 0, 2, 0xFFFFFFFFu);
    EXPECT_EQ(utf8.px, spaced.px);
}

TEST(PixelFont, TranslucentColourBlendsSourceOver)
{
    Canvas c(40, 40, 0xFF000000u);
    PixelBuffer b = c.buffer();
    draw_pixel_text(b, "|", 0, 0, 4, 0x80FF0000u);  // column 2: x in [8, 12.08)
    const uint32_t p = c.at(9, 1);
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 128, 1);
    EXPECT_EQ(p & 0xFFFF, 0u);
}

TEST(PixelFont, ClipsAtTheBufferEdges)
{
    Canvas c(10, 10, 0xFF000000u);
    PixelBuffer b = c.buffer();
    draw_pixel_text(b, "#$%&@", -7.5f, -3.2f, 3, 0xFFFFFFFFu);
    draw_pixel_text(b, "#$%&@", 5.5f, 6.2f, 3, 0xFFFFFFFFu);
    draw_pixel_text(b, "x", 1e30f, -1e30f, 1e20f, 0xFFFFFFFFu);
    SUCCEED();  // ASan reports any write outside the buffer
}
