#pragma once
// NV12 video frames (a full-size luma plane, then one plane of interleaved
// U,V pairs at half width and half height) into the 32-bit frames the
// renderer draws: bytes blue, green, red, 0xFF, top-down, no row padding.
//
// Platforms whose source reader cannot convert to RGB32 itself (Wine) still
// deliver NV12, so the decode thread converts every frame; it has to keep up
// with the video, hence integer fixed-point arithmetic, two rows per pass
// (each chroma pair serves a 2x2 block) and SSE2 where the compiler has it.
#include <cstddef>
#include <cstdint>

// The colour matrix and range of the YUV values. Media Foundation names
// them in MF_MT_YUV_MATRIX and MF_MT_VIDEO_NOMINAL_RANGE; colour_from_media_type
// turns those numbers into this.
enum class YuvMatrix { bt601, bt709, bt2020 };
struct YuvColour {
    YuvMatrix matrix = YuvMatrix::bt709;
    bool full_range = false;   // false: luma 16..235, chroma 16..240
};

// matrix: the MFVideoTransferMatrix value, range: the MFNominalRange value,
// each with whether the media type names it at all. What is unnamed or
// unknown is BT.709 at limited range, as for HD video.
YuvColour colour_from_media_type(bool has_matrix, uint32_t matrix, bool has_range, uint32_t range);

// One NV12 picture in memory. Strides are bytes from one row to the next and
// at least width (rounded up to even for the chroma plane).
struct Nv12Frame {
    const uint8_t* luma = nullptr;
    ptrdiff_t luma_stride = 0;
    const uint8_t* chroma = nullptr;   // (width + 1) / 2 U,V pairs per row, (height + 1) / 2 rows
    ptrdiff_t chroma_stride = 0;
    int width = 0;
    int height = 0;
};

// The planes of a frame of width x height in one locked buffer of length
// bytes whose rows are stride bytes apart. Decoders pad the luma plane to a
// multiple of 16 rows (720 becomes 736) and put the chroma plane after the
// padding: the plane's row count is taken from the length when it fits the
// NV12 layout exactly, else from plane_rows (the frame height the output
// media type gives, 0 when unknown), else the picture's own height. False
// when the buffer cannot hold the frame (nothing outside it is ever read).
bool locate_nv12_planes(const uint8_t* data, size_t length, ptrdiff_t stride, int width, int height,
                        int plane_rows, Nv12Frame& frame);

// Converts the frame into out (width * height * 4 bytes). False for an empty
// frame or strides too short for its width.
bool convert_nv12_to_bgrx(const Nv12Frame& frame, YuvColour colour, uint8_t* out);
