#include "splash/splash_assets.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/splash_hooks.h"
#include "base/whole_file.h"
#include "splash/frame_scaler.h"
#include "base/com_apartment.h"
#include "splash/frame_source.h"
#include "splash/frame_timer.h"
#include "splash/gdiplus_api.h"
#include "splash/video_decoder.h"

#include <mfapi.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;
using namespace Gdiplus;

namespace {

struct EmbeddedAsset {
    const wchar_t* resource;
    const wchar_t* file;
};
constexpr EmbeddedAsset EMBEDDED_ASSETS[] = {
    {L"VIDEO", L"bg_video.mp4"},
    {L"POSTER", L"poster.jpg"},
    {L"TICK", L"tick.wav"},
};

// The bytes of an RT_RCDATA resource of this program; empty when missing.
std::string_view resource_bytes(const wchar_t* name)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, name, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!info) return {};
    DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || size == 0) return {};
    return {static_cast<const char*>(data), size};
}

std::wstring lower(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

bool is_regular_file(const std::wstring& path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::path(path), ec);
}

// COM for multithreaded use, once on every thread that loads assets. A
// thread that already chose a single-threaded apartment keeps it; the source
// reader works in either.
void initialise_com_on_this_thread()
{
    thread_local bool done = false;
    if (done) return;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    done = true;
}

std::unique_ptr<Bitmap> load_bitmap(const std::wstring& path)
{
    std::unique_ptr<Bitmap> bitmap(Bitmap::FromFile(path.c_str(), FALSE));
    if (!bitmap || bitmap->GetLastStatus() != Ok || bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0)
        return nullptr;
    return bitmap;
}

// First and last columns holding a pixel with alpha above 128; c0 = -1 when
// the picture has none.
void opaque_columns(Bitmap& bitmap, int& c0, int& c1)
{
    c0 = -1;
    c1 = -1;
    int w = static_cast<int>(bitmap.GetWidth()), h = static_cast<int>(bitmap.GetHeight());
    Rect all(0, 0, w, h);
    BitmapData data{};
    if (bitmap.LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) return;
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(data.Scan0) +
                                                                static_cast<ptrdiff_t>(y) * data.Stride);
        for (int x = 0; x < w; ++x) {
            if ((row[x] >> 24) <= 128) continue;
            if (c0 < 0 || x < c0) c0 = x;
            if (x > c1) c1 = x;
        }
    }
    bitmap.UnlockBits(&data);
}

// Draws image scaled to cover a W x H area, centred, the overflow cropped.
// Mirrored edge sampling keeps the filter from fading the border to black.
void draw_cover(Graphics& g, Image& image, int W, int H)
{
    float iw = static_cast<float>(image.GetWidth()), ih = static_cast<float>(image.GetHeight());
    float s = std::max(W / iw, H / ih);
    float dw = iw * s, dh = ih * s;
    ImageAttributes edges;
    edges.SetWrapMode(WrapModeTileFlipXY);
    g.DrawImage(&image, RectF((W - dw) / 2, (H - dh) / 2, dw, dh), 0, 0, iw, ih, UnitPixel, &edges);
}

std::unique_ptr<DibSection> make_picture(int W, int H)
{
    auto picture = std::make_unique<DibSection>();
    if (!picture->create(W, H)) return nullptr;
    return picture;
}

// The poster is the video's first frame and shows until the video fades in
// over it, so it is scaled as the video's frames are (scale_frame_cover):
// the fade then starts from the same picture, and the first frame of the
// window does not wait for GDI+'s much slower filter.
std::unique_ptr<DibSection> make_poster(const std::wstring& path, int W, int H)
{
    std::unique_ptr<Bitmap> image = load_bitmap(path);
    if (!image) return nullptr;
    std::unique_ptr<DibSection> poster = make_picture(W, H);
    if (!poster) return nullptr;
    const int w = static_cast<int>(image->GetWidth()), h = static_cast<int>(image->GetHeight());
    Rect all(0, 0, w, h);
    BitmapData data{};
    if (image->LockBits(&all, ImageLockModeRead, PixelFormat32bppRGB, &data) != Ok) return nullptr;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        std::memcpy(pixels.data() + static_cast<size_t>(y) * w,
                    static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(w) * 4);
    image->UnlockBits(&data);
    PixelBuffer view = poster->view();
    scale_frame_cover(pixels.data(), w, h, view, nullptr);
    return poster;
}

