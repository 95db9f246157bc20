// Rebuilding the renderer at a new window size (maximise, following a host
// that is being resized) keeps the video's frame source, its last frame and
// the scaling workers instead of reopening and restarting them.
#include <windows.h>

#include "base/paths.h"
#include "splash/frame_scaler.h"
#include "splash/frame_source.h"
#include "splash/gdiplus_api.h"
#include "splash/splash_assets.h"
#include "splash/splash_renderer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

class OneColourVideo final : public FrameProducer {
public:
    bool has_reader() const override { return true; }
    int64_t frame_count() const override { return 1; }
    double frame_rate() const override { return 30.0; }
    int width() const override { return 64; }
    int height() const override { return 36; }
    bool decode_frame(int64_t, std::vector<uint8_t>& pixels) override
    {
        pixels.assign(64u * 36 * 4, 0);
        for (size_t i = 0; i < pixels.size(); i += 4) pixels[i + 2] = 200;   // red
        return true;
    }
};

TEST(SplashResize, KeepsTheVideoItsLastFrameAndTheWorkers)
{
    GdiplusSession gdiplus;
    ASSERT_TRUE(gdiplus.ok());
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "tw-resize-empty";
    std::filesystem::create_directories(folder);
    const std::string dir = to_utf8(folder.wstring());

    SplashRenderer r;
    ASSERT_TRUE(load_splash_assets(r, dir, 1920, 1080));
    r.frame_source = std::make_unique<VideoFrameSource>(std::make_unique<OneColourVideo>());
    start_video_workers(r);
    while (!r.frame_source->request_frame(0)) std::this_thread::yield();
    render_splash_frame(r, 0.0, 0.0f, 0, "");
    const VideoFrameSource* source = r.frame_source.get();
    const ScalePool* pool = r.scale_pool.get();

    ASSERT_TRUE(resize_splash_assets(r, dir, 1280, 720));
    start_video_workers(r);
    EXPECT_EQ(r.frame_source.get(), source);
    EXPECT_EQ(r.scale_pool.get(), pool);
    ASSERT_EQ(r.back_buffer->width(), 1280);
    EXPECT_EQ(r.width, 1280);
    // The frame shown before the resize covers the new window at once.
    render_splash_frame(r, 0.0, 0.0f, 0, "");
    EXPECT_EQ(r.back_buffer->pixels()[100 * 1280 + 100] & 0xFFFFFF, 0xC80000u);
    release_splash_assets(r);
}

// A frame made at the window's size is drawn on in place. Shown again (the
// next video frame is late), it must be drawn on from its kept clean rows:
// otherwise the bar's shadow and the text would darken it once more.
TEST(SplashVideoPicture, AFrameShownTwiceLooksTheSameBothTimes)
{
    GdiplusSession gdiplus;
    ASSERT_TRUE(gdiplus.ok());
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "tw-picture-empty";
    std::filesystem::create_directories(folder);
    SplashRenderer r;
    ASSERT_TRUE(load_splash_assets(r, to_utf8(folder.wstring()), 640, 360));
    r.frame_source = std::make_unique<VideoFrameSource>(std::make_unique<OneColourVideo>());
    start_video_workers(r);
    // A frame well ahead of those made before the source was told the
    // window's size.
    while (!r.frame_source->request_frame(20)) std::this_thread::yield();
    render_splash_frame(r, 0.0, 0.5f, 20, "");   // the video's fade starts
    render_splash_frame(r, 5.0, 0.5f, 20, "downloading 50 %");
    ASSERT_TRUE(r.frame_is_picture);
    lay_caption_rows(r, 31);
    const std::vector<uint8_t> first = r.frame_pixels;
    EXPECT_NE(first[(10 * 640 + 10) * 4 + 2], 200);   // the caption is on it
    render_splash_frame(r, 5.0, 0.5f, 20, "downloading 50 %");
    lay_caption_rows(r, 31);
    ASSERT_TRUE(r.frame_is_picture);
    EXPECT_TRUE(r.frame_pixels == first);
    release_splash_assets(r);
}

}  // namespace
