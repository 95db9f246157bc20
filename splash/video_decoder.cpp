#include "splash/video_decoder.h"

#include "base/log.h"
#include "base/paths.h"

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mferror.h>
#include <propvarutil.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD FIRST_VIDEO = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

// A reader that keeps answering without a sample and without the end of the
// stream would spin for ever; a few hundred empty reads in a row are taken as
// a failed read instead.
constexpr int MAX_EMPTY_READS = 500;

void split_pair(UINT64 value, int32_t& high, int32_t& low)
{
    high = static_cast<int32_t>(static_cast<uint32_t>(value >> 32));
    low = static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFu));
}

HRESULT set_output(IMFSourceReader* reader, const GUID& subtype)
{
    ComPtr<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(type.out());
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(FIRST_VIDEO, nullptr, type.get());
    return hr;
}

// The matrix and range of NV12 output: what the output type names, else
// what the file's own type names, else HD video's BT.709 limited range.
YuvColour output_colour(IMFSourceReader* reader, IMFMediaType* native)
{
    ComPtr<IMFMediaType> current;
    reader->GetCurrentMediaType(FIRST_VIDEO, current.out());
    UINT32 matrix = 0, range = 0;
    bool has_matrix = false, has_range = false;
    for (IMFMediaType* type : {current.get(), native}) {
        if (!type) continue;
        if (!has_matrix) has_matrix = SUCCEEDED(type->GetUINT32(MF_MT_YUV_MATRIX, &matrix));
        if (!has_range) has_range = SUCCEEDED(type->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range));
    }
    return colour_from_media_type(has_matrix, matrix, has_range, range);
}

// The frame height of the output type: decoders may give the padded luma
// plane's height there (736 for 720).
int32_t output_plane_rows(IMFSourceReader* reader)
{
    ComPtr<IMFMediaType> current;
    UINT64 pair = 0;
    if (FAILED(reader->GetCurrentMediaType(FIRST_VIDEO, current.out())) ||
        FAILED(current->GetUINT64(MF_MT_FRAME_SIZE, &pair)))
        return 0;
    int32_t width = 0, height = 0;
    split_pair(pair, width, height);
    return height;
}

const char* describe(YuvColour c)
{
    if (c.matrix == YuvMatrix::bt601) return c.full_range ? "BT.601 full range" : "BT.601 limited range";
    if (c.matrix == YuvMatrix::bt2020) return c.full_range ? "BT.2020 full range" : "BT.2020 limited range";
    return c.full_range ? "BT.709 full range" : "BT.709 limited range";
}

int32_t output_stride(IMFSourceReader* reader, int32_t width, VideoOutput output)
{
    if (output == VideoOutput::nv12) {
        ComPtr<IMFMediaType> current;
        UINT32 value = 0;
        if (SUCCEEDED(reader->GetCurrentMediaType(FIRST_VIDEO, current.out())) &&
            SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &value)))
            return static_cast<int32_t>(value);
        return width + (width & 1);
    }
    int32_t stride = width * 4;
    ComPtr<IMFMediaType> current;
    if (FAILED(reader->GetCurrentMediaType(FIRST_VIDEO, current.out()))) return stride;
    UINT32 value = 0;
    if (SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &value)))
        return static_cast<int32_t>(value);
    LONG computed = 0;
    if (SUCCEEDED(MFGetStrideForBitmapInfoHeader(22 /* D3DFMT_X8R8G8B8 */, width, &computed)))
        stride = computed;
    return stride;
}

int64_t duration_frames(IMFSourceReader* reader, FrameRate rate)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    int64_t frames = 0;
    if (SUCCEEDED(reader->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE),
                                                   MF_PD_DURATION, &value)) &&
        value.vt == VT_UI8)
        frames = frames_in_duration(value.uhVal.QuadPart, rate);
    PropVariantClear(&value);
    return frames;
}

class DecoderProducer final : public FrameProducer {
public:
    explicit DecoderProducer(VideoDecoder&& decoder) : decoder_(std::move(decoder)) {}
    ~DecoderProducer() override { close_video(decoder_); }

    bool has_reader() const override { return static_cast<bool>(decoder_.reader); }
    int64_t frame_count() const override { return decoder_.frame_count; }
    double frame_rate() const override { return decoder_.frames_per_second(); }
    int width() const override { return decoder_.width; }
    int height() const override { return decoder_.height; }
    bool decode_frame(int64_t f, std::vector<uint8_t>& pixels) override
    {
        return read_frame(decoder_, f, pixels);
    }

private:
    VideoDecoder decoder_;
};

