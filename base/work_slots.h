#pragma once
// A bound on how many threads run a stretch of CPU-bound work at once. The
// download keeps its twelve connections for the network's sake, but decoding
// and hashing a piece needs a core, not a connection: more threads doing it
// than there are cores only add runnable threads, and a scheduler that gives
// every thread of the process an equal turn (as an emulated system that
// ignores thread priorities does) then leaves the splash's frames waiting
// behind them. Threads over the bound wait blocked, not spinning.
#include <algorithm>
#include <semaphore>

class WorkSlots {
public:
    explicit WorkSlots(int count) : free_(std::max(count, 1)) {}
    WorkSlots(const WorkSlots&) = delete;
    WorkSlots& operator=(const WorkSlots&) = delete;

    // Holds one slot for its lifetime.
    class Held {
    public:
        explicit Held(WorkSlots& slots) : slots_(slots) { slots_.free_.acquire(); }
        ~Held() { slots_.free_.release(); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        WorkSlots& slots_;
    };

private:
    std::counting_semaphore<> free_;
};
