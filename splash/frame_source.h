#pragma once
// The video frame ring: a decode thread keeps up to eight decoded frames just
// ahead of the frame the splash shows. Frame numbers count up without end;
// frame number i shows frame i mod loop_length() of the file, so the video
// loops. The decoder itself sits behind FrameProducer so the ring's logic can
// be tested without a platform decoder.
//
// The decode thread also opens the video (a producer that is not open yet is
// opened there first), so nothing on the window's side waits for the decoder
// to start, and it scales every frame once to cover the window, so the window
// thread only copies a finished picture.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ScalePool;

class FrameProducer {
public:
    virtual ~FrameProducer() = default;
    // Opens the video; called on the decode thread before the first frame
    // when has_reader() is false then. False: there is no video.
    virtual bool open() { return has_reader(); }
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
    enum class State { opening, playing, failed };

    // Takes the producer and starts the decode thread. on_thread_start, when
    // set, runs first on the decode thread (the launcher raises the thread's
    // priority there). thread_cpu_ns, when set, tells the calling thread's
    // CPU time; the decode thread reads it after every frame it makes, for
    // decode_cpu_ns. A producer that is open already plays at once.
    explicit VideoFrameSource(std::unique_ptr<FrameProducer> producer,
                              std::function<void()> on_thread_start = {},
                              std::function<int64_t()> thread_cpu_ns = {});
    // Stops and joins the decode thread, then releases the producer.
    ~VideoFrameSource();
    VideoFrameSource(const VideoFrameSource&) = delete;
    VideoFrameSource& operator=(const VideoFrameSource&) = delete;

    // opening until the decode thread has opened the video; failed when it
    // did not open (or the thread gave up, see decode_thread_ended).
    State state() const;

    // Frames decoded from now on are scaled on the decode thread to cover a
    // width x height window (scale_frame_cover, on that thread alone, so the
    // other core stays free for the window's own thread); 0 x 0 keeps the
    // video's own size. Frames already in the ring keep the size they were
    // made at: fetch_frame says which. Large windows use fewer slots
    // (ring_slots) so the ring's memory stays bounded.
    void cover(int width, int height);

    // Slots in use for frames of this many bytes: all of them up to 64 MiB
    // in all, fewer (at least three) for larger frames.
    static int ring_slots(size_t frame_bytes);

    // Raises the wanted frame to n (waking the decode thread); true when a
    // slot holds frame n now.
    bool request_frame(int64_t n);
    // Raises the wanted frame like request_frame and picks the best slot for
    // n: the latest frame not after n that is newer than the one handed out
    // last. Its pixels are swapped into pixels (the caller's old buffer goes
    // back to the ring, so no frame is copied or allocated), with their size
    // in width and height. True only when new pixels were handed out.
    bool fetch_frame(int64_t n, std::vector<uint8_t>& pixels, int& width, int& height);
    bool fetch_frame(int64_t n, std::vector<uint8_t>& pixels);

    // The video's own figures; 0 until it plays.
    double fps() const;
    int width() const;
    int height() const;
    int64_t loop_length() const;
    // Frames the decode thread has made, and its CPU time (thread_cpu_ns)
    // from the video's opening to the last of them; 0 without thread_cpu_ns.
    int64_t frames_made() const;
    int64_t decode_cpu_ns() const;
    // True once the video failed to open, or 51 decode rounds in a row failed
    // and the thread gave up.
    bool decode_thread_ended() const;

private:
    struct Cover {
        int width = 0;
        int height = 0;
    };

    void decode_loop();
    bool open_producer();
    void describe_producer();  // mutex held, or before the thread starts
    void raise_wanted(int64_t n);  // mutex held
    // The decoded frame in work as the window wants it; which buffer holds
    // it, with its size.
    std::vector<uint8_t>& finish(std::vector<uint8_t>& work, std::vector<uint8_t>& scaled, const Cover& cover,
                                 int& width, int& height) const;

    std::unique_ptr<FrameProducer> producer_;
    std::function<void()> on_thread_start_;
    std::function<int64_t()> thread_cpu_ns_;
    std::unique_ptr<ScalePool> one_thread_;  // the decode thread scales alone

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    State state_ = State::opening;        // guarded by mutex_
    int64_t frame_count_ = 0;             // guarded by mutex_; fixed once playing
    int64_t loop_length_ = 1;             // guarded by mutex_; fixed once playing
    double fps_ = 0;                      // guarded by mutex_; fixed once playing
    int width_ = 0;                       // guarded by mutex_; fixed once playing
    int height_ = 0;                      // guarded by mutex_; fixed once playing
    Cover cover_;                         // guarded by mutex_
    int ring_slots_ = kSlots;             // guarded by mutex_; slots in use, from the front
    std::vector<uint8_t> slots_[kSlots];  // guarded by mutex_
    int64_t slot_frame_[kSlots];          // guarded by mutex_, -1 = empty
    int slot_width_[kSlots] = {};         // guarded by mutex_
    int slot_height_[kSlots] = {};        // guarded by mutex_
    int64_t wanted_frame_ = 0;            // guarded by mutex_, only grows
    int64_t copied_frame_ = -1;           // guarded by mutex_
    bool stop_ = false;                   // guarded by mutex_
    bool ended_ = false;                  // guarded by mutex_
    int64_t frames_made_ = 0;             // guarded by mutex_
    int64_t decode_cpu_ns_ = 0;           // guarded by mutex_
    std::thread thread_;                  // started last, after every field above
};
