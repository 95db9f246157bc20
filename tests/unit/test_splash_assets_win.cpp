// The splash cache under Wine: embedded files written once and rewritten
// only on a byte difference, the still-picture listing, the video decoder's
// failure paths and the hand-over time stamp.
#include <windows.h>

#include "base/paths.h"
#include "base/whole_file.h"
#include "splash/frame_source.h"
#include "splash/handover_stamp.h"
#include "splash/splash_assets.h"
#include "splash/video_decoder.h"

#include <gtest/gtest.h>
#include <mfapi.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

uint64_t write_time(const fs::path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d{};
    EXPECT_TRUE(GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &d));
    return (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
}

void set_write_time(const fs::path& path, uint64_t time)
{
    HANDLE h = CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
}

std::string file_bytes(const fs::path& path) { return read_whole_file(path.wstring()); }

// The temporary folder redirected into a fresh folder for one test.
class SplashCache : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t old[MAX_PATH + 1] = {};
        GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
        old_tmp_ = old;
        root_ = fs::temp_directory_path() / ("tw-cache-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        SetEnvironmentVariableW(L"TMP", root_.wstring().c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"TMP", old_tmp_.empty() ? nullptr : old_tmp_.c_str());
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path root_;
    std::wstring old_tmp_;
};

TEST_F(SplashCache, EmbeddedFilesAreWrittenOnceAndLeftAloneWhenEqual)
{
    std::wstring folder = prepare_splash_assets();
    fs::path expected = root_ / "tarnwick-cache" / "launcher-loading";
    ASSERT_TRUE(fs::equivalent(fs::path(folder), expected));
    const wchar_t* names[] = {L"bg_video.mp4", L"poster.jpg", L"tick.wav"};
    for (const wchar_t* name : names) {
        ASSERT_TRUE(fs::is_regular_file(expected / name)) << to_utf8(name);
        EXPECT_GT(fs::file_size(expected / name), 100u);
        set_write_time(expected / name, 0x01D0000000000000ull);
    }
    EXPECT_FALSE(fs::exists(expected / L"bg_video.mp4.part"));

    prepare_splash_assets();
    for (const wchar_t* name : names) EXPECT_EQ(write_time(expected / name), 0x01D0000000000000ull);
}

TEST_F(SplashCache, ShorterLongerOrChangedFilesAreReplaced)
{
    std::wstring folder = prepare_splash_assets();
    fs::path tick = fs::path(folder) / L"tick.wav";
    const std::string original = file_bytes(tick);
    ASSERT_FALSE(original.empty());

    const std::string variants[] = {original.substr(0, original.size() - 1), original + "x",
                                    std::string(original.size(), 'z'), ""};
    for (const std::string& variant : variants) {
        ASSERT_TRUE(write_file_atomic(tick.wstring(), variant));
        prepare_splash_assets();
        EXPECT_EQ(file_bytes(tick), original) << "variant of " << variant.size() << " bytes";
    }
}

TEST_F(SplashCache, RefreshReportsWhatItDid)
{
    fs::path file = root_ / "a.bin";
    EXPECT_EQ(refresh_cached_file(file.wstring(), "abc"), CacheWrite::rewritten);
    EXPECT_EQ(refresh_cached_file(file.wstring(), "abc"), CacheWrite::unchanged);
    EXPECT_EQ(refresh_cached_file(file.wstring(), "abcd"), CacheWrite::rewritten);
    EXPECT_EQ(file_bytes(file), "abcd");
    EXPECT_EQ(refresh_cached_file((root_ / "no-such-folder" / "b.bin").wstring(), "abc"), CacheWrite::failed);
}

TEST_F(SplashCache, StillsAreMatchedWithoutCaseAndSortedByPath)
{
    for (const char* name : {"bg_1.PNG", "BG_2.jpeg", "bg_video.mp4", "bg_0.jpg", "title.png", "bg_3.gif",
                             "xbg_4.png", "bg_.png.txt"})
        ASSERT_TRUE(write_file_atomic((root_ / name).wstring(), "x"));
    fs::create_directories(root_ / "bg_dir.png" / "bg_deep.png");
    std::vector<std::wstring> stills = list_still_pictures(root_.wstring());
    std::vector<std::wstring> names;
    for (const std::wstring& s : stills) names.push_back(fs::path(s).filename().wstring());
    // "BG_2" sorts before "bg_" because the comparison is on the path.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"BG_2.jpeg", L"bg_0.jpg", L"bg_1.PNG", L"bg_dir.png"}));
}

