// NV12 to BGRX: colours with known YUV values at both ranges, the matrix the
// media type names, a luma ramp, and odd sizes inside padded buffers checked
// pixel by pixel against the textbook formula in floating point.
#include "splash/nv12_to_bgrx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

// A width x height frame of one colour, tightly packed.
std::vector<uint8_t> solid(int width, int height, int y, int u, int v)
{
    const int pairs = (width + 1) / 2;
    std::vector<uint8_t> bytes(static_cast<size_t>(width) * height + static_cast<size_t>(pairs) * 2 * ((height + 1) / 2));
    std::fill(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(width) * height, static_cast<uint8_t>(y));
    for (size_t i = static_cast<size_t>(width) * height; i < bytes.size(); i += 2) {
        bytes[i] = static_cast<uint8_t>(u);
        bytes[i + 1] = static_cast<uint8_t>(v);
    }
    return bytes;
}

// Every pixel of a solid 18 x 3 frame (SIMD block, tail and odd row).
void expect_colour(int y, int u, int v, YuvColour colour, Rgb want, const char* what)
{
    const int w = 18, h = 3;
    std::vector<uint8_t> bytes = solid(w, h, y, u, v);
    Nv12Frame frame;
    ASSERT_TRUE(locate_nv12_planes(bytes.data(), bytes.size(), w, w, h, 0, frame));
    std::vector<uint8_t> out(w * h * 4, 0x55);
    ASSERT_TRUE(convert_nv12_to_bgrx(frame, colour, out.data()));
    for (int i = 0; i < w * h; ++i) {
        SCOPED_TRACE(testing::Message() << what << " pixel " << i);
        EXPECT_NEAR(out[i * 4 + 2], want.r, 2);
        EXPECT_NEAR(out[i * 4 + 1], want.g, 2);
        EXPECT_NEAR(out[i * 4 + 0], want.b, 2);
        EXPECT_EQ(out[i * 4 + 3], 0xFF);
    }
}

const YuvColour LIMITED_709{YuvMatrix::bt709, false};
const YuvColour FULL_709{YuvMatrix::bt709, true};

TEST(Nv12ToBgrx, BlackWhiteAndPrimariesAtBothRanges)
{
    expect_colour(16, 128, 128, LIMITED_709, {0, 0, 0}, "limited black");
    expect_colour(235, 128, 128, LIMITED_709, {255, 255, 255}, "limited white");
    expect_colour(63, 102, 240, LIMITED_709, {255, 0, 0}, "limited red");
    expect_colour(173, 42, 26, LIMITED_709, {0, 255, 0}, "limited green");
    expect_colour(32, 240, 118, LIMITED_709, {0, 0, 255}, "limited blue");
    // Values beyond the nominal range clip instead of wrapping.
    expect_colour(0, 128, 128, LIMITED_709, {0, 0, 0}, "below black");
    expect_colour(255, 128, 128, LIMITED_709, {255, 255, 255}, "above white");

    expect_colour(0, 128, 128, FULL_709, {0, 0, 0}, "full black");
    expect_colour(255, 128, 128, FULL_709, {255, 255, 255}, "full white");
    expect_colour(54, 99, 255, FULL_709, {255, 0, 0}, "full red");
    expect_colour(182, 30, 12, FULL_709, {0, 255, 0}, "full green");
    expect_colour(18, 255, 116, FULL_709, {0, 0, 255}, "full blue");
}

TEST(Nv12ToBgrx, MediaTypeNamesMatrixAndRange)
{
    // Unnamed or unknown: HD video's BT.709 at limited range.
    for (YuvColour c : {colour_from_media_type(false, 0, false, 0), colour_from_media_type(true, 0, true, 0),
                        colour_from_media_type(true, 99, true, 99)}) {
        EXPECT_EQ(c.matrix, YuvMatrix::bt709);
        EXPECT_FALSE(c.full_range);
    }
    EXPECT_TRUE(colour_from_media_type(false, 0, true, 1).full_range);
    EXPECT_FALSE(colour_from_media_type(false, 0, true, 2).full_range);
    EXPECT_EQ(colour_from_media_type(true, 4, false, 0).matrix, YuvMatrix::bt2020);

    // Limited BT.601 red, whose green BT.709 would make 24.
    YuvColour bt601 = colour_from_media_type(true, 2, true, 2);
    EXPECT_EQ(bt601.matrix, YuvMatrix::bt601);
    expect_colour(81, 90, 240, bt601, {255, 0, 0}, "BT.601 red");
}

TEST(Nv12ToBgrx, LumaRampIsAGreyRampFromBlackToWhite)
{
    const int w = 220, h = 2;
    std::vector<uint8_t> bytes = solid(w, h, 0, 128, 128);
    for (int x = 0; x < w; ++x) bytes[x] = bytes[w + x] = static_cast<uint8_t>(16 + x * 219 / (w - 1));
    Nv12Frame frame;
    ASSERT_TRUE(locate_nv12_planes(bytes.data(), bytes.size(), w, w, h, 0, frame));
    std::vector<uint8_t> out(w * h * 4);
    ASSERT_TRUE(convert_nv12_to_bgrx(frame, LIMITED_709, out.data()));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[(w - 1) * 4], 255);
    for (int x = 0; x < w; ++x) {
        const uint8_t* p = &out[x * 4];
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "x " << x;
        if (x > 0) {
            EXPECT_GE(p[0], p[-4]) << "x " << x;
        }
        EXPECT_EQ(std::memcmp(p, &out[(w + x) * 4], 4), 0) << "second row, x " << x;
    }
}

