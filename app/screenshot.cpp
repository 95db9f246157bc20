// Screenshot mode: one still of the splash picture rendered without a
// window and saved as PNG, so the look can be checked where no window shows.
#include "app/roads.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "splash/gdiplus_api.h"
#include "splash/png_encoder.h"
#include "splash/splash_assets.h"
#include "splash/splash_renderer.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace Gdiplus;

namespace {

// "V2_SPLASH_CAPTION" read like atof, never below 1.0; 0 when not set.
double caption_scale()
{
    const char* value = std::getenv("V2_SPLASH_CAPTION");
    if (!value) return 0;
    return std::max(1.0, std::atof(value));
}

int caption_hot_button()
{
    const char* value = std::getenv("V2_SPLASH_CAPTION_HOT");
    return value ? static_cast<int>(std::atol(value)) : -1;
}

void draw_shot_caption(SplashRenderer& renderer, double scale)
{
    int icon_size = static_cast<int>(16 * scale);
    IconHandle icon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                  icon_size, icon_size, LR_DEFAULTCOLOR)));
    int caption_height = static_cast<int>(std::lround(31 * scale));
    draw_caption(renderer.back_buffer->dc(), renderer.width, caption_height, static_cast<float>(scale),
                 caption_hot_button(), -1, false, L"" TW_PRODUCT_WORD " v1.8", icon.get());
}

bool save_png(const DibSection& picture, const std::wstring& file)
{
    CLSID clsid;
    if (!png_encoder(clsid)) return false;
    GdiFlush();
    // The DIB's memory as a GDI+ bitmap without alpha (the unused byte is
    // ignored), so the file shows exactly the back buffer.
    Bitmap bitmap(picture.width(), picture.height(), picture.width() * 4, PixelFormat32bppRGB,
                  reinterpret_cast<BYTE*>(picture.pixels()));
    if (bitmap.GetLastStatus() != Ok) return false;
    return bitmap.Save(file.c_str(), &clsid, nullptr) == Ok;
}

}  // namespace

bool take_shot(const std::string& assets_dir, const std::wstring& file, int width, int height,
               double seconds, float progress, const std::string& text)
{
    GdiplusSession gdiplus;
    if (!gdiplus.ok()) return false;
    bool ok = false;
    {
        SplashRenderer renderer;
        if (load_splash_assets(renderer, assets_dir, width, height)) {
            render_splash_frame(renderer, seconds, progress, -1, text);
            double scale = caption_scale();
            if (scale > 0) draw_shot_caption(renderer, scale);
            ok = save_png(*renderer.back_buffer, file);
        }
        release_splash_assets(renderer);
    }
    return ok;
}