TEST_F(SplashCache, MissingFolderListsNothing)
{
    EXPECT_TRUE(list_still_pictures((root_ / "nothing").wstring()).empty());
}

TEST_F(SplashCache, HandoverStampIsMillisecondsSince1970EndingInCrLf)
{
    int64_t before = static_cast<int64_t>(std::time(nullptr)) * 1000;
    ASSERT_TRUE(write_handover_stamp());
    std::string text = file_bytes(root_ / "tarnwick-cache" / "presplash.txt");
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    int64_t stamp = std::stoll(text);
    EXPECT_GE(stamp, before - 2000);
    EXPECT_LE(stamp, before + 5000);
    // Rewritten at every start, truncating the old one.
    ASSERT_TRUE(write_file_atomic((root_ / "tarnwick-cache" / "presplash.txt").wstring(), std::string(100, '9')));
    ASSERT_TRUE(write_handover_stamp());
    EXPECT_LT(file_bytes(root_ / "tarnwick-cache" / "presplash.txt").size(), 20u);
}

TEST(VideoDecoder, FileThatIsNoVideoDoesNotOpen)
{
    ASSERT_TRUE(media_foundation_ready());
    fs::path file = fs::temp_directory_path() / ("tw-not-video-" + std::to_string(GetCurrentProcessId()) + ".mp4");
    ASSERT_TRUE(write_file_atomic(file.wstring(), std::string(4096, '\x11')));
    VideoDecoder decoder;
    decoder.width = 7;
    EXPECT_FALSE(open_video(decoder, to_utf8(file.wstring())));
    EXPECT_FALSE(decoder.reader);
    EXPECT_EQ(decoder.width, 0);
    EXPECT_EQ(decoder.frame_count, 0);
    EXPECT_FALSE(open_video(decoder, to_utf8((fs::temp_directory_path() / "tw-missing.mp4").wstring())));
    fs::remove(file);

    std::vector<uint8_t> pixels;
    EXPECT_FALSE(read_frame(decoder, 0, pixels));
    EXPECT_FALSE(convert_sample(decoder, nullptr, pixels));
}

// A sample of rows 0, 1, 2 (each 4 pixels of value 100 * row + column) in
// the buffer kinds a decoder hands out: plain memory at the output type's
// stride, top-down or bottom-up, and a two-dimensional buffer. Every kind
// reads back top-down; a plain buffer one byte short of its rows is refused,
// not read past its end.
ComPtr<IMFSample> sample_of(IMFMediaBuffer* buffer)
{
    ComPtr<IMFSample> sample;
    EXPECT_TRUE(SUCCEEDED(MFCreateSample(sample.out())));
    if (sample) sample->AddBuffer(buffer);
    return sample;
}

TEST(VideoDecoder, SampleBuffersOfEveryLayoutReadTopDown)
{
    ASSERT_TRUE(media_foundation_ready());
    VideoDecoder d;
    d.width = 4;
    d.height = 3;
    d.output = VideoOutput::rgb32;
    const auto expect_rows = [&](IMFMediaBuffer* buffer, bool readable) {
        std::vector<uint8_t> pixels;
        ComPtr<IMFSample> sample = sample_of(buffer);
        ASSERT_EQ(convert_sample(d, sample.get(), pixels), readable);
        if (!readable) return;
        const auto* p = reinterpret_cast<const uint32_t*>(pixels.data());
        for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(p[i], 100 * (i / 4) + i % 4) << i;
    };
    for (const LONG stride : {16L, -16L}) {
        for (const DWORD length : {48UL, 47UL}) {
            SCOPED_TRACE(testing::Message() << "stride " << stride << " length " << length);
            ComPtr<IMFMediaBuffer> plain;
            ASSERT_TRUE(SUCCEEDED(MFCreateMemoryBuffer(48, plain.out())));
            BYTE* data = nullptr;
            ASSERT_TRUE(SUCCEEDED(plain->Lock(&data, nullptr, nullptr)));
            for (uint32_t row = 0; row < 3; ++row)
                for (uint32_t x = 0; x < 4; ++x) {
                    const uint32_t memory_row = stride > 0 ? row : 2 - row;
                    const uint32_t v = 100 * row + x;
                    std::memcpy(data + memory_row * 16 + x * 4, &v, 4);
                }
            plain->Unlock();
            plain->SetCurrentLength(length);
            d.stride = stride;
            expect_rows(plain.get(), length == 48);
        }
    }
    ComPtr<IMFMediaBuffer> two_d;
    ASSERT_TRUE(SUCCEEDED(MFCreate2DMediaBuffer(4, 3, MFVideoFormat_RGB32.Data1, FALSE, two_d.out())));
    ComPtr<IMF2DBuffer> lockable;
    ASSERT_TRUE(SUCCEEDED(two_d->QueryInterface(IID_IMF2DBuffer, reinterpret_cast<void**>(lockable.out()))));
    BYTE* scan0 = nullptr;
    LONG pitch = 0;
    ASSERT_TRUE(SUCCEEDED(lockable->Lock2D(&scan0, &pitch)));
    for (uint32_t row = 0; row < 3; ++row)
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t v = 100 * row + x;
            std::memcpy(scan0 + static_cast<ptrdiff_t>(row) * pitch + x * 4, &v, 4);
        }
    lockable->Unlock2D();
    d.stride = 0;   // a two-dimensional buffer says its own pitch
    expect_rows(two_d.get(), true);
}

