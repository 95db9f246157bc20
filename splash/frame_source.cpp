#include "splash/frame_source.h"

#include <chrono>
#include <utility>

namespace {

constexpr int64_t kRunAhead = 7;      // frames decoded beyond the wanted one
constexpr int64_t kJumpLimit = 60;    // a decoder this far behind jumps forward
constexpr int kFailureLimit = 50;     // failed rounds in a row before giving up
constexpr auto kRetryPause = std::chrono::milliseconds(5);

int64_t safe_frame_count(const FrameProducer& p)
{
    const int64_t n = p.frame_count();
    return n > 0 ? n : 0;
}

}  // namespace

VideoFrameSource::VideoFrameSource(std::unique_ptr<FrameProducer> producer,
                                   std::function<void()> on_thread_start)
    : producer_(std::move(producer)),
      frame_count_(safe_frame_count(*producer_)),
      loop_length_(frame_count_ < 2 ? 1 : frame_count_),
      fps_(producer_->frame_rate()),
      width_(producer_->width()),
      height_(producer_->height()),
      on_thread_start_(std::move(on_thread_start))
{
    for (int64_t& f : slot_frame_)
        f = -1;
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
    std::lock_guard<std::mutex> lock(mutex_);
    raise_wanted(n);
    int at_or_before = -1;  // slot with the latest frame not after n
    int after = -1;         // slot with the earliest frame after n
    for (int s = 0; s < kSlots; ++s) {
        const int64_t f = slot_frame_[s];
        if (f < 0)
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
    if (slot_frame_[chosen] == copied_frame_)
        return false;
    copied_frame_ = slot_frame_[chosen];
    pixels = slots_[chosen];
    return true;
}

bool VideoFrameSource::decode_thread_ended() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

void VideoFrameSource::decode_loop()
{
    if (on_thread_start_)
        on_thread_start_();
    std::vector<uint8_t> work;  // private buffer, swapped with a slot on success
    int64_t i = 0;              // next frame number to make
    int failures = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (i - wanted_frame_ >= kRunAhead) {
            wake_.wait(lock);
            continue;
        }
        if (i < wanted_frame_ && (i == 0 || wanted_frame_ - i <= kJumpLimit))
            i = wanted_frame_;
        lock.unlock();

        const int64_t f = i % loop_length_;
        const bool ok = producer_->has_reader() && !(frame_count_ > 0 && f >= frame_count_) &&
                        producer_->decode_frame(f, work);
        if (ok) {
            lock.lock();
            const int s = static_cast<int>(i % kSlots);
            slots_[s].swap(work);
            slot_frame_[s] = i;
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
