#include "net/download_budget.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Slices between these bounds: small enough at low limits that a slice is a
// small part of a second, never so small that the lock is taken per packet.
constexpr uint64_t SLICES_PER_SECOND = 64;
constexpr size_t SMALLEST_SLICE = 1024;
constexpr size_t LARGEST_SLICE = 1u << 20;
// A waiting thread looks at the stop flag at least this often.
constexpr int64_t WAIT_STEP_NS = 50'000'000;

}  // namespace

int64_t budget_clock_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint64_t budget_burst(uint64_t bytes_per_second)
{
    return std::max<uint64_t>(bytes_per_second / 4, SMALLEST_SLICE);
}

// Empty at first: the connections' receive windows already let a first
// burst through at the start of a download.
TokenBucket::TokenBucket(uint64_t rate, uint64_t burst, int64_t now_ns)
    : rate_(static_cast<double>(rate)), burst_(static_cast<double>(burst)), tokens_(0), last_ns_(now_ns)
{
}

void TokenBucket::refill(int64_t now_ns)
{
    if (now_ns <= last_ns_) return;   // a clock that stands still (or a stale now) adds nothing
    tokens_ = std::min(burst_, tokens_ + rate_ * static_cast<double>(now_ns - last_ns_) / 1e9);
    last_ns_ = now_ns;
}

int64_t TokenBucket::take(uint64_t n, int64_t now_ns)
{
    refill(now_ns);
    tokens_ -= static_cast<double>(n);
    if (tokens_ >= 0 || rate_ <= 0) return 0;
    return static_cast<int64_t>(std::ceil(-tokens_ / rate_ * 1e9));
}

void TokenBucket::give_back(uint64_t n) { tokens_ = std::min(burst_, tokens_ + static_cast<double>(n)); }

DownloadBudget::DownloadBudget(uint64_t bytes_per_second)
    : rate_(bytes_per_second), bucket_(bytes_per_second, budget_burst(bytes_per_second), budget_clock_ns())
{
}

size_t DownloadBudget::slice(size_t wanted) const
{
    if (!limited()) return wanted;
    const uint64_t slice = std::clamp<uint64_t>(rate_ / SLICES_PER_SECOND, SMALLEST_SLICE, LARGEST_SLICE);
    return std::max<size_t>(1, std::min<uint64_t>(wanted, slice));
}

int64_t DownloadBudget::take(size_t n, const std::atomic<bool>* stop)
{
    if (!limited()) return 0;
    int64_t wait_ns = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wait_ns = bucket_.take(n, budget_clock_ns());
    }
    const int64_t until = budget_clock_ns() + wait_ns;
    for (int64_t left = wait_ns; left > 0; left = until - budget_clock_ns()) {
        if (stop && stop->load()) {
            give_back(n);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, WAIT_STEP_NS)));
    }
    return wait_ns / 1'000'000;
}

void DownloadBudget::give_back(size_t n)
{
    if (!limited() || n == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    bucket_.give_back(n);
}

size_t DownloadBudget::connections() const
{
    if (!limited()) return SIZE_MAX;
    return static_cast<size_t>(std::max<uint64_t>(1, rate_ / CONNECTION_SHARE));
}

DownloadBudget::Connection::Connection(DownloadBudget* budget, const std::atomic<bool>* stop) : budget_(budget)
{
    if (!budget_ || !budget_->limited()) {
        entered_ = true;
        budget_ = nullptr;
        return;
    }
    std::unique_lock<std::mutex> lock(budget_->mutex_);
    while (budget_->open_ >= budget_->connections()) {
        if (stop && stop->load()) {
            budget_ = nullptr;
            return;
        }
        budget_->place_freed_.wait_for(lock, std::chrono::nanoseconds(WAIT_STEP_NS));
    }
    ++budget_->open_;
    entered_ = true;
}

DownloadBudget::Connection::~Connection()
{
    if (!budget_) return;
    {
        std::lock_guard<std::mutex> lock(budget_->mutex_);
        --budget_->open_;
    }
    budget_->place_freed_.notify_one();
}