// Frames 0 and 60 of the embedded video as another decoder (ffmpeg, BT.709
// limited range) gives them, sampled every 16 pixels from (8, 8): 80 x 45
// BGR triples per frame. Made once with
//   ffmpeg -i resources/bg_video.mp4 -vf "select='eq(n\,0)+eq(n\,60)',
//     scale=in_color_matrix=bt709:in_range=tv:out_range=pc:flags=accurate_rnd+full_chroma_int,
//     format=bgr24" -vsync 0 -f rawvideo frames.bgr
// and the samples picked from frames.bgr.
constexpr int SAMPLES_X = 80, SAMPLES_Y = 45;

void expect_matches_reference(const std::vector<uint8_t>& pixels, const std::string& reference, int frame)
{
    SCOPED_TRACE(testing::Message() << "frame " << frame);
    ASSERT_EQ(pixels.size(), 1280u * 720 * 4);
    int worst = 0;
    double total = 0;
    for (int sy = 0; sy < SAMPLES_Y; ++sy)
        for (int sx = 0; sx < SAMPLES_X; ++sx) {
            const uint8_t* ours = &pixels[((8 + sy * 16) * 1280 + 8 + sx * 16) * 4];
            const size_t at = ((frame == 0 ? 0 : 1) * SAMPLES_X * SAMPLES_Y + sy * SAMPLES_X + sx) * 3;
            for (int c = 0; c < 3; ++c) {
                int diff = std::abs(ours[c] - static_cast<uint8_t>(reference[at + c]));
                worst = std::max(worst, diff);
                total += diff;
            }
        }
    // Chroma is upsampled differently (nearest here, interpolated there),
    // which moves single pixels by a few levels; a wrong colour matrix moves
    // the whole of this dark picture by about one level on average.
    EXPECT_LE(worst, 8);
    EXPECT_LT(total / (SAMPLES_X * SAMPLES_Y * 3), 0.4);
}

// The embedded video through the platform's source reader: RGB32 where the
// reader converts (Windows), NV12 converted by the decoder here (Wine).
TEST(VideoDecoder, EmbeddedVideoDecodesToTheFramesAnotherDecoderGives)
{
    ASSERT_TRUE(media_foundation_ready());
    const std::string reference = read_whole_file(to_utf16(TW_TEST_DATA_DIR "/bg_video_samples.bgr"));
    ASSERT_EQ(reference.size(), 2u * SAMPLES_X * SAMPLES_Y * 3);
    std::wstring folder = prepare_splash_assets();
    VideoDecoder decoder;
    ASSERT_TRUE(open_video(decoder, to_utf8(join_path(folder, L"bg_video.mp4"))));
    EXPECT_EQ(decoder.width, 1280);
    EXPECT_EQ(decoder.height, 720);
    EXPECT_EQ(decoder.frame_count, 120);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(read_frame(decoder, 0, pixels));
    expect_matches_reference(pixels, reference, 0);
    ASSERT_TRUE(read_frame(decoder, 60, pixels));
    expect_matches_reference(pixels, reference, 60);
    ASSERT_TRUE(read_frame(decoder, 90, pixels));
    EXPECT_EQ(pixels.size(), 1280u * 720 * 4);
    EXPECT_FALSE(read_frame(decoder, 120, pixels));

    VideoFrameSource source(make_frame_producer(std::move(decoder)));
    EXPECT_EQ(source.loop_length(), 120);
    for (int i = 0; i < 400 && !source.request_frame(0); ++i) Sleep(5);
    ASSERT_TRUE(source.fetch_frame(0, pixels));
    expect_matches_reference(pixels, reference, 0);
}

}  // namespace