void draw_title(Graphics& g, Image& title, const TitleBox& box)
{
    g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g.DrawImage(&title, RectF(box.x, box.y, box.w, box.h));
}

// The title in a premultiplied-alpha section of its own, positioned on whole
// pixels so that per frame it is a single AlphaBlend.
void make_title_overlay(SplashRenderer& r, Image& title, const TitleBox& box)
{
    int w = std::max(1, static_cast<int>(std::ceil(box.w)) + 1);
    int h = std::max(1, static_cast<int>(std::ceil(box.h)) + 1);
    Bitmap layer(w, h, PixelFormat32bppPARGB);
    if (layer.GetLastStatus() != Ok) return;
    {
        Graphics g(&layer);
        g.Clear(Color(0, 0, 0, 0));
        TitleBox local = box;
        local.x = box.x - std::floor(box.x);
        local.y = box.y - std::floor(box.y);
        draw_title(g, title, local);
    }
    auto overlay = std::make_unique<DibSection>();
    if (!overlay->create(w, h)) return;
    Rect all(0, 0, w, h);
    BitmapData data{};
    if (layer.LockBits(&all, ImageLockModeRead, PixelFormat32bppPARGB, &data) != Ok) return;
    for (int y = 0; y < h; ++y)
        std::memcpy(overlay->pixels() + static_cast<size_t>(y) * w,
                    static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(w) * 4);
    layer.UnlockBits(&data);
    r.title_x = static_cast<int32_t>(std::floor(box.x));
    r.title_y = static_cast<int32_t>(std::floor(box.y));
    r.title_w = w;
    r.title_h = h;
    r.title_overlay = std::move(overlay);
}

// A still scaled to cover the window, darkened towards the middle by a soft
// ellipse so the bar and text stand out, with the title on top.
std::unique_ptr<DibSection> make_still(const std::wstring& path, int W, int H, Image* title,
                                       const TitleBox& box)
{
    std::unique_ptr<Bitmap> image = load_bitmap(path);
    if (!image) return nullptr;
    std::unique_ptr<DibSection> picture = make_picture(W, H);
    if (!picture) return nullptr;
    Graphics g(picture->dc());
    g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(PixelOffsetModeHalf);
    draw_cover(g, *image, W, H);

    GraphicsPath ellipse;
    float ew = 0.78f * W, eh = 0.62f * H;
    ellipse.AddEllipse((W - ew) / 2, (H - eh) / 2, ew, eh);
    PathGradientBrush shade(&ellipse);
    shade.SetCenterColor(Color(0x7805070A));
    Color rim(0x0005070A);
    INT count = 1;
    shade.SetSurroundColors(&rim, &count);
    g.FillPath(&shade, &ellipse);

    if (title) draw_title(g, *title, box);
    return picture;
}

std::unique_ptr<DibSection> make_dark_fill(int W, int H, Image* title, const TitleBox& box)
{
    std::unique_ptr<DibSection> picture = make_picture(W, H);
    if (!picture) return nullptr;
    std::fill(picture->pixels(), picture->pixels() + static_cast<size_t>(W) * H, SPLASH_DARK_FILL);
    if (title) {
        Graphics g(picture->dc());
        g.SetPixelOffsetMode(PixelOffsetModeHalf);
        draw_title(g, *title, box);
    }
    return picture;
}

// Opens the video; it counts only with at least one frame.
std::unique_ptr<VideoDecoder> open_background_video(const std::wstring& path)
{
    if (!media_foundation_ready()) return nullptr;
    initialise_com_on_this_thread();
    auto decoder = std::make_unique<VideoDecoder>();
    if (!open_video(*decoder, to_utf8(path)) || decoder->frame_count < 1) return nullptr;
    return decoder;
}

// The background video as a frame source opens it: on the decode thread,
// while the splash already shows its poster.
class BackgroundVideo final : public FrameProducer {
public:
    explicit BackgroundVideo(std::wstring path) : path_(std::move(path)) {}