// A decoded sample's buffer locked for reading, by the best interface it
// offers: IMF2DBuffer2 gives the real pitch and the locked span from the first
// row on (which tells where the chroma plane of NV12 starts behind a padded
// luma plane); a plain IMF2DBuffer gives the pitch, bounded by the buffer's
// allocated length (its contiguous length is that of an unpadded copy,
// shorter than what the pitch spans); the plain lock gives bytes laid out at
// the stride of the output type. Unlocked by the interface that locked it.
class LockedFrame {
public:
    LockedFrame(IMFMediaBuffer* buffer, LONG type_stride, int rows)
    {
        if (SUCCEEDED(buffer->QueryInterface(IID_IMF2DBuffer2, reinterpret_cast<void**>(two_d2_.out())))) {
            BYTE* start = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(two_d2_->Lock2DSize(MF2DBuffer_LockFlags_Read, &scan0_, &pitch_, &start, &length))) {
                // A stray scan line start leaves nothing usable.
                if (scan0_ >= start && scan0_ - start <= static_cast<ptrdiff_t>(length)) {
                    before_ = static_cast<size_t>(scan0_ - start);
                    usable_ = length - before_;
                }
                locked_ = true;
                return;
            }
            two_d2_.reset();
        }
        if (SUCCEEDED(buffer->QueryInterface(IID_IMF2DBuffer, reinterpret_cast<void**>(two_d_.out())))) {
            DWORD length = 0;
            if (SUCCEEDED(buffer->GetMaxLength(&length)) && SUCCEEDED(two_d_->Lock2D(&scan0_, &pitch_))) {
                // Without the span's start, a bottom-up buffer is taken to
                // end with its first row.
                locked_ = true;
                before_ = pitch_ < 0 ? static_cast<size_t>(-static_cast<int64_t>(pitch_)) * (rows > 0 ? rows - 1 : 0) : 0;
                usable_ = before_ < length ? length - before_ : 0;
                return;
            }
            two_d_.reset();
        }
        BYTE* data = nullptr;
        DWORD max_length = 0, length = 0;
        if (FAILED(buffer->Lock(&data, &max_length, &length))) return;
        plain_ = buffer;
        locked_ = true;
        pitch_ = type_stride;
        // A bottom-up layout starts its first row at the last row in memory.
        const size_t step = static_cast<size_t>(std::labs(type_stride));
        const size_t back = type_stride < 0 && rows > 0 ? step * static_cast<size_t>(rows - 1) : 0;
        if (back < length) {
            scan0_ = data + back;
            before_ = back;
            usable_ = length - back;
        }
    }
    ~LockedFrame()
    {
        if (!locked_) return;
        if (two_d2_) two_d2_->Unlock2D();
        else if (two_d_) two_d_->Unlock2D();
        else plain_->Unlock();
    }
    LockedFrame(const LockedFrame&) = delete;
    LockedFrame& operator=(const LockedFrame&) = delete;

    bool ok() const { return locked_ && scan0_; }
    const uint8_t* scan0() const { return scan0_; }
    LONG pitch() const { return pitch_; }
    // Bytes from scan0 on.
    size_t usable() const { return usable_; }

    // True when rows of row_bytes at the pitch lie inside the locked bytes.
    bool rows_fit(int rows, size_t row_bytes) const
    {
        if (!ok() || rows < 1) return false;
        const size_t step = static_cast<size_t>(std::labs(pitch_));
        if (step < row_bytes) return false;
        if (pitch_ < 0) return before_ >= step * static_cast<size_t>(rows - 1) && usable_ >= row_bytes;
        return usable_ >= step * static_cast<size_t>(rows - 1) + row_bytes;
    }

private:
    ComPtr<IMF2DBuffer2> two_d2_;
    ComPtr<IMF2DBuffer> two_d_;
    IMFMediaBuffer* plain_ = nullptr;
    bool locked_ = false;
    BYTE* scan0_ = nullptr;
    size_t before_ = 0;        // locked bytes ahead of scan0 (the rows of a bottom-up frame)
    LONG pitch_ = 0;
    size_t usable_ = 0;
};

}  // namespace

