// The splash picture under Wine: background choice, cross-fade, credit line,
// capsule bar with its status text, and the caption bar of the screenshot
// mode, checked on the rendered pixels.
#include <windows.h>

#include "app/roads.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "splash/cross_fade.h"
#include "splash/gdiplus_api.h"
#include "splash/png_encoder.h"
#include "splash/splash_assets.h"
#include "splash/splash_fonts.h"
#include "splash/splash_renderer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t DARK = 0xFF05070A;

int red(uint32_t p) { return (p >> 16) & 0xFF; }
int green(uint32_t p) { return (p >> 8) & 0xFF; }
int blue(uint32_t p) { return p & 0xFF; }
int brightness(uint32_t p) { return red(p) + green(p) + blue(p); }

class SplashPicture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gdiplus_.ok());
        folder_ = fs::temp_directory_path() /
                  ("tw-render-" + std::to_string(GetCurrentProcessId()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override
    {
        release_splash_assets(renderer_);
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // A solid-colour picture saved through GDI+ as PNG.
    void write_picture(const std::wstring& name, uint32_t argb, int w = 64, int h = 36)
    {
        Gdiplus::Bitmap bitmap(w, h, PixelFormat32bppARGB);
        {
            Gdiplus::Graphics g(&bitmap);
            g.Clear(Gdiplus::Color(argb));
        }
        CLSID png{};
        ASSERT_TRUE(png_encoder(png));
        ASSERT_EQ(bitmap.Save((folder_ / name).wstring().c_str(), &png, nullptr), Gdiplus::Ok);
    }

    uint32_t at(int x, int y) const { return renderer_.back_buffer->pixels()[y * renderer_.width + x]; }
    std::string dir() const { return to_utf8(folder_.wstring()); }

    GdiplusSession gdiplus_;
    fs::path folder_;
    SplashRenderer renderer_;
};

TEST_F(SplashPicture, EmptyFolderGivesDarkFillWithCapsuleBarTextAndCredits)
{
    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 1920, 1080));
    ASSERT_EQ(renderer_.pictures.size(), 1u);
    EXPECT_EQ(renderer_.decoder, nullptr);
    // Without video and title the bar is 0.3 W wide, centred, below the middle.
    EXPECT_FLOAT_EQ(renderer_.bar_w, 576.0f);
    EXPECT_FLOAT_EQ(renderer_.bar_x, 672.0f);

    render_splash_frame(renderer_, 3.0, 0.5f, -1, "updating... 1.2 / 9.8 gb - 42 min");
    EXPECT_EQ(at(5, 5), DARK);
    EXPECT_EQ(at(1900, 300), DARK);

    // The capsule's filled half shines, the empty half stays a dark body.
    int cy = static_cast<int>(renderer_.bar_y + 0.738f * renderer_.bar_w / 10);
    int left = static_cast<int>(renderer_.bar_x + renderer_.bar_w * 0.25f);
    int right = static_cast<int>(renderer_.bar_x + renderer_.bar_w * 0.75f);
    EXPECT_GT(brightness(at(left, cy)), 300);
    EXPECT_LT(brightness(at(right, cy)), 60);

    // Green status text somewhere below the bar.
    int green_pixels = 0;
    for (int y = cy; y < cy + 120; ++y)
        for (int x = 600; x < 1320; ++x) {
            uint32_t p = at(x, y);
            if (green(p) > 150 && red(p) < 140 && blue(p) < 140) ++green_pixels;
        }
    EXPECT_GT(green_pixels, 200);

    // The credit line sits light on dark along the bottom edge.
    int light = 0;
    for (int y = 1080 - 40; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x)
            if (brightness(at(x, y)) > 300) ++light;
    EXPECT_GT(light, 500) << "credit line missing";
}

