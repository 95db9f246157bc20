// The splash picture under Wine: background choice, cross-fade, credit line,
// capsule bar with its status text, and the caption bar of the screenshot
// mode, checked on the rendered pixels.
#include <windows.h>

#include "app/paths.h"
#include "app/roads.h"
#include "splash/gdiplus_api.h"
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
        UINT count = 0, bytes = 0;
        Gdiplus::GetImageEncodersSize(&count, &bytes);
        std::string storage(bytes, '\0');
        auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
        Gdiplus::GetImageEncoders(count, bytes, codecs);
        for (UINT i = 0; i < count; ++i)
            if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0) png = codecs[i].Clsid;
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

TEST_F(SplashPicture, TextFallsBackToAnInstalledFamily)
{
    EXPECT_TRUE(text_font_family());
}

}  // namespace