// The textbook conversion in floating point, rounded and clipped.
Rgb reference(int y, int u, int v, double kr, double kb, bool full)
{
    const double kg = 1 - kr - kb;
    const double l = full ? y : (y - 16) * 255.0 / 219.0;
    const double cs = full ? 1.0 : 255.0 / 224.0;
    const double cb = (u - 128) * cs, cr = (v - 128) * cs;
    auto clip = [](double x) { return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, x)))); };
    return {clip(l + 2 * (1 - kr) * cr), clip(l - (2 * kb * (1 - kb) * cb + 2 * kr * (1 - kr) * cr) / kg),
            clip(l + 2 * (1 - kb) * cb)};
}

// Odd sizes in a buffer laid out as a decoder pads it: rows wider than the
// picture and the luma plane taller, with the chroma plane after the
// padding. The buffer is exactly as long as the layout, so the sanitizers
// catch any read past it.
TEST(Nv12ToBgrx, OddSizesInPaddedBuffersMatchTheFormula)
{
    struct Case {
        int width, height, stride, plane_rows;
    } cases[] = {{37, 23, 48, 32}, {1, 1, 16, 16}, {64, 6, 64, 16}, {33, 9, 34, 9}};
    std::mt19937 random(20);
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.width << "x" << k.height << " stride " << k.stride);
        std::vector<uint8_t> bytes(static_cast<size_t>(k.stride) * (k.plane_rows + (k.plane_rows + 1) / 2));
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        for (bool full : {false, true}) {
            Nv12Frame frame;
            ASSERT_TRUE(locate_nv12_planes(bytes.data(), bytes.size(), k.stride, k.width, k.height,
                                           0, frame));
            ASSERT_EQ(frame.chroma, bytes.data() + k.stride * k.plane_rows);
            std::vector<uint8_t> out(static_cast<size_t>(k.width) * k.height * 4);
            ASSERT_TRUE(convert_nv12_to_bgrx(frame, {YuvMatrix::bt709, full}, out.data()));
            for (int y = 0; y < k.height; ++y)
                for (int x = 0; x < k.width; ++x) {
                    const uint8_t* uv = frame.chroma + (y / 2) * k.stride + (x / 2) * 2;
                    Rgb want = reference(bytes[y * k.stride + x], uv[0], uv[1], 0.2126, 0.0722, full);
                    const uint8_t* p = &out[(static_cast<size_t>(y) * k.width + x) * 4];
                    ASSERT_NEAR(p[2], want.r, 1) << "x " << x << " y " << y << " full " << full;
                    ASSERT_NEAR(p[1], want.g, 1) << "x " << x << " y " << y << " full " << full;
                    ASSERT_NEAR(p[0], want.b, 1) << "x " << x << " y " << y << " full " << full;
                }
        }
    }
}

TEST(Nv12ToBgrx, PlanesAreFoundOnlyInsideTheBuffer)
{
    std::vector<uint8_t> bytes(1280 * 736 * 3 / 2);
    Nv12Frame frame;
    // The length tells the padded height even when the media type does not.
    ASSERT_TRUE(locate_nv12_planes(bytes.data(), bytes.size(), 1280, 1280, 720, 720, frame));
    EXPECT_EQ(frame.chroma - bytes.data(), 1280 * 736);
    // A length that fits no exact layout: the media type's plane height, then the picture's.
    ASSERT_TRUE(locate_nv12_planes(bytes.data(), bytes.size() - 7, 1280, 1280, 720, 736, frame));
    EXPECT_EQ(frame.chroma - bytes.data(), 1280 * 736);
    ASSERT_TRUE(locate_nv12_planes(bytes.data(), 1280 * 1080, 1280, 1280, 720, 0, frame));
    EXPECT_EQ(frame.chroma - bytes.data(), 1280 * 720);

    EXPECT_FALSE(locate_nv12_planes(bytes.data(), 1280 * 720 * 3 / 2 - 1, 1280, 1280, 720, 0, frame));
    EXPECT_FALSE(locate_nv12_planes(bytes.data(), bytes.size(), 1279, 1280, 720, 0, frame));
    EXPECT_FALSE(locate_nv12_planes(bytes.data(), bytes.size(), -1280, 1280, 720, 0, frame));
    EXPECT_FALSE(locate_nv12_planes(bytes.data(), bytes.size(), 1280, 0, 720, 0, frame));
    EXPECT_FALSE(locate_nv12_planes(nullptr, bytes.size(), 1280, 1280, 720, 0, frame));
}

}  // namespace
