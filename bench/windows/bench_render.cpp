// Times one splash frame (render_splash_frame + draw_caption) with the
// capsule bar, over the plain dark background and over a 1280 x 720 video
// frame that the parallel scaler covers the window with, at the default
// window size and at the large size the windowed run asks for; and a frame
// that first rebuilds the renderer at a new size, as following a host window
// that is being resized does. First, the decode thread's share of a video
// frame where the decoder delivers NV12 (Wine): its conversion to BGRX.
#include "base/paths.h"
#include "splash/capsule_bar.h"
#include "splash/frame_scaler.h"
#include "splash/frame_source.h"
#include "splash/gdiplus_api.h"
#include "splash/nv12_to_bgrx.h"
#include "splash/pixel_font.h"
#include "splash/splash_assets.h"
#include "splash/splash_renderer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Synthetic 1280 x 720 frames: a gradient that shifts with the frame number,
// so every fetched frame is new pixels.
class GradientFrames final : public FrameProducer {
public:
    bool has_reader() const override { return true; }
    int64_t frame_count() const override { return 120; }
    double frame_rate() const override { return 30.0; }
    int width() const override { return 1280; }
    int height() const override { return 720; }
    bool decode_frame(int64_t f, std::vector<uint8_t>& pixels) override
    {
        pixels.resize(1280u * 720 * 4);
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                uint8_t* p = &pixels[(static_cast<size_t>(y) * 1280 + x) * 4];
                p[0] = static_cast<uint8_t>(x + f);
                p[1] = static_cast<uint8_t>(y);
                p[2] = static_cast<uint8_t>(x ^ y);
                p[3] = 0;
            }
        return true;
    }
};

struct Figures {
    double median_ms;
    double mean_ms;
};

// prepare(i) runs before the clock starts (waiting for a decoded frame).
template <typename Frame, typename Prepare>
Figures time_frames(int count, Frame frame, Prepare prepare)
{
    std::vector<double> ms;
    prepare(-1);
    frame(-1);   // warm-up: fonts, caches, first fetch
    for (int i = 0; i < count; ++i) {
        prepare(i);
        auto start = std::chrono::steady_clock::now();
        frame(i);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    double sum = 0;
    for (double v : ms) sum += v;
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], sum / ms.size()};
}

template <typename Frame>
Figures time_frames(int count, Frame frame)
{
    return time_frames(count, frame, [](int) {});
}

void print(int W, int H, const char* what, Figures f)
{
    std::printf("%4dx%-4d %-40s median %6.2f ms  mean %6.2f ms\n", W, H, what, f.median_ms, f.mean_ms);
}

void draw_full_frame(SplashRenderer& r, double seconds, int64_t video_frame)
{
    render_splash_frame(r, seconds, 0.5f, video_frame, "updating... 1.2 / 9.8 gb - 42 min");
    draw_caption(r.back_buffer->dc(), r.width, 31, 1.0f, -1, -1, false, L"tarnwick v1.8", nullptr);
}

void bench_size(const std::string& empty_folder, int W, int H, int count)
{
    SplashRenderer r;
    if (!load_splash_assets(r, empty_folder, W, H)) {
        std::printf("%dx%d: the assets did not load\n", W, H);
        return;
    }
    Figures dark = time_frames(count, [&](int i) { draw_full_frame(r, 3.0 + i / 60.0, -1); });
    print(W, H, "frame: dark background, capsule bar", dark);

    // Parts of that frame.
    PixelBuffer view = r.back_buffer->view();
    BarRect bar = r.bar();
    print(W, H, "  capsule bar alone", time_frames(count, [&](int i) {
              shade_capsule_bar(view, bar, 3.0 + i / 60.0, 0.5f);
          }));
    print(W, H, "  status text alone", time_frames(count, [&](int) {
              float x, y, z;
              capsule_text_origin(bar, 33, x, y, z);
              draw_pixel_text(view, "updating... 1.2 / 9.8 gb - 42 min", x, y, z, 0xFF60E060);
          }));

    // The video path: a frame source with a synthetic producer; each frame
    // number is new, so every frame is fetched and scaled. Waiting for the
    // decode thread happens before the clock starts.
    r.frame_source = std::make_unique<VideoFrameSource>(std::make_unique<GradientFrames>());
    r.scale_pool = std::make_unique<ScalePool>(default_scale_threads());
    int64_t next = 0;
    Figures video = time_frames(
        count, [&](int) { draw_full_frame(r, 3.0, next++); },
        [&](int) {
            while (!r.frame_source->request_frame(next)) std::this_thread::yield();
        });
    char label[64];
    std::snprintf(label, sizeof label, "frame: 1280x720 video scaled, %d threads", r.scale_pool->size());
    print(W, H, label, video);

    // As the splash runs it: the decode thread scales each frame to the
    // window once, and the window thread only copies it.
    r.frame_source->cover(W, H);
    next += VideoFrameSource::kSlots;   // past the frames made at the video's size
    r.video_since = 0;                  // its fade-in long done
    print(W, H, "frame: video made at the window's size", time_frames(
              count, [&](int) { draw_full_frame(r, 3.0, next++); },
              [&](int) {
                  while (!r.frame_source->request_frame(next)) std::this_thread::yield();
              }));

    GradientFrames frames;
    std::vector<uint8_t> pixels;
    frames.decode_frame(0, pixels);
    print(W, H, "  scaler alone", time_frames(count, [&](int) {
              scale_frame_cover(reinterpret_cast<const uint32_t*>(pixels.data()), 1280, 720, view,
                                r.scale_pool.get());
          }));

    // Following a host that is being resized: a new window size every frame.
    // The resize keeps the frame source and the scaling pool; a full load
    // would release both and start them again.
    int step = 0;
    print(W, H, "resize by a few pixels (video kept)", time_frames(count / 4, [&](int) {
              ++step;
              resize_splash_assets(r, empty_folder, W - (step % 2) * 8, H - (step % 2) * 6);
              start_video_workers(r);
              draw_full_frame(r, 3.0, next++);
          }));
    release_splash_assets(r);
}

// A 1280 x 720 NV12 frame in a buffer padded to 736 rows, as decoders give it.
void bench_nv12_conversion()
{
    std::vector<uint8_t> nv12(1280u * 736 * 3 / 2);
    for (size_t i = 0; i < nv12.size(); ++i) nv12[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    Nv12Frame frame;
    if (!locate_nv12_planes(nv12.data(), nv12.size(), 1280, 1280, 720, 0, frame)) return;
    std::vector<uint8_t> out(1280u * 720 * 4);
    print(1280, 720, "NV12 to BGRX (decode thread, one core)", time_frames(200, [&](int) {
              convert_nv12_to_bgrx(frame, YuvColour{}, out.data());
          }));
}

}  // namespace

int wmain()
{
    GdiplusSession gdiplus;
    if (!gdiplus.ok()) return 1;
    fs::path folder = fs::temp_directory_path() / "tw-bench-render-empty";
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string dir = to_utf8(folder.wstring());
    bench_nv12_conversion();
    bench_size(dir, 1920, 1080, 60);
    bench_size(dir, 3820, 1990, 40);
    fs::remove_all(folder, ec);
    return 0;
}
