#include "splash/frame_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What the fake decoder did, shared with the test (the source owns the fake).
struct DecodeLog {
    std::mutex mutex;
    std::vector<int64_t> decoded;  // file frames, in order
    int attempts = 0;
    std::atomic<bool> ready{true};  // false: every decode fails
    std::atomic<bool> reader{true};
    // Decides attempt by attempt (counted from 0) whether a decode succeeds,
    // so failure runs do not depend on how fast the test thread is.
    std::function<bool(int attempt)> plan;
    // While held, a decode waits (the decode thread is then known to be
    // inside its first round).
    bool held = false;
    std::condition_variable gate;

    void release()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            held = false;
        }
        gate.notify_all();
    }

    std::vector<int64_t> frames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return decoded;
    }
    int attempt_count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return attempts;
    }
};

// Each decoded frame is 2 x 1 pixels whose first eight bytes hold the file
// frame number.
class FakeProducer : public FrameProducer {
public:
    FakeProducer(std::shared_ptr<DecodeLog> log, int64_t frames) : log_(std::move(log)), frames_(frames) {}
    bool has_reader() const override { return log_->reader; }
    int64_t frame_count() const override { return frames_; }
    double frame_rate() const override { return 30.0; }
    int width() const override { return 2; }
    int height() const override { return 1; }
    bool decode_frame(int64_t f, std::vector<uint8_t>& pixels) override
    {
        std::unique_lock<std::mutex> lock(log_->mutex);
        const int attempt = log_->attempts++;
        log_->gate.wait(lock, [this] { return !log_->held; });
        if (!log_->ready || (log_->plan && !log_->plan(attempt)))
            return false;
        pixels.assign(8, 0);
        std::memcpy(pixels.data(), &f, sizeof f);
        log_->decoded.push_back(f);
        return true;
    }

private:
    std::shared_ptr<DecodeLog> log_;
    int64_t frames_;
};

int64_t frame_in(const std::vector<uint8_t>& pixels)
{
    int64_t f = -1;
    if (pixels.size() >= sizeof f)
        std::memcpy(&f, pixels.data(), sizeof f);
    return f;
}

