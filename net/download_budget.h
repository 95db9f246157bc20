#pragma once
// One download limit for a whole run: every piece thread draws the bytes it
// reads from the same token bucket, so the total holds the limit, however
// many connections share it. Reads of installed files and hashing never come
// here; only bytes that arrive over the network do.
//
// TokenBucket is the arithmetic alone, on a clock the caller passes in;
// DownloadBudget adds the lock and the waiting. No OS headers: it builds and
// is tested natively.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

// A bucket that fills at `rate` bytes a second up to `burst` bytes, empty at
// first. A take
// may run the bucket into debt; the taker then waits until the debt is paid,
// so takers queue in the order they came and no one can jump the line by
// asking often. Over any span of t seconds, the bytes whose wait has ended
// are at most burst + rate * t.
class TokenBucket {
public:
    TokenBucket(uint64_t rate, uint64_t burst, int64_t now_ns);

    // Takes n bytes at now_ns; returns how many nanoseconds the taker must
    // wait before it may use them (0: at once).
    int64_t take(uint64_t n, int64_t now_ns);

    // Bytes taken but not used (a read that brought fewer) go back, up to
    // the burst.
    void give_back(uint64_t n);

private:
    void refill(int64_t now_ns);

    double rate_;
    double burst_;
    double tokens_;   // negative: the debt the last takers are waiting out
    int64_t last_ns_;
};

class DownloadBudget {
public:
    // bytes_per_second 0: no limit, and take() never waits.
    explicit DownloadBudget(uint64_t bytes_per_second);

    bool limited() const { return rate_ != 0; }
    uint64_t rate() const { return rate_; }

    // The most a single read should take: a slice small enough that twelve
    // threads take turns many times a second, so none holds the line.
    size_t slice(size_t wanted) const;

    // Blocks until n bytes may be read. Returns the milliseconds it waited,
    // or -1 when `stop` was raised while waiting (nothing is taken then).
    int64_t take(size_t n, const std::atomic<bool>* stop);

    void give_back(size_t n);

    // Requests that may be open at once: one per CONNECTION_SHARE of the
    // limit. Each open request's receive window lets the server send ahead
    // of what the reader takes, so at a low limit twelve of them would let
    // through a burst of several times the limit when they start.
    size_t connections() const;

    // Holds one of those places for a request's lifetime; waits for one to
    // come free. entered() is false when `stop` was raised while waiting.
    class Connection {
    public:
        Connection(DownloadBudget* budget, const std::atomic<bool>* stop);
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        bool entered() const { return entered_; }

    private:
        DownloadBudget* budget_;
        bool entered_ = false;
    };

private:
    uint64_t rate_;
    std::mutex mutex_;
    TokenBucket bucket_;
    std::condition_variable place_freed_;
    size_t open_ = 0;   // requests holding a place, under mutex_
};

// The share of a limit one open request stands for.
constexpr uint64_t CONNECTION_SHARE = 256 * 1024;

// The bucket's burst for a limit: a quarter of a second's worth, so a second
// after a pause can bring at most 1.25 times the limit.
uint64_t budget_burst(uint64_t bytes_per_second);

// Steady-clock nanoseconds, the budget's time base.
int64_t budget_clock_ns();
