// The splash loop's decisions: pacing, bar smoothing and ticks, geometry and
// caption buttons, z-order, host and following.
#include "splash/bar_progress.h"
#include "splash/frame_pacing.h"
#include "splash/splash_geometry.h"
#include "splash/zorder_rules.h"

#include <gtest/gtest.h>

TEST(FramePacing, RateAndDeadlines)
{
    EXPECT_EQ(splash_frame_rate(false, 0), 60.0);
    EXPECT_EQ(splash_frame_rate(true, 30), 30.0);
    EXPECT_EQ(splash_frame_rate(true, 10), 24.0);
    EXPECT_EQ(splash_frame_rate(true, 1000), 240.0);
    EXPECT_EQ(frame_period_ns(60), 16666666);
    // On time: one step. Late by three frames: skip to the clock, no burst.
    EXPECT_EQ(next_frame_index(4, 80'000'000, 60), 5);
    EXPECT_EQ(next_frame_index(5, 150'000'000, 60), 9);
    EXPECT_TRUE(frame_wait(0).now);
    FrameWait w = frame_wait(16'666'666);
    EXPECT_EQ(w.timer_units, 166666);
    EXPECT_EQ(w.sleep_ms, 16u);
    EXPECT_EQ(frame_wait(50).timer_units, 1);
    EXPECT_EQ(frame_wait(50).sleep_ms, 1u);
    // The video starts at frame 0 and advances only on decoded frames.
    EXPECT_EQ(source_video_frame(-1, false), 0);
    EXPECT_EQ(source_video_frame(7, false), 7);
    EXPECT_EQ(source_video_frame(7, true), 8);
}

TEST(BarProgress, CreepWithoutProgressThenCappedTarget)
{
    EXPECT_FLOAT_EQ(progress_target(-1, 0), 0);
    EXPECT_FLOAT_EQ(progress_target(-1, 10), 0.01f);
    EXPECT_FLOAT_EQ(progress_target(-1, 600), 0.02f);
    EXPECT_FLOAT_EQ(progress_target(1.5f, 1), 1.0f);
    // A stalled frame moves the bar no further than a 0.1 s step would.
    EXPECT_FLOAT_EQ(smooth_progress(0, 1, 5.0), 0.4f);
}

TEST(BarProgress, JumpToFullReachesTheBarSmoothlyWithNineTicks)
{
    float shown = 0;
    TickSteps ticks;
    int tick_count = 0;
    for (int frame = 0; frame < 300; ++frame) {   // five seconds at 60 fps
        float before = shown;
        shown = smooth_progress(shown, 1.0f, 1.0 / 60);
        ASSERT_GE(shown, before);
        ASSERT_LE(shown - before, 0.07f);
        tick_count += ticks.advance(shown) ? 1 : 0;
    }
    EXPECT_GT(shown, 0.999f);
    EXPECT_EQ(tick_count, 9);
    EXPECT_FALSE(ticks.advance(0.5f));   // going back never ticks again
}

TEST(SplashGeometry, StartRectangleOnCommonScreens)
{
    WindowRect hd = centred_start_rect(1920, 1080, 3820, 1990);
    EXPECT_EQ(hd.x, 0);
    EXPECT_EQ(hd.y, 0);
    EXPECT_EQ(hd.w, 1920);
    EXPECT_EQ(hd.h, 1080);
    WindowRect uhd = centred_start_rect(3840, 2160, 3820, 1990);
    EXPECT_EQ(uhd.x, 10);
    EXPECT_EQ(uhd.y, 85);
    EXPECT_EQ(uhd.w, 3820);
}

TEST(SplashGeometry, CaptionButtonsFromTheRight)
{
    const int W = 1000, H = 31;
    EXPECT_EQ(caption_button_at(999, 5, W, H, 1.0f), CLOSE_BUTTON);
    EXPECT_EQ(caption_button_at(954, 5, W, H, 1.0f), CLOSE_BUTTON);
    EXPECT_EQ(caption_button_at(953, 5, W, H, 1.0f), MAXIMISE_BUTTON);
    EXPECT_EQ(caption_button_at(862, 5, W, H, 1.0f), MINIMISE_BUTTON);
    EXPECT_EQ(caption_button_at(861, 5, W, H, 1.0f), NO_BUTTON);
    EXPECT_EQ(caption_button_at(999, 31, W, H, 1.0f), NO_BUTTON);
    EXPECT_EQ(caption_button_at(931, 5, W, H, 1.5f), CLOSE_BUTTON);   // 69 px buttons
    // Released right of the window while captured: not the close button.
    EXPECT_EQ(caption_button_at(1010, 5, W, H, 1.0f), NO_BUTTON);
    EXPECT_TRUE(caption_drags_window(400, 5, W, H, 1.0f, false));
    EXPECT_FALSE(caption_drags_window(400, 5, W, H, 1.0f, true));
    EXPECT_FALSE(caption_drags_window(999, 5, W, H, 1.0f, false));
    EXPECT_FALSE(caption_drags_window(400, 40, W, H, 1.0f, false));
}

TEST(ZOrder, OnlyTheUsersOwnSwitchDropsTopmost)
{
    EXPECT_TRUE(user_switched_after_change(ForegroundOwner::other, 120, false));
    EXPECT_FALSE(user_switched_after_change(ForegroundOwner::other, 500, false));
    EXPECT_FALSE(user_switched_after_change(ForegroundOwner::launcher, 0, true));
    EXPECT_TRUE(user_switched_after_change(ForegroundOwner::none, 9999, true));
    EXPECT_FALSE(want_topmost(true));
}

TEST(ZOrder, HostWindows)
{
    HostCandidate engine{true, false, "GLFW30", true, false, 320, 200};
    EXPECT_TRUE(qualifies_as_host(engine));
    engine.client_w = 319;
    EXPECT_FALSE(qualifies_as_host(engine));
    engine.visible = true;
    EXPECT_TRUE(qualifies_as_host(engine));
    HostCandidate dialog{true, false, "#32770", true, true, 100, 100};
    EXPECT_TRUE(qualifies_as_host(dialog));
    dialog.has_caption = false;
    EXPECT_FALSE(qualifies_as_host(dialog));
    HostCandidate foreign{false, false, "GLFW30", true, true, 800, 600};
    EXPECT_FALSE(qualifies_as_host(foreign));
    HostCandidate itself{true, true, "tarnwickSplash", true, true, 800, 600};
    EXPECT_FALSE(qualifies_as_host(itself));
    EXPECT_FALSE(host_caption_height_usable(12));
    EXPECT_TRUE(host_caption_height_usable(31));
    EXPECT_FALSE(host_caption_height_usable(170));
}

TEST(ZOrder, FollowingTheHost)
{
    FollowInput in;
    in.host_visible = true;
    in.target = {100, 50, 1280, 720};
    in.renderer_w = 1280;
    in.renderer_h = 720;
    EXPECT_EQ(follow_action(in), FollowAction::move);
    in.splash_x = 100;
    in.splash_y = 50;
    EXPECT_EQ(follow_action(in), FollowAction::none);
    in.splash_hidden = true;   // back from a minimised host: show again
    EXPECT_EQ(follow_action(in), FollowAction::move);
    in.target.w = 1600;
    EXPECT_EQ(follow_action(in), FollowAction::resize);
    in.target.h = 199;
    EXPECT_EQ(follow_action(in), FollowAction::none);
    in.host_iconic = true;
    EXPECT_EQ(follow_action(in), FollowAction::hide);
    in.user_placed = true;   // dragged by the player: stays put
    EXPECT_EQ(follow_action(in), FollowAction::none);
}
