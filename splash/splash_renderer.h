#pragma once
// The splash thread's drawing state and the two drawing operations: one
// frame of the splash picture into the back buffer, and the self-drawn
// caption bar over its top.
#include "base/win_handles.h"
#include "splash/pixel_buffer.h"
#include "splash/splash_layout.h"

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

struct VideoDecoder;
class VideoFrameSource;
class ScalePool;

// A 32-bit top-down DIB section selected into its own memory device context.
// The context's previous bitmap is put back before either is deleted.
class DibSection {
public:
    DibSection() = default;
    DibSection(const DibSection&) = delete;
    DibSection& operator=(const DibSection&) = delete;

    // A width x height section against the screen's device context.
    bool create(int width, int height);
    HDC dc() const { return dc_.get(); }
    HBITMAP bitmap() const { return static_cast<HBITMAP>(bitmap_.get()); }
    uint32_t* pixels() const { return pixels_; }
    int width() const { return width_; }
    int height() const { return height_; }
    PixelBuffer view() const { return {pixels_, width_, height_, width_}; }

private:
    GdiObject bitmap_;
    MemoryDc dc_;
    SelectedObject selection_;   // after both owners: ends first
    uint32_t* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// The background without any picture, and before the poster or the video.
inline constexpr uint32_t SPLASH_DARK_FILL = 0xFF05070A;

struct SplashRenderer {
    SplashRenderer();
    ~SplashRenderer();
    SplashRenderer(const SplashRenderer&) = delete;
    SplashRenderer& operator=(const SplashRenderer&) = delete;

    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::unique_ptr<DibSection>> pictures;   // window-size stills, without video
    std::unique_ptr<DibSection> back_buffer;
    float bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
    std::wstring folder;                                 // the assets folder it was built from
    std::unique_ptr<VideoDecoder> decoder;               // until a frame source takes it
    std::wstring video_path;                             // a video its frame source is to open
    std::unique_ptr<VideoFrameSource> frame_source;
    std::unique_ptr<ScalePool> scale_pool;
    std::vector<uint8_t> frame_pixels;                   // current video frame, BGRX top-down
    int32_t frame_width = 0;                             // size of the frame in frame_pixels
    int32_t frame_height = 0;
    int64_t shown_frame = -1;
    double video_since = -1;                             // seconds of the first video frame shown
    // A video frame made at the window's size is itself the picture: the
    // credit line, the bar, its text and the caption are drawn straight onto
    // it and the window is painted from it (present_splash_frame), which
    // saves copying the whole window once a frame. The rows drawn over are
    // kept first, so a frame shown again is drawn on from clean rows.
    struct KeptRows {
        int first;
        int end;
        std::vector<uint32_t> pixels;
    };
    bool frame_is_picture = false;                       // this frame's picture is frame_pixels
    int64_t drawn_on_frame = -1;                         // the frame whose rows are in kept_rows
    std::vector<KeptRows> kept_rows;
    std::unique_ptr<DibSection> poster;
    std::future<std::unique_ptr<DibSection>> poster_on_its_way;   // being made on a thread of its own
    double poster_since = -1;                            // seconds it first showed
    std::unique_ptr<DibSection> title_overlay;           // premultiplied alpha
    int32_t title_x = 0, title_y = 0, title_w = 0, title_h = 0;
    // The credit line never changes for a window size: it is drawn once into
    // a premultiplied-alpha band (at credit_y) and blended per frame, which
    // keeps GDI+ text layout out of the frame time.
    std::unique_ptr<DibSection> credit_overlay;
    int32_t credit_y = 0;

    BarRect bar() const { return {bar_x, bar_y, bar_w, bar_h}; }
};

// True while the background is the video, or the poster of a video that is
// still opening.
bool renderer_has_video(const SplashRenderer& renderer);

// One frame into the back buffer: background, credit line, progress bar and
// status text. video_frame < 0 derives the frame from the time.
void render_splash_frame(SplashRenderer& renderer, double seconds, float progress,
                         int64_t video_frame, const std::string& text);

// The caption drawn into the back buffer's top rows (draw_caption) laid onto
// the frame's picture too, when the frame is the picture.
void lay_caption_rows(SplashRenderer& renderer, int rows);

// Paints the frame's picture (the back buffer, or the video frame that is
// the picture) into dc at its origin.
void present_splash_frame(const SplashRenderer& renderer, HDC dc);

// The caption bar over the top caption_height rows of dc. hover_button and
// pressed_button: 0 minimise, 1 maximise/restore, 2 close, -1 none.
void draw_caption(HDC dc, int width, int caption_height, float dpi_scale, int hover_button,
                  int pressed_button, bool maximized, const std::wstring& title, HICON small_icon);

// The progress bar style, from "V2_SPLASH_PILL" / "V2_SPLASH_VOXELS" (read
// once per process; set means the variable exists).
enum class BarStyle { capsule, voxels, pill };
BarStyle splash_bar_style();
