#pragma once
// Decodes the splash's background video with the Media Foundation source
// reader into 32-bit top-down BGRX frames without row padding. The reader is
// asked for RGB32 first; where it refuses (Wine's does), for NV12, which the
// decode thread converts itself.
#include "base/win_handles.h"
#include "splash/frame_source.h"
#include "splash/nv12_to_bgrx.h"
#include "splash/video_timing.h"

#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the reader delivers.
enum class VideoOutput { rgb32, nv12 };

struct VideoDecoder {
    ComPtr<IMFSourceReader> reader;   // null when closed
    std::string path;                 // UTF-8, the file that was opened
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps_num = 60;
    int32_t fps_den = 1;
    int32_t stride = 0;               // bytes per row of the decoder's output; negative = bottom-up
    int64_t frame_count = 0;          // 0 when the duration is unknown
    int64_t last_frame = -1;          // frame the reader delivered last; -1 for none or after a seek
    VideoOutput output = VideoOutput::rgb32;
    YuvColour colour;                 // of NV12 output
    int32_t plane_rows = 0;           // NV12: the output type's frame height (the padded luma plane), 0 unknown

    FrameRate rate() const { return {fps_num, fps_den}; }
    double frames_per_second() const { return ::frames_per_second(rate()); }
};

// True when a reader exists and it delivers RGB32 or, when RGB32 is refused,
// NV12; the launcher's log says which. Any earlier reader is closed first.
// Media Foundation must already be started.
bool open_video(VideoDecoder& decoder, const std::string& path);
void close_video(VideoDecoder& decoder);

// Frame n of the file into pixels (height rows of width x 4 bytes).
bool read_frame(VideoDecoder& decoder, int64_t n, std::vector<uint8_t>& pixels);
bool convert_sample(const VideoDecoder& decoder, IMFSample* sample, std::vector<uint8_t>& pixels);

// The decoder as the producer a VideoFrameSource decodes from on its thread.
std::unique_ptr<FrameProducer> make_frame_producer(VideoDecoder&& decoder);