    bool open() override
    {
        const ULONGLONG started = GetTickCount64();
        if (!test_video_may_open()) return false;
        std::unique_ptr<VideoDecoder> decoder = open_background_video(path_);
        if (!decoder) {
            log_line("splash: the background video did not open -- no video");
            return false;
        }
        opened_ = make_frame_producer(std::move(*decoder));
        log_line("splash: the background video opened in %llu ms", GetTickCount64() - started);
        return true;
    }
    bool has_reader() const override { return opened_ && opened_->has_reader(); }
    int64_t frame_count() const override { return opened_ ? opened_->frame_count() : 0; }
    double frame_rate() const override { return opened_ ? opened_->frame_rate() : 0; }
    int width() const override { return opened_ ? opened_->width() : 0; }
    int height() const override { return opened_ ? opened_->height() : 0; }
    bool decode_frame(int64_t f, std::vector<uint8_t>& pixels) override
    {
        return opened_ && opened_->decode_frame(f, pixels);
    }

private:
    std::wstring path_;
    std::unique_ptr<FrameProducer> opened_;
};

// Everything made for one window size. The video, its last frame and the
// scaling workers do not depend on the size and stay.
void release_window_pictures(SplashRenderer& r)
{
    r.pictures.clear();
    r.poster.reset();
    r.poster_on_its_way = {};   // waits for a poster still being made
    r.poster_since = -1;
    r.title_overlay.reset();
    r.credit_overlay.reset();
    r.credit_y = 0;
    r.back_buffer.reset();
    r.title_x = r.title_y = r.title_w = r.title_h = 0;
}

// Pictures, layout and back buffer for a W x H window. A first load opens the
// background video (now, or later on its frame source's thread); a resize
// keeps whatever video the renderer already has, so a video that failed to
// open is not tried again.
bool make_window_pictures(SplashRenderer& r, const std::wstring& folder, int W, int H, VideoOpening opening)
{
    r.folder = folder;
    r.width = W;
    r.height = H;
    if (W < 1 || H < 1) return false;
    std::vector<std::wstring> stills = list_still_pictures(folder);

    std::wstring video_path = join_path(folder, L"bg_video.mp4");
    bool video_file = is_regular_file(video_path);
    std::unique_ptr<Bitmap> title = video_file ? nullptr : load_bitmap(join_path(folder, L"title.png"));
    TitleBox box{0, 0, 0, 0, false};
    if (title) {
        int c0 = -1, c1 = -1;
        opaque_columns(*title, c0, c1);
        box = title_box(W, H, static_cast<int>(title->GetWidth()), static_cast<int>(title->GetHeight()),
                        c0, c1);
    }
    BarRect bar = bar_layout(W, H, video_file, box);
    r.bar_x = bar.x;
    r.bar_y = bar.y;
    r.bar_w = bar.w;
    r.bar_h = bar.h;

    if (video_file && opening == VideoOpening::now) r.decoder = open_background_video(video_path);
    if (video_file && opening == VideoOpening::on_its_thread) r.video_path = video_path;
    const bool video = renderer_has_video(r);
    if (video) {
        stills.clear();
        // The window's first frame does not wait for the poster either: with
        // the video still to open, it comes from start_video_workers.
        if (opening != VideoOpening::on_its_thread) r.poster = make_poster(join_path(folder, L"poster.jpg"), W, H);
        if (title) make_title_overlay(r, *title, box);
    }
    for (const std::wstring& path : stills)
        if (auto picture = make_still(path, W, H, title.get(), box)) r.pictures.push_back(std::move(picture));
    if (r.pictures.empty() && !video)
        if (auto picture = make_dark_fill(W, H, title.get(), box)) r.pictures.push_back(std::move(picture));

    r.back_buffer = make_picture(W, H);
    return (!r.pictures.empty() || video) && r.back_buffer;
}

void start_poster(SplashRenderer& r)
{
    if (r.poster || r.poster_on_its_way.valid() || r.folder.empty()) return;
    const std::wstring path = join_path(r.folder, L"poster.jpg");
    const int W = r.width, H = r.height;
    try {
        r.poster_on_its_way = std::async(std::launch::async, [path, W, H] {
            ComApartment apartment;   // GDI+ decodes through COM
            return make_poster(path, W, H);
        });
    } catch (const std::system_error&) {
        // No thread: the dark fill stays until the video shows.
    }
}

std::unique_ptr<FrameProducer> background_video_producer(const std::wstring& path)
{
    return std::make_unique<BackgroundVideo>(path);
}

}  // namespace

std::wstring splash_cache_folder()
{
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    if (ec || temp.empty()) return {};
    return join_path(temp.wstring(), L"tarnwick-cache");
}