// The credit line is laid on by hand instead of by AlphaBlend: every source
// alpha over every kind of background comes out as GDI's own blend does, and
// the rows outside the band stay as they were.
TEST(PremultipliedBlend, MatchesAlphaBlend)
{
    constexpr int W = 256, H = 24, BAND = 16, AT = 5;
    DibSection gdi, mine, band;
    ASSERT_TRUE(gdi.create(W, H) && mine.create(W, H) && band.create(W, BAND));
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < W * H; ++i) gdi.pixels()[i] = mine.pixels()[i] = 0xFF000000u | (next() >> 8);
    for (int y = 0; y < BAND; ++y)
        for (int x = 0; x < W; ++x) {
            // Column x has alpha x (0 to 255), colours premultiplied by it.
            const uint32_t a = static_cast<uint32_t>(x), c = next();
            const auto pre = [&](int shift) { return (((c >> shift) & 0xFF) * a / 255) << shift; };
            band.pixels()[y * W + x] = a << 24 | pre(16) | pre(8) | pre(0);
        }
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ASSERT_TRUE(AlphaBlend(gdi.dc(), 0, AT, W, BAND, band.dc(), 0, 0, W, BAND, blend));
    GdiFlush();
    PixelBuffer view = mine.view();
    blend_premultiplied(view, AT, band.view());
    for (int i = 0; i < W * H; ++i) {
        const uint32_t a = gdi.pixels()[i], b = mine.pixels()[i];
        if (i / W < AT || i / W >= AT + BAND) {
            ASSERT_EQ(a, b) << "outside the band at " << i;
        }
        for (int shift = 0; shift < 24; shift += 8)
            ASSERT_LE(std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)), 1)
                << "pixel " << i;
    }
}

TEST_F(SplashPicture, TextFallsBackToAnInstalledFamily)
{
    EXPECT_TRUE(text_font_family());
}

}  // namespace

namespace {

TEST_F(SplashPicture, StillsCrossFadeAfterSixSeconds)
{
    write_picture(L"bg_1.png", 0xFFFF0000);
    write_picture(L"bg_2.png", 0xFF0000FF);
    write_picture(L"bg_3.png", 0xFF00FF00);
    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 640, 360));
    ASSERT_EQ(renderer_.pictures.size(), 3u);

    // A corner lies outside the darkening ellipse and away from the bar.
    render_splash_frame(renderer_, 1.0, 0.0f, -1, "");
    EXPECT_GT(red(at(2, 2)), 250);
    EXPECT_LT(blue(at(2, 2)), 5);

    // At 6.6 s the second picture is half blended over the first.
    render_splash_frame(renderer_, 6.6, 0.0f, -1, "");
    EXPECT_NEAR(red(at(2, 2)), 128, 3);
    EXPECT_NEAR(blue(at(2, 2)), 127, 3);

    // The third turn shows the third picture alone.
    render_splash_frame(renderer_, 2 * 7.2 + 1.0, 0.0f, -1, "");
    EXPECT_GT(green(at(2, 2)), 250);
}

TEST_F(SplashPicture, VideoThatDoesNotOpenFallsBackToStillsWithoutTitle)
{
    std::FILE* f = _wfopen((folder_ / L"bg_video.mp4").wstring().c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a video at all", f);
    std::fclose(f);
    write_picture(L"title.png", 0xFFFFFFFF);
    write_picture(L"bg_1.jpg.png", 0xFF204060);

    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 1920, 1080));
    EXPECT_EQ(renderer_.decoder, nullptr);
    EXPECT_EQ(renderer_.title_overlay, nullptr);
    EXPECT_EQ(renderer_.poster, nullptr);
    ASSERT_EQ(renderer_.pictures.size(), 1u);
    // The layout still follows the video file's presence.
    EXPECT_FLOAT_EQ(renderer_.bar_w, 288.0f);
    EXPECT_FLOAT_EQ(renderer_.bar_x, 816.0f);
    EXPECT_NEAR(renderer_.bar_y, 661.2375f, 1e-3);
    EXPECT_NEAR(renderer_.bar_h, 30.24f, 1e-3);

    // Only the picture shows (no white title in the middle of it).
    render_splash_frame(renderer_, 0.5, 0.0f, -1, "");
    EXPECT_LT(brightness(at(960, 300)), 3 * 0x70);
    release_splash_assets(renderer_);

    // Without stills the dark fill stands in.
    fs::remove(folder_ / L"bg_1.jpg.png");
    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 800, 600));
    ASSERT_EQ(renderer_.pictures.size(), 1u);
    EXPECT_EQ(renderer_.pictures[0]->pixels()[0], DARK);
}

