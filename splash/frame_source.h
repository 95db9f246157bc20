#pragma once
// The video frame ring: a decode thread keeps up to eight decoded frames just
// ahead of the frame the splash shows. Frame numbers count up without end;
// frame number i shows frame i mod loop_length() of the file, so the video
// loops. The decoder itself sits behind FrameProducer so the ring's logic can
// be tested without a platform decoder.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class FrameProducer {
public:
    virtual ~FrameProducer() = default;
    virtual bool has_reader() const = 0;
    virtual int64_t frame_count() const = 0;  // 0 when unknown
    virtual double frame_rate() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Decodes frame f of the file into pixels (width * height * 4 bytes,
    // BGRX, top-down); false on failure.
    virtual bool decode_frame(int64_t f, std::vector<uint8_t>& pixels) = 0;
};

class VideoFrameSource {
public:
    static constexpr int kSlots = 8;

    // Takes the producer and starts the decode thread. on_thread_start, when
    // set, runs first on the decode thread (the launcher raises the thread's
    // priority there).
    explicit VideoFrameSource(std::unique_ptr<FrameProducer> producer,
                              std::function<void()> on_thread_start = {});
    // Stops and joins the decode thread, then releases the producer.
    ~VideoFrameSource();
    VideoFrameSource(const VideoFrameSource&) = delete;
    VideoFrameSource& operator=(const VideoFrameSource&) = delete;

    // Raises the wanted frame to n (waking the decode thread); true when a
    // slot holds frame n now.
    bool request_frame(int64_t n);
    // Raises the wanted frame like request_frame, picks the best slot for n
    // and copies it into pixels unless it is the frame copied last time. True
    // only when new pixels were copied.
    bool fetch_frame(int64_t n, std::vector<uint8_t>& pixels);

    double fps() const { return fps_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int64_t loop_length() const { return loop_length_; }
    // True once 51 decode rounds in a row failed and the thread gave up.
    bool decode_thread_ended() const;

private:
    void decode_loop();
    void raise_wanted(int64_t n);  // mutex held

    std::unique_ptr<FrameProducer> producer_;
    const int64_t frame_count_;
    const int64_t loop_length_;
    const double fps_;
    const int width_;
    const int height_;
    std::function<void()> on_thread_start_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<uint8_t> slots_[kSlots];  // guarded by mutex_
    int64_t slot_frame_[kSlots];          // guarded by mutex_, -1 = empty
    int64_t wanted_frame_ = 0;            // guarded by mutex_, only grows
    int64_t copied_frame_ = -1;           // guarded by mutex_
    bool stop_ = false;                   // guarded by mutex_
    bool ended_ = false;                  // guarded by mutex_
    std::thread thread_;                  // started last, after every field above
};
