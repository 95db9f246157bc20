// The self-drawn caption bar of the borderless splash window: accent or
// white background, the icon and title on the left, minimise, maximise /
// restore and close buttons on the right, as Windows 11 draws them.
#include "splash/splash_fonts.h"
#include "splash/splash_renderer.h"

#include <cmath>
#include <memory>

using namespace Gdiplus;

namespace {

// The accent colour when "show accent colour on title bars" is on, read once
// per process; white otherwise.
uint32_t caption_background()
{
    static const uint32_t colour = [] {
        const wchar_t* key = L"Software\\Microsoft\\Windows\\DWM";
        DWORD prevalence = 0, size = sizeof(prevalence);
        if (RegGetValueW(HKEY_CURRENT_USER, key, L"ColorPrevalence", RRF_RT_REG_DWORD, nullptr, &prevalence,
                         &size) != ERROR_SUCCESS || prevalence != 1)
            return 0xFFFFFFFFu;
        DWORD accent = 0;
        size = sizeof(accent);
        if (RegGetValueW(HKEY_CURRENT_USER, key, L"AccentColor", RRF_RT_REG_DWORD, nullptr, &accent, &size) !=
            ERROR_SUCCESS)
            return 0xFFFFFFFFu;
        // Stored as 0xAABBGGRR.
        uint32_t r = accent & 0xFF, g = (accent >> 8) & 0xFF, b = (accent >> 16) & 0xFF;
        return 0xFF000000u | (r << 16) | (g << 8) | b;
    }();
    return colour;
}

bool is_dark(uint32_t argb)
{
    double r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return 0.299 * r + 0.587 * g + 0.114 * b < 140;
}

enum class Glyph { minimise, maximise, restore, close };

wchar_t icon_font_code(Glyph glyph)
{
    switch (glyph) {
    case Glyph::minimise: return L'\uE921';
    case Glyph::maximise: return L'\uE922';
    case Glyph::restore: return L'\uE923';
    case Glyph::close: return L'\uE8BB';
    }
    return L' ';
}

// Without an icon font the glyphs are drawn as thin lines in a square of the
// same size the font would give, centred in the button.
void draw_line_glyph(Graphics& g, Glyph glyph, const RectF& button, float size, float scale, Color ink)
{
    Pen pen(ink, std::max(1.0f, std::round(scale)));
    float x = std::round(button.X + (button.Width - size) / 2);
    float y = std::round(button.Y + (button.Height - size) / 2);
    switch (glyph) {
    case Glyph::minimise:
        g.DrawLine(&pen, x, y + size / 2, x + size, y + size / 2);
        break;
    case Glyph::maximise:
        g.DrawRectangle(&pen, x, y, size, size);
        break;
    case Glyph::restore: {
        float o = std::round(size * 0.2f);
        g.DrawRectangle(&pen, x, y + o, size - o, size - o);
        g.DrawLine(&pen, x + o, y + o, x + o, y);
        g.DrawLine(&pen, x + o, y, x + size, y);
        g.DrawLine(&pen, x + size, y, x + size, y + size - o);
        g.DrawLine(&pen, x + size, y + size - o, x + size - o, y + size - o);
        break;
    }
    case Glyph::close:
        g.DrawLine(&pen, x, y, x + size, y + size);
        g.DrawLine(&pen, x + size, y, x, y + size);
        break;
    }
}

void draw_glyph(Graphics& g, Glyph glyph, const RectF& button, float dpi_scale, Color ink)
{
    float size = 10 * dpi_scale;
    FontFamilyChoice family = icon_font_family();
    if (family) {
        Font font(family.get(), size, FontStyleRegular, UnitPixel);
        if (font.GetLastStatus() == Ok) {
            StringFormat format;
            format.SetAlignment(StringAlignmentCenter);
            format.SetLineAlignment(StringAlignmentCenter);
            SolidBrush brush(ink);
            wchar_t code = icon_font_code(glyph);
            g.DrawString(&code, 1, &font, button, &format, &brush);
            return;
        }
    }
    SmoothingMode before = g.GetSmoothingMode();
    g.SetSmoothingMode(glyph == Glyph::close ? SmoothingModeAntiAlias : SmoothingModeNone);
    draw_line_glyph(g, glyph, button, size, dpi_scale, ink);
    g.SetSmoothingMode(before);
}

void draw_title(Graphics& g, const std::wstring& title, const RectF& area, float dpi_scale, Color ink)
{
    if (title.empty() || area.Width <= 0) return;
    FontFamilyChoice family = text_font_family();
    Font font(family.get(), 12 * dpi_scale, FontStyleRegular, UnitPixel);
    if (font.GetLastStatus() != Ok) return;
    StringFormat format(StringFormatFlagsNoWrap);
    format.SetLineAlignment(StringAlignmentCenter);
    format.SetTrimming(StringTrimmingEllipsisCharacter);
    SolidBrush brush(ink);
    g.DrawString(title.c_str(), static_cast<INT>(title.size()), &font, area, &format, &brush);
}

void paint_caption(HDC dc, int width, int caption_height, float dpi_scale, int hover_button,
                   int pressed_button, bool maximized, const std::wstring& title, HICON small_icon)
{
    const uint32_t background = caption_background();
    const bool dark = is_dark(background);
    const Color ink(dark ? 0xFFFFFFFF : 0xFF000000);
    const float h = static_cast<float>(caption_height);
    const int b = static_cast<int>(std::lround(46 * dpi_scale));

    Graphics g(dc);
    SolidBrush fill{Color(background)};
    g.FillRectangle(&fill, 0, 0, width, caption_height);
    g.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);