// The embedded video with its header overwritten: it does not open, and the
// splash shows the dark fill at once instead of waiting on the decoder.
TEST_F(SplashPicture, DamagedVideoFallsBackToTheDarkFillWithoutAStall)
{
    std::string video = read_whole_file(join_path(prepare_splash_assets(), L"bg_video.mp4"));
    ASSERT_GT(video.size(), 100000u);
    for (size_t i = 24; i < 4096; ++i) video[i] = static_cast<char>(i * 131);
    ASSERT_TRUE(write_file_atomic((folder_ / L"bg_video.mp4").wstring(), video));

    const DWORD start = GetTickCount();
    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 1920, 1080));
    EXPECT_EQ(renderer_.decoder, nullptr);
    ASSERT_EQ(renderer_.pictures.size(), 1u);
    for (int i = 0; i < 30; ++i) render_splash_frame(renderer_, i / 30.0, 0.5f, -1, "");
    EXPECT_EQ(at(5, 5), DARK);
    EXPECT_EQ(at(1900, 300), DARK);
    EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(SplashPicture, TitleOpaquePartIsScaledToThirtyPercentAndBarSitsBelowIt)
{
    // 800 x 200 with opaque columns 100..699: 600 px become 576 px.
    Gdiplus::Bitmap title(800, 200, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&title);
        g.Clear(Gdiplus::Color(0, 0, 0, 0));
        Gdiplus::SolidBrush white{Gdiplus::Color(0xFFFFFFFF)};
        g.FillRectangle(&white, 100, 50, 600, 100);
    }
    CLSID png{};
    ASSERT_TRUE(png_encoder(png));
    ASSERT_EQ(title.Save((folder_ / L"title.png").wstring().c_str(), &png, nullptr), Gdiplus::Ok);

    ASSERT_TRUE(load_splash_assets(renderer_, dir(), 1920, 1080));
    // k = 0.96: th = 192, ty = 444, bar below at 444 + 192 + 48.6.
    EXPECT_NEAR(renderer_.bar_y, 684.6f, 0.01f);
    render_splash_frame(renderer_, 0.0, 0.0f, -1, "");
    // Opaque part spans 960 +- 288 horizontally, rows 444 + 48 .. 444 + 144.
    EXPECT_GT(brightness(at(960 - 280, 540)), 700);
    EXPECT_GT(brightness(at(960 + 280, 540)), 700);
    EXPECT_LT(brightness(at(960 - 300, 540)), 100);
    EXPECT_LT(brightness(at(960 + 300, 540)), 100);
}

TEST_F(SplashPicture, VoxelAndPillStylesAreSelectedOncePerProcess)
{
    // The test process runs without either variable.
    if (std::getenv("V2_SPLASH_PILL") || std::getenv("V2_SPLASH_VOXELS")) GTEST_SKIP();
    EXPECT_EQ(splash_bar_style(), BarStyle::capsule);
    _putenv_s("V2_SPLASH_PILL", "1");
    EXPECT_EQ(splash_bar_style(), BarStyle::capsule);
    _putenv_s("V2_SPLASH_PILL", "");
}

