#include "splash/frame_source.h"

#include "splash/frame_scaler.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr int64_t kRunAhead = 7;      // frames decoded beyond the wanted one
constexpr int64_t kJumpLimit = 60;    // a decoder this far behind jumps forward
constexpr int kFailureLimit = 50;     // failed rounds in a row before giving up
constexpr auto kRetryPause = std::chrono::milliseconds(5);
constexpr size_t kRingBudget = size_t{64} << 20;   // bytes of frames the ring holds at most
constexpr int kFewestSlots = 3;

}  // namespace

VideoFrameSource::VideoFrameSource(std::unique_ptr<FrameProducer> producer,
                                   std::function<void()> on_thread_start,
                                   std::function<int64_t()> thread_cpu_ns)
    : producer_(std::move(producer)), on_thread_start_(std::move(on_thread_start)),
      thread_cpu_ns_(std::move(thread_cpu_ns)),
      one_thread_(std::make_unique<ScalePool>(1))
{
    for (int64_t& f : slot_frame_)
        f = -1;
    if (producer_->has_reader())
        describe_producer();
    thread_ = std::thread([this] { decode_loop(); });
}

VideoFrameSource::~VideoFrameSource()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void VideoFrameSource::describe_producer()
{
    const int64_t n = producer_->frame_count();
    frame_count_ = n > 0 ? n : 0;
    loop_length_ = frame_count_ < 2 ? 1 : frame_count_;
    fps_ = producer_->frame_rate();
    width_ = producer_->width();
    height_ = producer_->height();
    state_ = State::playing;
}

VideoFrameSource::State VideoFrameSource::state() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

double VideoFrameSource::fps() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fps_;
}

int VideoFrameSource::width() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return width_;
}

int VideoFrameSource::height() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return height_;
}

int64_t VideoFrameSource::loop_length() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return loop_length_;
}

int VideoFrameSource::ring_slots(size_t frame_bytes)
{
    if (frame_bytes == 0)
        return kSlots;
    return static_cast<int>(std::clamp<size_t>(kRingBudget / frame_bytes, kFewestSlots, kSlots));
}

void VideoFrameSource::cover(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cover_ = width > 0 && height > 0 ? Cover{width, height} : Cover{};
    ring_slots_ = ring_slots(static_cast<size_t>(cover_.width) * cover_.height * 4);
    // Slots out of use give their memory back now.
    for (int s = ring_slots_; s < kSlots; ++s) {
        std::vector<uint8_t>().swap(slots_[s]);
        slot_frame_[s] = -1;
    }
}

void VideoFrameSource::raise_wanted(int64_t n)
{
    if (n > wanted_frame_) {
        wanted_frame_ = n;
        wake_.notify_all();
    }
}

bool VideoFrameSource::request_frame(int64_t n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    raise_wanted(n);
    for (int s = 0; s < kSlots; ++s)
        if (slot_frame_[s] == n)
            return true;
    return false;
}

bool VideoFrameSource::fetch_frame(int64_t n, std::vector<uint8_t>& pixels)
{
    int width = 0, height = 0;
    return fetch_frame(n, pixels, width, height);
}

bool VideoFrameSource::fetch_frame(int64_t n, std::vector<uint8_t>& pixels, int& width, int& height)
{
    std::lock_guard<std::mutex> lock(mutex_);
    raise_wanted(n);
    int at_or_before = -1;  // slot with the latest frame not after n
    int after = -1;         // slot with the earliest frame after n
    for (int s = 0; s < kSlots; ++s) {
        const int64_t f = slot_frame_[s];
        // Frames up to the one handed out last are behind the picture.
        if (f < 0 || f <= copied_frame_)
            continue;
        if (f <= n) {
            if (at_or_before < 0 || f > slot_frame_[at_or_before])
                at_or_before = s;
        } else if (after < 0 || f < slot_frame_[after]) {
            after = s;
        }
    }
    int chosen = at_or_before;
    if (chosen < 0) {
        // Only later frames: show the earliest of them, but only as the very
        // first picture; once something is shown, keep it until n catches up.
        if (copied_frame_ >= 0 || after < 0)
            return false;
        chosen = after;
    }
    copied_frame_ = slot_frame_[chosen];
    pixels.swap(slots_[chosen]);
    slot_frame_[chosen] = -1;
    width = slot_width_[chosen];
    height = slot_height_[chosen];
    return true;
}

int64_t VideoFrameSource::frames_made() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_made_;
}

int64_t VideoFrameSource::decode_cpu_ns() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return decode_cpu_ns_;
}

bool VideoFrameSource::decode_thread_ended() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

bool VideoFrameSource::open_producer()
{
    const bool opened = producer_->has_reader() || producer_->open();
    std::lock_guard<std::mutex> lock(mutex_);
    if (opened && state_ == State::opening)
        describe_producer();
    if (!opened) {
        state_ = State::failed;
        ended_ = true;
    }
    return opened;
}

std::vector<uint8_t>& VideoFrameSource::finish(std::vector<uint8_t>& work, std::vector<uint8_t>& scaled,
                                               const Cover& cover, int& width, int& height) const
{
    // Only the decode thread reads these once the video plays.
    const int w = producer_->width(), h = producer_->height();
    if (cover.width < 1 || (cover.width == w && cover.height == h)) {
        width = w;
        height = h;
        return work;
    }
    scaled.resize(static_cast<size_t>(cover.width) * cover.height * 4);
    PixelBuffer view{reinterpret_cast<uint32_t*>(scaled.data()), cover.width, cover.height, cover.width};
    scale_frame_cover(reinterpret_cast<const uint32_t*>(work.data()), w, h, view, one_thread_.get());
    width = cover.width;
    height = cover.height;
    return scaled;
}

void VideoFrameSource::decode_loop()
{
    if (on_thread_start_)
        on_thread_start_();
    if (!open_producer())
        return;
    // Frames are charged from here on, the video's opening apart.
    const int64_t cpu_at_open = thread_cpu_ns_ ? thread_cpu_ns_() : 0;
    std::vector<uint8_t> work;    // private buffer, the decoder's output
    std::vector<uint8_t> scaled;  // private buffer, the frame scaled to the window
    int64_t i = 0;                // next frame number to make
    int failures = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (i - wanted_frame_ >= std::min<int64_t>(kRunAhead, ring_slots_ - 1)) {
            wake_.wait(lock);
            continue;
        }
        if (i < wanted_frame_ && (i == 0 || wanted_frame_ - i <= kJumpLimit))
            i = wanted_frame_;
        const Cover cover = cover_;
        const int64_t frame_count = frame_count_;
        const int64_t f = i % loop_length_;
        lock.unlock();

        const bool ok = producer_->has_reader() && !(frame_count > 0 && f >= frame_count) &&
                        producer_->decode_frame(f, work) &&
                        work.size() >= static_cast<size_t>(producer_->width()) * producer_->height() * 4;
        if (ok) {
            int width = 0, height = 0;
            std::vector<uint8_t>& done = finish(work, scaled, cover, width, height);
            const int64_t cpu = thread_cpu_ns_ ? thread_cpu_ns_() : 0;
            lock.lock();
            ++frames_made_;
            decode_cpu_ns_ = cpu - cpu_at_open;
            const int s = static_cast<int>(i % ring_slots_);
            slots_[s].swap(done);
            slot_frame_[s] = i;
            slot_width_[s] = width;
            slot_height_[s] = height;
            ++i;
            failures = 0;
            continue;
        }
        if (++failures > kFailureLimit) {
            lock.lock();
            ended_ = true;
            return;
        }
        std::this_thread::sleep_for(kRetryPause);
        lock.lock();
    }
}