CacheWrite refresh_cached_file(const std::wstring& path, std::string_view bytes)
{
    if (FILE* existing = _wfopen(path.c_str(), L"rb")) {
        std::string held(bytes.size() + 1, '\0');
        size_t got = std::fread(held.data(), 1, held.size(), existing);
        std::fclose(existing);
        if (got == bytes.size() && std::string_view(held.data(), got) == bytes) return CacheWrite::unchanged;
    }
    return write_file_atomic(path, std::string(bytes)) ? CacheWrite::rewritten : CacheWrite::failed;
}

std::wstring prepare_splash_assets()
{
    std::wstring cache = splash_cache_folder();
    if (cache.empty()) return {};
    std::wstring folder = join_path(cache, L"launcher-loading");
    create_folders(folder);
    for (const EmbeddedAsset& asset : EMBEDDED_ASSETS) {
        std::string_view bytes = resource_bytes(asset.resource);
        if (bytes.empty()) continue;
        refresh_cached_file(join_path(folder, asset.file), bytes);
    }
    return folder;
}

std::vector<std::wstring> list_still_pictures(const std::wstring& folder)
{
    std::vector<std::wstring> stills;
    std::error_code ec;
    fs::directory_iterator it(fs::path(folder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::wstring name = lower(it->path().filename().wstring());
        std::wstring ext = lower(it->path().extension().wstring());
        if (name.rfind(L"bg_", 0) != 0) continue;
        if (ext != L".jpg" && ext != L".jpeg" && ext != L".png") continue;
        stills.push_back(it->path().wstring());
    }
    std::sort(stills.begin(), stills.end());
    return stills;
}

bool media_foundation_ready()
{
    static const bool ready = [] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_LITE);
        if (FAILED(hr)) {
            std::fprintf(stderr, "v2: MFStartup failed (0x%08lx) -- no video recording\n",
                         static_cast<unsigned long>(hr));
            std::fflush(stderr);
            return false;
        }
        return true;
    }();
    return ready;
}

bool load_splash_assets(SplashRenderer& r, const std::string& assets_dir, int W, int H, VideoOpening opening)
{
    release_splash_assets(r);
    bool ok = make_window_pictures(r, to_utf16(assets_dir), W, H, opening);
    if (!ok) release_splash_assets(r);
    return ok;
}

bool resize_splash_assets(SplashRenderer& r, const std::string& assets_dir, int W, int H)
{
    release_window_pictures(r);
    bool ok = make_window_pictures(r, to_utf16(assets_dir), W, H, VideoOpening::keep);
    if (!ok) release_splash_assets(r);
    return ok;
}

bool background_video_failed(const SplashRenderer& r)
{
    return r.frame_source && r.frame_source->state() == VideoFrameSource::State::failed;
}

bool drop_background_video(SplashRenderer& r)
{
    r.frame_source.reset();
    r.video_path.clear();
    const std::wstring folder = r.folder;
    release_window_pictures(r);
    bool ok = make_window_pictures(r, folder, r.width, r.height, VideoOpening::keep);
    if (!ok) release_splash_assets(r);
    return ok;
}

void start_video_workers(SplashRenderer& r)
{
    if (!r.scale_pool) r.scale_pool = std::make_unique<ScalePool>(default_scale_threads());
    std::unique_ptr<FrameProducer> producer;
    if (r.decoder) {
        producer = make_frame_producer(std::move(*r.decoder));
        r.decoder.reset();
    } else if (!r.video_path.empty() && !r.frame_source) {
        producer = background_video_producer(r.video_path);
    }
    if (!r.video_path.empty()) start_poster(r);
    if (producer) {
        r.frame_source.reset();
        r.frame_source = std::make_unique<VideoFrameSource>(std::move(producer), [] {
            SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
            // Left when the decode thread ends, after its last call into the reader.
            thread_local ComApartment apartment;
        }, thread_cpu_ns);
    }
    if (r.frame_source) r.frame_source->cover(r.width, r.height);
}

bool resize_splash(SplashRenderer& r, const std::string& assets_dir, int width, int height)
{
    if (!resize_splash_assets(r, assets_dir, width, height)) return false;
    start_video_workers(r);
    return true;
}

void release_splash_assets(SplashRenderer& r)
{
    // The frame source joins its decode thread before the decoder goes.
    r.frame_source.reset();
    r.decoder.reset();
    r.video_path.clear();
    r.scale_pool.reset();
    release_window_pictures(r);
    r.frame_pixels.clear();
    r.frame_width = 0;
    r.frame_height = 0;
    r.shown_frame = -1;
    r.video_since = -1;
}