// The caption of the screenshot mode, read back from the written PNG.
class ShotCaption : public SplashPicture {
protected:
    void TearDown() override
    {
        _putenv_s("V2_SPLASH_CAPTION", "");
        _putenv_s("V2_SPLASH_CAPTION_HOT", "");
        SplashPicture::TearDown();
    }
    std::unique_ptr<Gdiplus::Bitmap> shot(const char* scale, const char* hot = nullptr)
    {
        _putenv_s("V2_SPLASH_CAPTION", scale);
        _putenv_s("V2_SPLASH_CAPTION_HOT", hot ? hot : "");
        std::wstring file = (folder_ / L"shot \u00e9.png").wstring();
        EXPECT_TRUE(take_shot(dir(), file, 1920, 1080, 3.0, 0.5f, "x"));
        auto bitmap = std::make_unique<Gdiplus::Bitmap>(file.c_str());
        EXPECT_EQ(bitmap->GetWidth(), 1920u);
        EXPECT_EQ(bitmap->GetHeight(), 1080u);
        return bitmap;
    }
    static uint32_t pixel(Gdiplus::Bitmap& b, int x, int y)
    {
        Gdiplus::Color c;
        b.GetPixel(x, y, &c);
        return c.GetValue();
    }
    // Rows from the top that are caption-white at x (the accent colour is
    // off in a fresh prefix).
    static int white_rows(Gdiplus::Bitmap& b, int x)
    {
        int rows = 0;
        while (rows < 200 && pixel(b, x, rows) == 0xFFFFFFFF) ++rows;
        return rows;
    }
    static int non_white_in(Gdiplus::Bitmap& b, int x0, int y0, int size)
    {
        int n = 0;
        for (int y = y0; y < y0 + size; ++y)
            for (int x = x0; x < x0 + size; ++x)
                if (pixel(b, x, y) != 0xFFFFFFFF) ++n;
        return n;
    }
};

TEST_F(ShotCaption, ScaleTwoDraws62RowsWith32PixelIcon)
{
    auto b = shot("2");
    EXPECT_EQ(white_rows(*b, 700), 62);
    // The icon at x = 20, centred: (62 - 32) / 2 = 15; nothing beyond it.
    EXPECT_GT(non_white_in(*b, 20, 15, 32), 400);
    EXPECT_EQ(non_white_in(*b, 0, 0, 20), 0);
    EXPECT_EQ(non_white_in(*b, 20, 48, 12), 0);
    // No button is hot: the close button stays white apart from its glyph.
    EXPECT_EQ(pixel(*b, 1920 - 5, 5), 0xFFFFFFFFu);
}

TEST_F(ShotCaption, ScaleBelowOneIsRaisedToOne)
{
    auto b = shot("0.5");
    EXPECT_EQ(white_rows(*b, 700), 31);
    EXPECT_GT(non_white_in(*b, 10, 7, 16), 100);
    EXPECT_EQ(non_white_in(*b, 10, 24, 7), 0);
}

TEST_F(ShotCaption, HotCloseButtonTurnsRed)
{
    auto b = shot("1", "2");
    EXPECT_EQ(pixel(*b, 1920 - 3, 3), 0xFFC42B1Cu);
    EXPECT_EQ(pixel(*b, 1920 - 46 - 3, 3), 0xFFFFFFFFu);   // maximise stays white
}

TEST_F(ShotCaption, NotSetMeansNoCaption)
{
    _putenv_s("V2_SPLASH_CAPTION", "");
    std::wstring file = (folder_ / L"plain.png").wstring();
    ASSERT_TRUE(take_shot(dir(), file, 1920, 1080, 3.0, 0.5f, ""));
    Gdiplus::Bitmap b(file.c_str());
    EXPECT_EQ(pixel(b, 700, 0), DARK);
}

TEST_F(ShotCaption, UnwritableFileIsAFailedShot)
{
    std::wstring file = (folder_ / L"missing-folder" / L"x.png").wstring();
    EXPECT_FALSE(take_shot(dir(), file, 1920, 1080, 3.0, 0.5f, ""));
}

}  // namespace
