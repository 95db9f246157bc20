#pragma once
// A bound on how many threads run a stretch of CPU-bound work at once. The
// download keeps its twelve connections for the network's sake, but decoding
// and hashing a piece needs a core, not a connection: more threads doing it
// than there are cores only add runnable threads, and a scheduler that gives
// every thread of the process an equal turn (as an emulated system that
// ignores thread priorities does) then leaves the splash's frames waiting
// behind them. Threads over the bound wait blocked, not spinning.
//
// On a mutex and a condition variable, not std::counting_semaphore: the
// semaphore of the toolchain's C++ library for Windows can lose a release, and
// a waiter then sleeps for good (seen as a download that never ended).
#include <algorithm>
#include <condition_variable>
#include <mutex>

class WorkSlots {
public:
    explicit WorkSlots(int count) : free_(std::max(count, 1)) {}
    WorkSlots(const WorkSlots&) = delete;
    WorkSlots& operator=(const WorkSlots&) = delete;

    // Holds one slot for its lifetime.
    class Held {
    public:
        explicit Held(WorkSlots& slots) : slots_(slots) { slots_.take(); }
        ~Held() { slots_.give_back(); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        WorkSlots& slots_;
    };

private:
    void take()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        freed_.wait(lock, [this] { return free_ > 0; });
        --free_;
    }
    void give_back()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++free_;
        }
        freed_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable freed_;
    int free_;
};
