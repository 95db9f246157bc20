#include "splash/cross_fade.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

TEST(CrossFade, EachPictureStandsSixSecondsThenFades)
{
    PictureCycle c = picture_cycle(3.0, 3, false);
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.alpha, 0);

    c = picture_cycle(6.6, 3, false);  // halfway through the first fade
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.next, 1);
    EXPECT_NEAR(c.alpha, 127, 1);

    c = picture_cycle(7.2 * 2 + 7.1, 3, false);  // third picture fading into the first
    EXPECT_EQ(c.index, 2);
    EXPECT_EQ(c.next, 0);
    EXPECT_EQ(c.alpha, 233);  // 1.1 / 1.2 of the way

    c = picture_cycle(7.2 * 3 + 1.0, 3, false);  // the cycle wraps
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.alpha, 0);
}

TEST(CrossFade, NoFadeWithOnePictureOrAVideo)
{
    EXPECT_EQ(picture_cycle(6.6, 1, false).alpha, 0);
    EXPECT_EQ(picture_cycle(6.6, 1, false).index, 0);
    EXPECT_EQ(picture_cycle(6.6, 3, true).alpha, 0);
    EXPECT_EQ(picture_cycle(6.6, 0, false).index, 0);
}

TEST(CrossFade, TimesBeforeTheStartShowTheFirstPicture)
{
    const PictureCycle c = picture_cycle(-20.0, 3, false);
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.alpha, 0);
}

TEST(CrossFade, HalfwayBlendOfThreeStills)
{
    // Three 4 x 2 stills of one colour each; at 6.6 s the second is half
    // blended over the first.
    const uint32_t colours[3] = {0xFF200000u, 0xFF00C040u, 0xFFFFFFFFu};
    std::vector<uint32_t> stills[3];
    for (int i = 0; i < 3; ++i)
        stills[i].assign(8, colours[i]);
    std::vector<uint32_t> back = stills[0];

    const PictureCycle c = picture_cycle(6.6, 3, false);
    PixelBuffer dst{back.data(), 4, 2, 4};
    const PixelBuffer src{stills[c.next].data(), 4, 2, 4};
    blend_constant_alpha(dst, src, c.alpha);
    for (uint32_t p : back) {
        EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 0x10, 1);
        EXPECT_NEAR(static_cast<int>((p >> 8) & 0xFF), 0x60, 1);
        EXPECT_NEAR(static_cast<int>(p & 0xFF), 0x20, 1);
    }
}

TEST(CrossFade, BlendEndsAreExact)
{
    std::vector<uint32_t> a(6, 0xFF123456u), b(6, 0xFF89ABCDu);
    PixelBuffer dst{a.data(), 3, 2, 3};
    const PixelBuffer src{b.data(), 3, 2, 3};
    blend_constant_alpha(dst, src, 0);
    EXPECT_EQ(a[0], 0xFF123456u);
    blend_constant_alpha(dst, src, 255);
    EXPECT_EQ(a[5], 0xFF89ABCDu);
}

TEST(CrossFade, BlendTouchesOnlyTheSharedArea)
{
    std::vector<uint32_t> big(16, 0u), small(4, 0xFFFFFFFFu);
    PixelBuffer dst{big.data(), 4, 4, 4};
    const PixelBuffer src{small.data(), 2, 2, 2};
    blend_constant_alpha(dst, src, 255);
    EXPECT_EQ(big[0], 0xFFFFFFFFu);
    EXPECT_EQ(big[5], 0xFFFFFFFFu);
    EXPECT_EQ(big[2], 0u);
    EXPECT_EQ(big[8], 0u);
}