bool open_video(VideoDecoder& d, const std::string& path)
{
    close_video(d);
    ComPtr<IMFAttributes> attributes;
    if (FAILED(MFCreateAttributes(attributes.out(), 4))) return false;
    attributes->SetUINT32(MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, 1);
    attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1);

    ComPtr<IMFSourceReader> reader;
    std::wstring wide = to_utf16(path);
    if (FAILED(MFCreateSourceReaderFromURL(wide.c_str(), attributes.get(), reader.out())))
        return false;
    reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    reader->SetStreamSelection(FIRST_VIDEO, TRUE);

    ComPtr<IMFMediaType> native;
    if (FAILED(reader->GetNativeMediaType(FIRST_VIDEO, 0, native.out()))) return false;
    UINT64 pair = 0;
    int32_t width = 0, height = 0;
    if (SUCCEEDED(native->GetUINT64(MF_MT_FRAME_SIZE, &pair))) split_pair(pair, width, height);
    int32_t num = 0, den = 0;
    if (SUCCEEDED(native->GetUINT64(MF_MT_FRAME_RATE, &pair))) split_pair(pair, num, den);
    FrameRate rate = normalised_frame_rate(num, den);
    if (width < 1 || height < 1) return false;

    // Under Wine RGB32 is refused (MF_E_INVALIDMEDIATYPE): its source reader
    // offers no colour conversion, but its decoder delivers NV12, which
    // convert_sample turns into RGB32 itself.
    VideoOutput output = VideoOutput::rgb32;
    HRESULT refused = set_output(reader.get(), MFVideoFormat_RGB32);
    if (FAILED(refused)) {
        HRESULT hr = set_output(reader.get(), MFVideoFormat_NV12);
        if (FAILED(hr)) {
            log_line("video: the decoder gives neither RGB32 (0x%08lx) nor NV12 (0x%08lx) -- no video",
                     static_cast<unsigned long>(refused), static_cast<unsigned long>(hr));
            return false;
        }
        output = VideoOutput::nv12;
    }

    d.width = width;
    d.height = height;
    d.fps_num = rate.num;
    d.fps_den = rate.den;
    d.output = output;
    d.colour = output == VideoOutput::nv12 ? output_colour(reader.get(), native.get()) : YuvColour{};
    d.plane_rows = output == VideoOutput::nv12 ? output_plane_rows(reader.get()) : 0;
    d.stride = output_stride(reader.get(), width, output);
    d.frame_count = duration_frames(reader.get(), rate);
    d.reader = std::move(reader);
    d.path = path;
    d.last_frame = -1;
    if (output == VideoOutput::rgb32)
        log_line("video: %dx%d, RGB32 from the decoder", width, height);
    else
        log_line("video: %dx%d, RGB32 refused (0x%08lx) -- NV12 from the decoder, converted as %s",
                 width, height, static_cast<unsigned long>(refused), describe(d.colour));
    return true;
}

void close_video(VideoDecoder& d)
{
    d.reader.reset();
    d.path.clear();
    d.width = 0;
    d.height = 0;
    d.frame_count = 0;
    d.last_frame = -1;
    d.output = VideoOutput::rgb32;
    d.plane_rows = 0;
}

bool convert_sample(const VideoDecoder& d, IMFSample* sample, std::vector<uint8_t>& pixels)
{
    if (!sample || d.width < 1 || d.height < 1) return false;
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(buffer.out()))) return false;
    const size_t row_bytes = static_cast<size_t>(d.width) * 4;
    pixels.resize(row_bytes * static_cast<size_t>(d.height));
    const LockedFrame locked(buffer.get(), d.stride, d.height);
    if (!locked.ok()) return false;
    if (d.output == VideoOutput::nv12) {
        Nv12Frame frame;
        return locate_nv12_planes(locked.scan0(), locked.usable(), locked.pitch(), d.width, d.height,
                                  d.plane_rows, frame) &&
               convert_nv12_to_bgrx(frame, d.colour, pixels.data());
    }
    // A pitch shorter than a row, or rows past the locked bytes, would be
    // read outside the buffer.
    if (!locked.rows_fit(d.height, row_bytes)) return false;
    for (int32_t row = 0; row < d.height; ++row)
        std::memcpy(pixels.data() + row * row_bytes, locked.scan0() + static_cast<ptrdiff_t>(row) * locked.pitch(),
                    row_bytes);
    return true;
}

bool read_frame(VideoDecoder& d, int64_t n, std::vector<uint8_t>& pixels)
{
    if (!d.reader || n < 0 || (d.frame_count > 0 && n >= d.frame_count)) return false;
    if (needs_seek(d.last_frame, n)) {
        PROPVARIANT position;
        PropVariantInit(&position);
        position.vt = VT_I8;
        position.hVal.QuadPart = frame_time(n, d.rate());
        HRESULT hr = d.reader->SetCurrentPosition(GUID_NULL, position);
        PropVariantClear(&position);
        if (FAILED(hr)) return false;
        d.last_frame = -1;
    }
    for (int empty = 0; empty < MAX_EMPTY_READS;) {
        DWORD stream = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        if (FAILED(d.reader->ReadSample(FIRST_VIDEO, 0, &stream, &flags, &time, sample.out())))
            return false;
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) {
            d.last_frame = -1;
            return false;
        }
        if (!sample) {
            ++empty;
            continue;
        }
        empty = 0;
        d.last_frame = frame_at_time(time, d.rate());
        if (d.last_frame >= n) return convert_sample(d, sample.get(), pixels);
    }
    return false;
}

std::unique_ptr<FrameProducer> make_frame_producer(VideoDecoder&& decoder)
{
    return std::make_unique<DecoderProducer>(std::move(decoder));
}