bool wait_for(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits until n frames were decoded, then a little longer to see that the
// decoder really stopped there.
std::vector<int64_t> settle(DecodeLog& log, size_t n)
{
    EXPECT_TRUE(wait_for([&] { return log.frames().size() >= n; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    return log.frames();
}

std::vector<int64_t> range(int64_t from, int64_t to)
{
    std::vector<int64_t> r;
    for (int64_t f = from; f < to; ++f)
        r.push_back(f);
    return r;
}

std::unique_ptr<VideoFrameSource> make_source(const std::shared_ptr<DecodeLog>& log, int64_t frames)
{
    return std::make_unique<VideoFrameSource>(std::make_unique<FakeProducer>(log, frames));
}

}  // namespace

TEST(VideoFrameSource, RunsSevenFramesAheadOfTheWantedOne)
{
    auto log = std::make_shared<DecodeLog>();
    auto source = make_source(log, 1000);
    EXPECT_EQ(settle(*log, 7), range(0, 7));

    EXPECT_TRUE(source->request_frame(3));
    EXPECT_FALSE(source->request_frame(-5));
    EXPECT_EQ(settle(*log, 10), range(0, 10));
    EXPECT_TRUE(source->request_frame(9));
    EXPECT_EQ(settle(*log, 16), range(0, 16));
}

TEST(VideoFrameSource, JumpsWhenAtMostSixtyFramesBehind)
{
    auto log = std::make_shared<DecodeLog>();
    auto source = make_source(log, 100000);
    settle(*log, 7);  // made 0..6, next is 7

    source->request_frame(67);  // exactly 60 ahead of the decoder: jump
    std::vector<int64_t> want = range(0, 7);
    for (int64_t f : range(67, 74))
        want.push_back(f);
    EXPECT_EQ(settle(*log, 14), want);

    // 126 behind: decode on from 74 until the gap is down to 60, then jump.
    source->request_frame(200);
    for (int64_t f : range(74, 140))
        want.push_back(f);
    for (int64_t f : range(200, 207))
        want.push_back(f);
    EXPECT_EQ(settle(*log, want.size()), want);
}

TEST(VideoFrameSource, AFreshDecoderJumpsStraightToTheWantedFrame)
{
    auto log = std::make_shared<DecodeLog>();
    log->held = true;
    log->plan = [](int attempt) { return attempt > 0; };  // frame 0 fails
    auto source = make_source(log, 100000);
    ASSERT_TRUE(wait_for([&] { return log->attempt_count() >= 1; }));
    source->request_frame(500);
    log->release();
    EXPECT_EQ(settle(*log, 7), range(500, 507));
}

TEST(VideoFrameSource, FrameNumbersLoopOverTheFile)
{
    auto log = std::make_shared<DecodeLog>();
    auto source = make_source(log, 10);
    EXPECT_EQ(source->loop_length(), 10);
    EXPECT_DOUBLE_EQ(source->fps(), 30.0);
    EXPECT_EQ(source->width(), 2);
    settle(*log, 7);
    source->request_frame(12);  // jumps to 12, which is file frame 2
    EXPECT_EQ(settle(*log, 14), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 2, 3, 4, 5, 6, 7, 8}));
    std::vector<uint8_t> pixels;
    EXPECT_TRUE(source->fetch_frame(12, pixels));
    EXPECT_EQ(frame_in(pixels), 2);
}

TEST(VideoFrameSource, OneFrameVideoShowsThatFrameForEveryNumber)
{
    for (int64_t count : {1, 0}) {
        auto log = std::make_shared<DecodeLog>();
        auto source = make_source(log, count);
        EXPECT_EQ(source->loop_length(), 1);
        settle(*log, 7);
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(source->fetch_frame(5, pixels));
        EXPECT_EQ(frame_in(pixels), 0);
        for (int64_t f : log->frames())
            EXPECT_EQ(f, 0);
    }
}

TEST(VideoFrameSource, SlotChoice)
{
    auto log = std::make_shared<DecodeLog>();
    log->held = true;
    log->plan = [](int attempt) { return attempt > 0; };
    auto source = make_source(log, 100000);
    ASSERT_TRUE(wait_for([&] { return log->attempt_count() >= 1; }));
    std::vector<uint8_t> pixels{1, 2, 3};

    // Nothing decoded yet: nothing to show, pixels untouched.
    EXPECT_FALSE(source->fetch_frame(0, pixels));
    EXPECT_EQ(pixels, (std::vector<uint8_t>{1, 2, 3}));

    source->request_frame(100);
    log->release();
    EXPECT_EQ(settle(*log, 7), range(100, 107));

    // Only later frames and nothing shown yet: the earliest of them.
    EXPECT_TRUE(source->fetch_frame(50, pixels));
    EXPECT_EQ(frame_in(pixels), 100);
    // Once something is shown, later frames wait until n catches up.
    pixels = {9};
    EXPECT_FALSE(source->fetch_frame(60, pixels));
    EXPECT_FALSE(source->fetch_frame(100, pixels));  // unchanged: no copy
    EXPECT_EQ(pixels, std::vector<uint8_t>{9});

    EXPECT_TRUE(source->fetch_frame(103, pixels));
    EXPECT_EQ(frame_in(pixels), 103);
    pixels = {9};
    EXPECT_FALSE(source->fetch_frame(103, pixels));
    EXPECT_EQ(pixels, std::vector<uint8_t>{9});

    // Beyond what is decoded: the latest frame not after n.
    EXPECT_TRUE(source->fetch_frame(1000, pixels));
    EXPECT_GE(frame_in(pixels), 106);
    EXPECT_LE(frame_in(pixels), 1000);
}

TEST(VideoFrameSource, GivesUpAfterFiftyOneFailuresInARow)
{
    auto log = std::make_shared<DecodeLog>();
    log->ready = false;
    auto source = make_source(log, 100);
    ASSERT_TRUE(wait_for([&] { return source->decode_thread_ended(); }));
    EXPECT_EQ(log->attempt_count(), 51);
    log->ready = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(log->attempt_count(), 51);
    std::vector<uint8_t> pixels;
    EXPECT_FALSE(source->fetch_frame(0, pixels));
}

TEST(VideoFrameSource, NoReaderCountsAsFailure)
{
    auto log = std::make_shared<DecodeLog>();
    log->reader = false;
    auto source = make_source(log, 100);
    ASSERT_TRUE(wait_for([&] { return source->decode_thread_ended(); }));
    EXPECT_EQ(log->attempt_count(), 0);
}

TEST(VideoFrameSource, SuccessResetsTheFailureCount)
{
    // 40 failures, 7 frames, then 45 failures once more work is asked for:
    // 85 failures in all but never 51 in a row, so the thread carries on.
    auto log = std::make_shared<DecodeLog>();
    log->plan = [](int attempt) { return (attempt >= 40 && attempt < 47) || attempt >= 92; };
    auto source = make_source(log, 100);
    EXPECT_EQ(settle(*log, 7), range(0, 7));
    source->request_frame(20);  // jumps to 20, fails 45 times, then goes on
    ASSERT_TRUE(wait_for([&] { return log->frames().size() >= 8; }));
    EXPECT_FALSE(source->decode_thread_ended());
    EXPECT_EQ(log->frames()[7], 20);
    EXPECT_EQ(log->attempt_count() >= 93, true);
}

TEST(VideoFrameSource, RunsTheStartHookOnTheDecodeThread)
{
    auto log = std::make_shared<DecodeLog>();
    std::atomic<bool> ran{false};
    std::thread::id hook_thread;
    const std::thread::id test_thread = std::this_thread::get_id();
    {
        VideoFrameSource source(std::make_unique<FakeProducer>(log, 10), [&] {
            hook_thread = std::this_thread::get_id();
            ran = true;
        });
        ASSERT_TRUE(wait_for([&] { return ran.load(); }));
    }
    EXPECT_NE(hook_thread, test_thread);
}

TEST(VideoFrameSource, DestroysPromptlyWhileWaitingOrRetrying)
{
    for (bool ready : {true, false}) {
        auto log = std::make_shared<DecodeLog>();
        log->ready = ready;
        const auto start = std::chrono::steady_clock::now();
        {
            auto source = make_source(log, 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

namespace {

// A video that is not open when the source gets it: open() runs on the decode
// thread and waits for the test (a decoder slow to start), then says whether
// it opened. Its frames are one colour, 4 x 2 pixels at 25 frames a second.
class SlowToOpen : public FrameProducer {
public:
    SlowToOpen(std::shared_ptr<DecodeLog> log, bool opens) : log_(std::move(log)), opens_(opens) {}
    bool open() override
    {
        std::unique_lock<std::mutex> lock(log_->mutex);
        log_->gate.wait(lock, [this] { return !log_->held; });
        open_ = opens_;
        return open_;
    }
    bool has_reader() const override { return open_; }
    int64_t frame_count() const override { return 50; }
    double frame_rate() const override { return 25.0; }
    int width() const override { return 4; }
    int height() const override { return 2; }
    bool decode_frame(int64_t, std::vector<uint8_t>& pixels) override
    {
        pixels.assign(4 * 2 * 4, 0);
        for (size_t i = 0; i < pixels.size(); i += 4)
            pixels[i + 1] = 180;  // green
        return true;
    }

private:
    std::shared_ptr<DecodeLog> log_;
    bool opens_;
    std::atomic<bool> open_{false};
};

}  // namespace

TEST(VideoFrameSource, OpensTheVideoOnItsThreadWhileTheCallerGoesOn)
{
    for (bool opens : {true, false}) {
        auto log = std::make_shared<DecodeLog>();
        log->held = true;
        VideoFrameSource source(std::make_unique<SlowToOpen>(log, opens));
        // Constructed without waiting; nothing to show and no rate yet.
        EXPECT_EQ(source.state(), VideoFrameSource::State::opening);
        std::vector<uint8_t> pixels;
        EXPECT_FALSE(source.fetch_frame(0, pixels));
        EXPECT_EQ(source.fps(), 0.0);
        log->release();
        if (!opens) {
            ASSERT_TRUE(wait_for([&] { return source.state() == VideoFrameSource::State::failed; }));
            EXPECT_TRUE(source.decode_thread_ended());
            continue;
        }
        ASSERT_TRUE(wait_for([&] { return source.request_frame(0); }));
        EXPECT_EQ(source.state(), VideoFrameSource::State::playing);
        EXPECT_DOUBLE_EQ(source.fps(), 25.0);
        EXPECT_EQ(source.loop_length(), 50);
    }
}

TEST(VideoFrameSource, ScalesEachFrameToTheWindowOnItsThreadAndHandsItOverByASwap)
{
    auto log = std::make_shared<DecodeLog>();
    log->held = true;
    VideoFrameSource source(std::make_unique<SlowToOpen>(log, true));
    source.cover(40, 30);  // a 4:3 window over the 2:1 video
    log->release();
    ASSERT_TRUE(wait_for([&] { return source.request_frame(1); }));

    std::vector<uint8_t> pixels(40 * 30 * 4, 7);
    const uint8_t* given = pixels.data();
    int width = 0, height = 0;
    ASSERT_TRUE(source.fetch_frame(1, pixels, width, height));
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 30);
    ASSERT_EQ(pixels.size(), 40u * 30 * 4);
    for (size_t i = 0; i < pixels.size(); i += 4)
        ASSERT_EQ(pixels[i + 1], 180) << i;  // covered edge to edge
    // The ring's buffer itself (a copy would have reused the caller's); the
    // caller's went back to the ring.
    EXPECT_NE(pixels.data(), given);
}

TEST(VideoFrameSource, WindowSizeFramesKeepTheRingWithinItsBudget)
{
    EXPECT_EQ(VideoFrameSource::ring_slots(1280u * 720 * 4), 8);
    EXPECT_EQ(VideoFrameSource::ring_slots(1920u * 1080 * 4), 8);
    EXPECT_EQ(VideoFrameSource::ring_slots(2560u * 1440 * 4), 4);
    EXPECT_EQ(VideoFrameSource::ring_slots(3820u * 1990 * 4), 3);  // over the budget, still three
}
