#include "splash/splash_renderer.h"

#include "splash/capsule_bar.h"
#include "splash/cross_fade.h"
#include "splash/frame_scaler.h"
#include "splash/frame_source.h"
#include "splash/gdiplus_api.h"
#include "splash/pixel_font.h"
#include "splash/splash_fonts.h"
#include "splash/video_decoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace Gdiplus;

namespace {

constexpr uint32_t STATUS_TEXT_COLOUR = 0xFF60E060;

const wchar_t CREDIT_LINE[] =
    L"tarnwick launcher   \u00B7   game data \u00A9 its authors   \u00B7   Full credits in license.txt";

float clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

void copy_picture(const DibSection& from, DibSection& to)
{
    size_t count = static_cast<size_t>(to.width()) * to.height();
    if (from.width() == to.width() && from.height() == to.height())
        std::memcpy(to.pixels(), from.pixels(), count * 4);
}

PixelBuffer frame_view(SplashRenderer& r)
{
    return {reinterpret_cast<uint32_t*>(r.frame_pixels.data()), r.frame_width, r.frame_height, r.frame_width};
}

// Where this frame is drawn: the back buffer or the video frame.
PixelBuffer picture_of(SplashRenderer& r)
{
    return r.frame_is_picture ? frame_view(r) : r.back_buffer->view();
}

bool row_kept(const SplashRenderer& r, int row)
{
    for (const SplashRenderer::KeptRows& kept : r.kept_rows)
        if (kept.first <= row && row < kept.end) return true;
    return false;
}

// Keeps rows [first, end) of the frame that is the picture before anything
// is drawn over them. Rows kept already for this frame are not kept again:
// the bar's margin and the text below it share rows, and what the bar drew
// there must not come back as the clean picture.
void keep_rows(SplashRenderer& r, int first, int end)
{
    if (!r.frame_is_picture) return;
    first = std::max(first, 0);
    end = std::min(end, r.frame_height);
    const uint32_t* frame = frame_view(r).pixels;
    for (int row = first; row < end;) {
        if (row_kept(r, row)) {
            ++row;
            continue;
        }
        int run_end = row + 1;
        while (run_end < end && !row_kept(r, run_end)) ++run_end;
        const uint32_t* from = frame + static_cast<ptrdiff_t>(row) * r.frame_width;
        r.kept_rows.push_back(
            {row, run_end, std::vector<uint32_t>(from, from + static_cast<ptrdiff_t>(run_end - row) * r.frame_width)});
        row = run_end;
    }
}

// Takes the video frame as the picture: a frame drawn on before gets its
// kept rows back, a new one starts with none kept.
void take_frame_as_picture(SplashRenderer& r)
{
    r.frame_is_picture = true;
    if (r.drawn_on_frame != r.shown_frame) {
        r.kept_rows.clear();
        r.drawn_on_frame = r.shown_frame;
        return;
    }
    PixelBuffer frame = frame_view(r);
    for (const SplashRenderer::KeptRows& kept : r.kept_rows)
        std::memcpy(frame.pixels + static_cast<ptrdiff_t>(kept.first) * frame.stride, kept.pixels.data(),
                    kept.pixels.size() * 4);
}

// The frame wanted now; with only a decoder it follows the clock and loops.
int64_t wanted_video_frame(const SplashRenderer& r, double seconds, int64_t video_frame)
{
    if (r.frame_source) {
        if (video_frame >= 0) return video_frame;
        return static_cast<int64_t>(seconds * r.frame_source->fps());
    }
    if (!r.decoder || r.decoder->frame_count < 1) return 0;
    return static_cast<int64_t>(seconds * r.decoder->frames_per_second()) % r.decoder->frame_count;
}

void fetch_video_frame(SplashRenderer& r, int64_t n)
{
    if (n == r.shown_frame) return;
    bool fresh = false;
    if (r.frame_source) {
        int w = 0, h = 0;
        fresh = r.frame_source->fetch_frame(n, r.frame_pixels, w, h);
        if (fresh) {
            r.frame_width = w;
            r.frame_height = h;
        }
    } else if (r.decoder) {
        fresh = read_frame(*r.decoder, n, r.frame_pixels);
        if (fresh) {
            r.frame_width = r.decoder->width;
            r.frame_height = r.decoder->height;
        }
    }
    if (fresh) r.shown_frame = n;
}

// A poster made on its own thread, once it is there (and of this size).
void take_finished_poster(SplashRenderer& r, double seconds)
{
    if (r.poster || !r.poster_on_its_way.valid() ||
        r.poster_on_its_way.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    std::unique_ptr<DibSection> poster = r.poster_on_its_way.get();
    if (poster && poster->width() == r.width && poster->height() == r.height) {
        r.poster = std::move(poster);
        r.poster_since = seconds;
    }
}

// Until the video shows: the poster, fading in over the dark fill when it
// was made after the window's first frame.
void draw_waiting_background(SplashRenderer& r, double seconds)
{
    DibSection& back = *r.back_buffer;
    take_finished_poster(r, seconds);
    const int alpha = r.poster_since >= 0 ? video_fade_alpha(seconds - r.poster_since) : 255;
    if (!r.poster || alpha < 255)
        std::fill(back.pixels(), back.pixels() + static_cast<size_t>(back.width()) * back.height(),
                  SPLASH_DARK_FILL);
    if (!r.poster) return;
    if (alpha < 255) {
        PixelBuffer view = back.view();
        PixelBuffer poster = r.poster->view();
        blend_constant_alpha(view, poster, alpha);
    } else {
        copy_picture(*r.poster, back);
    }
}

void draw_video_background(SplashRenderer& r, double seconds, int64_t video_frame)
{
    DibSection& back = *r.back_buffer;
    fetch_video_frame(r, wanted_video_frame(r, seconds, video_frame));
    const size_t frame_bytes = static_cast<size_t>(r.frame_width) * r.frame_height * 4;
    bool have_frame = r.shown_frame >= 0 && !r.frame_pixels.empty() && r.frame_pixels.size() >= frame_bytes &&
                      r.frame_width > 0 && r.frame_height > 0;
    GdiFlush();
    if (have_frame && r.video_since < 0) r.video_since = seconds;
    // A frame source's video fades in over the poster; a screenshot (only a
    // decoder) shows the frame of its time as it is.
    const int alpha = have_frame && r.frame_source ? video_fade_alpha(seconds - r.video_since) : 255;
    if (!have_frame || alpha < 255) draw_waiting_background(r, seconds);
    if (have_frame && r.frame_width == back.width() && r.frame_height == back.height()) {
        // The frame source made the frame at the window's size: the picture
        // itself, or blended over the poster while it fades in. Only the
        // capsule bar is drawn without GDI, which the frame has no context for.
        PixelBuffer frame = frame_view(r);
        PixelBuffer view = back.view();
        if (alpha < 255)
            blend_constant_alpha(view, frame, alpha);
        else if (r.frame_source && !r.title_overlay && splash_bar_style() == BarStyle::capsule)
            take_frame_as_picture(r);
        else
            std::memcpy(back.pixels(), r.frame_pixels.data(), frame_bytes);
    } else if (have_frame) {
        // A frame of another size (the decoder's own, or one made before the
        // window changed size) is scaled here.
        PixelBuffer view = back.view();
        scale_frame_cover(reinterpret_cast<const uint32_t*>(r.frame_pixels.data()), r.frame_width,
                          r.frame_height, view, r.scale_pool.get());
    }
    if (r.title_overlay) {
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(back.dc(), r.title_x, r.title_y, r.title_w, r.title_h, r.title_overlay->dc(), 0, 0,
                   r.title_w, r.title_h, blend);
    }
}

void draw_background(SplashRenderer& r, double seconds, int64_t video_frame)
{
    bool video = renderer_has_video(r);
    int n = static_cast<int>(r.pictures.size());
    PictureCycle cycle = picture_cycle(seconds, n, static_cast<bool>(r.decoder));
    if (!video) {
        GdiFlush();
        if (cycle.index >= 0 && cycle.index < n) copy_picture(*r.pictures[cycle.index], *r.back_buffer);
    } else {
        draw_video_background(r, seconds, video_frame);
    }
    if (!r.decoder && n > 1 && cycle.alpha > 0 && cycle.next >= 0 && cycle.next < n) {
        PixelBuffer dst = r.back_buffer->view();
        PixelBuffer src = r.pictures[cycle.next]->view();
        blend_constant_alpha(dst, src, cycle.alpha);
    }
}

// Draws the credit line (shadow, then text) into g, whose origin is the
// window's top-left moved up by y0.
bool draw_credit_text(Graphics& g, const Font& font, float s, int W, int H, float y0)
{
    StringFormat format;
    format.SetAlignment(StringAlignmentCenter);
    format.SetLineAlignment(StringAlignmentFar);
    g.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
    SolidBrush shadow(Color(0x96000000));
    SolidBrush ink(Color(0xBEEBEBEB));
    g.DrawString(CREDIT_LINE, -1, &font, RectF(s + 1, 1 - y0, W - 2 * s, H - 0.9f * s), &format, &shadow);
    return g.DrawString(CREDIT_LINE, -1, &font, RectF(s, -y0, W - 2 * s, H - 0.9f * s), &format, &ink) == Ok;
}

// The band of the window the credit line covers, drawn once with GDI+ into
// premultiplied ARGB and kept as a DIB section for AlphaBlend.
void make_credit_overlay(SplashRenderer& r)
{
    const int W = r.width, H = r.height;
    float s = std::max(0.0125f * H, 10.0f);
    FontFamilyChoice family = text_font_family();
    if (!family) return;
    Font font(family.get(), s, FontStyleRegular, UnitPixel);
    if (font.GetLastStatus() != Ok) return;

    StringFormat format;
    format.SetAlignment(StringAlignmentCenter);
    SizeF size;
    {
        Bitmap probe(1, 1, PixelFormat32bppPARGB);
        Graphics measure(&probe);
        measure.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
        if (measure.MeasureString(CREDIT_LINE, -1, &font, SizeF(W - 2 * s, static_cast<REAL>(H)), &format,
                                  &size) != Ok)
            return;
    }
    // Text bottom at H - 0.9 s, plus room for the shadow's one-pixel offset
    // and the anti-aliasing fringe.
    int top = std::max(0, static_cast<int>(std::floor(H - 0.9f * s - size.Height)) - 4);
    int band = H - top;
    if (band < 1) return;
    Bitmap layer(W, band, PixelFormat32bppPARGB);
    if (layer.GetLastStatus() != Ok) return;
    {
        Graphics g(&layer);
        g.Clear(Color(0, 0, 0, 0));
        if (!draw_credit_text(g, font, s, W, H, static_cast<float>(top))) return;
    }
    auto overlay = std::make_unique<DibSection>();
    if (!overlay->create(W, band)) return;
    Rect all(0, 0, W, band);
    BitmapData data{};
    if (layer.LockBits(&all, ImageLockModeRead, PixelFormat32bppPARGB, &data) != Ok) return;
    for (int y = 0; y < band; ++y)
        std::memcpy(overlay->pixels() + static_cast<size_t>(y) * W,
                    static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(W) * 4);
    layer.UnlockBits(&data);
    r.credit_overlay = std::move(overlay);
    r.credit_y = top;
}

void draw_credit_line(SplashRenderer& r)
{
    if (!r.credit_overlay) make_credit_overlay(r);
    if (!r.credit_overlay) return;
    // Blended by hand: AlphaBlend visits every pixel of the band, most of
    // which the text leaves clear.
    GdiFlush();   // a title laid on by GDI just before
    PixelBuffer picture = picture_of(r);
    const PixelBuffer credit = r.credit_overlay->view();
    keep_rows(r, r.credit_y, r.credit_y + credit.height);
    blend_premultiplied(picture, r.credit_y, credit);
}

struct CubeColours {
    uint32_t top, front_top, front_bottom, side, edge;
};
constexpr CubeColours FILLED_CUBE{0xFFFFE9A8, 0xFFF9C966, 0xFFD69838, 0xFFA87226, 0x46000000};
constexpr CubeColours CURRENT_CUBE{0xFFFFFFFF, 0xFFF4F4F4, 0xFFD6D6DA, 0xFFB2B2BA, 0x46000000};
constexpr CubeColours EMPTY_CUBE{0x46FFFFFF, 0x96101319, 0xA5080A0E, 0x78282E38, 0x5AFFFFFF};

void draw_cube(Graphics& g, float x, float y, float e, float f, const CubeColours& c)
{
    Pen edge(Color(c.edge), std::max(0.03f * e, 1.0f));
    PointF top[] = {{x, y}, {x + f, y - f}, {x + e + f, y - f}, {x + e, y}};
    PointF side[] = {{x + e, y}, {x + e + f, y - f}, {x + e + f, y + e - f}, {x + e, y + e}};
    SolidBrush top_brush(Color(c.top));
    SolidBrush side_brush(Color(c.side));
    g.FillPolygon(&top_brush, top, 4);
    g.DrawPolygon(&edge, top, 4);
    g.FillPolygon(&side_brush, side, 4);
    g.DrawPolygon(&edge, side, 4);
    LinearGradientBrush front(PointF(x, y), PointF(x, y + e), Color(c.front_top), Color(c.front_bottom));
    front.SetWrapMode(WrapModeTileFlipXY);
    g.FillRectangle(&front, RectF(x, y, e, e));
    g.DrawRectangle(&edge, RectF(x, y, e, e));
}

// Ten cubes in a bobbing row; returns the top of the status text and its
// cell size through y and z.
void draw_voxel_bar(Graphics& g, const SplashRenderer& r, double seconds, float progress,
                    float& text_x, float& text_y, float& z, size_t text_length)
{
    float d = r.bar_w / 10, e = 0.9f * d, f = 0.32f * e;
    float top = r.bar_y + f + static_cast<float>(std::sin(1.3 * seconds)) * 0.004f * r.height;
    int filled = static_cast<int>(std::lround(clamp01(progress) * 9));
    filled = std::clamp(filled, 0, 9);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(PixelOffsetModeHalf);
    for (int i = 0; i < 10; ++i) {
        const CubeColours& c = i < filled ? FILLED_CUBE : (i == filled ? CURRENT_CUBE : EMPTY_CUBE);
        draw_cube(g, r.bar_x + i * d, top, e, f, c);
    }
    z = 0.75f * 0.17f * d;
    text_x = r.bar_x + (9 * d + e + f) / 2 - (6.0f * text_length - 1) * z / 2;
    text_y = top + e + 3 * 0.17f * d;
}

void add_pill(GraphicsPath& path, float x, float y, float w, float h)
{
    path.AddArc(x, y, h, h, 90, 180);
    path.AddArc(x + std::max(h, w) - h, y, h, h, 270, 180);
    path.CloseFigure();
}

void draw_pill_bar(Graphics& g, const SplashRenderer& r, float progress)
{
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    GraphicsPath body;
    add_pill(body, r.bar_x, r.bar_y, r.bar_w, r.bar_h);
    SolidBrush body_brush(Color(0x96080A0E));
    g.FillPath(&body_brush, &body);
    Pen outline(Color(0x6EFFD76A), std::max(0.12f * r.bar_h, 1.0f));
    g.DrawPath(&outline, &body);

    GraphicsPath fill;
    add_pill(fill, r.bar_x, r.bar_y, std::max(clamp01(progress) * r.bar_w, r.bar_h), r.bar_h);
    LinearGradientBrush gold(PointF(0, r.bar_y), PointF(0, r.bar_y + r.bar_h), Color(0xFFFFE6A8),
                             Color(0xFFB8862E));
    Color stops[] = {Color(0xFFFFEEC2), Color(0xFFF0C060), Color(0xFFAB7D31)};
    REAL positions[] = {0.0f, 0.45f, 1.0f};
    gold.SetInterpolationColors(stops, positions, 3);
    gold.SetWrapMode(WrapModeTileFlipXY);
    g.FillPath(&gold, &fill);
}

void draw_status_text(DibSection& back, const std::string& text, float x, float y, float z)
{
    if (text.empty()) return;
    PixelBuffer view = back.view();
    draw_pixel_text(view, text, x, y, z, STATUS_TEXT_COLOUR);
}

}  // namespace

bool DibSection::create(int width, int height)
{
    if (width < 1 || height < 1) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;   // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ScreenDc screen(GetDC(nullptr));
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    MemoryDc dc(CreateCompatibleDC(screen.get()));
    screen.reset();
    GdiObject owned(bitmap);
    if (!bitmap || !bits || !dc) return false;
    SelectedObject selection(dc.get(), bitmap);
    if (!selection) return false;
    selection_ = std::move(selection);   // puts back the selection of an earlier create first
    bitmap_ = std::move(owned);
    dc_ = std::move(dc);
    pixels_ = static_cast<uint32_t*>(bits);
    width_ = width;
    height_ = height;
    return true;
}

SplashRenderer::SplashRenderer() = default;
SplashRenderer::~SplashRenderer()
{
    frame_source.reset();   // joins the decode thread first
}

BarStyle splash_bar_style()
{
    static const BarStyle style = [] {
        if (std::getenv("V2_SPLASH_PILL")) return BarStyle::pill;
        if (std::getenv("V2_SPLASH_VOXELS")) return BarStyle::voxels;
        return BarStyle::capsule;
    }();
    return style;
}

bool renderer_has_video(const SplashRenderer& r)
{
    return r.decoder || r.frame_source || !r.video_path.empty();
}

void render_splash_frame(SplashRenderer& r, double seconds, float progress, int64_t video_frame,
                         const std::string& text)
{
    if (!r.back_buffer) return;
    DibSection& back = *r.back_buffer;
    r.frame_is_picture = false;
    draw_background(r, seconds, video_frame);

    BarStyle style = splash_bar_style();
    if (style == BarStyle::capsule && !back.pixels()) style = BarStyle::voxels;
    draw_credit_line(r);
    float x = 0, y = 0, z = 0;
    if (style != BarStyle::capsule) {
        Graphics g(back.dc());
        if (style == BarStyle::pill) draw_pill_bar(g, r, progress);
        if (style == BarStyle::voxels) draw_voxel_bar(g, r, seconds, progress, x, y, z, text.size());
        g.Flush(FlushIntentionSync);
    }
    GdiFlush();
    if (style == BarStyle::voxels) {
        draw_status_text(back, text, x, y, z);
    } else if (style == BarStyle::capsule) {
        PixelBuffer view = picture_of(r);
        BarRect bar = r.bar();
        int first = 0, end = 0;
        capsule_bar_rows(bar, view.height, first, end);
        keep_rows(r, first, end);
        shade_capsule_bar(view, bar, seconds, progress);
        capsule_text_origin(bar, text.size(), x, y, z);
        if (!text.empty()) {
            pixel_text_rows(y, z, first, end);
            keep_rows(r, first, end);
            draw_pixel_text(view, text, x, y, z, STATUS_TEXT_COLOUR);
        }
    }
}

void lay_caption_rows(SplashRenderer& r, int rows)
{
    if (!r.frame_is_picture || !r.back_buffer) return;
    rows = std::min(rows, r.frame_height);
    if (rows < 1) return;
    GdiFlush();
    keep_rows(r, 0, rows);
    std::memcpy(r.frame_pixels.data(), r.back_buffer->pixels(), static_cast<size_t>(rows) * r.frame_width * 4);
}

void present_splash_frame(const SplashRenderer& r, HDC dc)
{
    if (!r.frame_is_picture) {
        const DibSection& back = *r.back_buffer;
        BitBlt(dc, 0, 0, back.width(), back.height(), back.dc(), 0, 0, SRCCOPY);
        return;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = r.frame_width;
    info.bmiHeader.biHeight = -r.frame_height;   // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, r.frame_width, r.frame_height, 0, 0, 0, r.frame_height, r.frame_pixels.data(),
                      &info, DIB_RGB_COLORS);
}