    const Glyph middle = maximized ? Glyph::restore : Glyph::maximise;
    const Glyph glyphs[2] = {Glyph::minimise, middle};
    for (int button = 0; button < 2; ++button) {
        RectF area(static_cast<REAL>(width - (3 - button) * b), 0, static_cast<REAL>(b), h);
        bool pressed = pressed_button == button, hovered = hover_button == button;
        if (pressed || hovered) {
            uint32_t shade = dark ? (pressed ? 0x46FFFFFF : 0x28FFFFFF) : (pressed ? 0x28000000 : 0x18000000);
            SolidBrush brush{Color(shade)};
            g.FillRectangle(&brush, area);
        }
        draw_glyph(g, glyphs[button], area, dpi_scale, ink);
    }
    RectF close_area(static_cast<REAL>(width - b), 0, static_cast<REAL>(b), h);
    Color close_ink = ink;
    if (pressed_button == 2 || hover_button == 2) {
        SolidBrush red{Color(pressed_button == 2 ? 0xFFC83C2E : 0xFFC42B1C)};
        g.FillRectangle(&red, close_area);
        close_ink = Color(0xFFFFFFFF);
    }
    draw_glyph(g, Glyph::close, close_area, dpi_scale, close_ink);

    int title_x = static_cast<int>(std::lround(10 * dpi_scale));
    if (small_icon) {
        int icon = static_cast<int>(std::lround(16 * dpi_scale));
        int x = title_x;
        g.Flush(FlushIntentionSync);
        DrawIconEx(dc, x, (caption_height - icon) / 2, small_icon, icon, icon, 0, nullptr, DI_NORMAL);
        GdiFlush();
        title_x = x + static_cast<int>(std::lround(8 * dpi_scale)) + icon;
    }
    float title_right = static_cast<float>(width - 3 * b);
    RectF title_area(static_cast<REAL>(title_x), 0, std::max(0.0f, title_right - title_x), h);
    draw_title(g, title, title_area, dpi_scale, ink);
}

// Everything the caption's pixels depend on. The icon is known by its handle:
// a caller that destroys an icon and loads a different picture under the
// same handle value would see the old picture until something else changes.
struct CaptionKey {
    int width = 0, height = 0;
    float dpi_scale = 0;
    int hover = -2, pressed = -2;
    bool maximized = false;
    std::wstring title;
    HICON icon = nullptr;
    bool operator==(const CaptionKey&) const = default;
};

// The caption changes only on hover, press, resize or a new title, yet GDI+
// text on a device context costs milliseconds per frame (far more under
// Wine), so each drawing thread keeps its last caption as an opaque strip and
// copies it while nothing changed.
struct CaptionCache {
    CaptionKey key;
    std::unique_ptr<DibSection> strip;
};

}  // namespace

void draw_caption(HDC dc, int width, int caption_height, float dpi_scale, int hover_button,
                  int pressed_button, bool maximized, const std::wstring& title, HICON small_icon)
{
    if (caption_height < 1 || width < 1 || !dc) return;
    thread_local CaptionCache cache;
    CaptionKey key{width, caption_height, dpi_scale, hover_button, pressed_button, maximized, title, small_icon};
    if (!cache.strip || !(cache.key == key)) {
        cache.strip.reset();
        auto strip = std::make_unique<DibSection>();
        if (!strip->create(width, caption_height)) {
            paint_caption(dc, width, caption_height, dpi_scale, hover_button, pressed_button, maximized, title,
                          small_icon);
            return;
        }
        paint_caption(strip->dc(), width, caption_height, dpi_scale, hover_button, pressed_button, maximized,
                      title, small_icon);
        GdiFlush();
        cache.strip = std::move(strip);
        cache.key = std::move(key);
    }
    BitBlt(dc, 0, 0, width, caption_height, cache.strip->dc(), 0, 0, SRCCOPY);
}
