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
    explicit WorkSlots(int count) : slots_free_(std::max(count, 1)) {}
    WorkSlots(const WorkSlots&) = delete;
    WorkSlots& operator=(const WorkSlots&) = delete;

    // Holds one slot for its lifetime.
    class Held {
    public:
        explicit Held(WorkSlots& slots) : slots_(slots) { slots_.wait_for_slot(); }
        ~Held() { slots_.free_slot(); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        WorkSlots& slots_;
    };

private:
    void wait_for_slot();
    void free_slot();

    std::mutex slot_mutex_;
    std::condition_variable slot_freed_;
    int slots_free_;
};
