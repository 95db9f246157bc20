#include "splash/splash_layout.h"

#include <gtest/gtest.h>

TEST(SplashLayout, VideoBarOnFullHd)
{
    const BarRect bar = bar_layout(1920, 1080, true, TitleBox{});
    EXPECT_NEAR(bar.w, 288.0f, 1e-3f);
    EXPECT_NEAR(bar.x, 816.0f, 1e-3f);
    EXPECT_NEAR(bar.y, 661.2375f, 1e-3f);
    EXPECT_NEAR(bar.h, 30.24f, 1e-3f);
}

TEST(SplashLayout, VideoBarFollowsTheLargerScale)
{
    // A tall window: the height ratio wins (2000 / 1152 > 1000 / 2048).
    const BarRect bar = bar_layout(1000, 2000, true, TitleBox{});
    EXPECT_NEAR(bar.y, 1000.0f + 70.0f + 89.0f * 2000.0f / 1152.0f, 1e-2f);
    EXPECT_NEAR(bar.w, 150.0f, 1e-3f);
    // Wider than 16:9 (an ultrawide monitor): the width ratio wins.
    const BarRect wide = bar_layout(3440, 1440, true, TitleBox{});
    EXPECT_NEAR(wide.y, 720.0f + 50.4f + 89.0f * 3440.0f / 2048.0f, 1e-2f);
    EXPECT_NEAR(wide.x, (3440.0f - 516.0f) / 2.0f, 1e-3f);
}

TEST(SplashLayout, BarWithoutVideoOrTitleSitsBelowTheMiddle)
{
    const BarRect bar = bar_layout(1920, 1080, false, TitleBox{});
    EXPECT_NEAR(bar.w, 576.0f, 1e-3f);
    EXPECT_NEAR(bar.x, 672.0f, 1e-3f);
    EXPECT_NEAR(bar.y, 540.0f + 48.6f, 1e-3f);
}

TEST(SplashLayout, BarHeightHasAFloorOfSixPixels)
{
    EXPECT_FLOAT_EQ(bar_layout(320, 100, true, TitleBox{}).h, 6.0f);
}

TEST(SplashLayout, OpaquePartOfTheTitleBecomesThirtyPercentWideAndCentred)
{
    // 800 x 200 picture whose opaque columns are 100..699 (600 px).
    const TitleBox box = title_box(1920, 1080, 800, 200, 100, 699);
    ASSERT_TRUE(box.present);
    const float k = box.w / 800.0f;
    EXPECT_NEAR(600.0f * k, 576.0f, 1e-3f);
    const float opaque_left = box.x + 100.0f * k;
    EXPECT_NEAR(opaque_left + 576.0f / 2.0f, 960.0f, 1e-3f);
    EXPECT_NEAR(box.h, 192.0f, 1e-3f);
    EXPECT_NEAR(box.y, 444.0f, 1e-3f);

    const BarRect bar = bar_layout(1920, 1080, false, box);
    EXPECT_NEAR(bar.y, 444.0f + 192.0f + 48.6f, 1e-3f);
}

TEST(SplashLayout, TitleWithoutOpaquePixelsUsesTheDefaultWidth)
{
    const TitleBox box = title_box(1920, 1080, 1000, 250, -1, -1);
    EXPECT_NEAR(box.w, 662.4f, 1e-3f);
    EXPECT_NEAR(box.x, (1920.0f - 662.4f) / 2.0f, 1e-3f);
    EXPECT_NEAR(box.h, 165.6f, 1e-3f);
}
