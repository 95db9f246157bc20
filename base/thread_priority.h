#pragma once
// Thread priorities of the update's work. On Windows a new thread starts at
// normal priority whatever its creator's, so every thread of the download,
// the hashing and the assembly lowers itself: the splash thread then gets the
// processor whenever a frame is due, even with all cores busy.

// The calling thread runs below normal priority while this lives, and at
// its earlier priority again afterwards.
class BelowNormalPriority {
public:
    BelowNormalPriority();
    ~BelowNormalPriority();
    BelowNormalPriority(const BelowNormalPriority&) = delete;
    BelowNormalPriority& operator=(const BelowNormalPriority&) = delete;

private:
    int previous_;
};

// The calling thread's priority, and setting it on another thread: the
// helpers of a parallel loop take their caller's.
int this_thread_priority();
void set_this_thread_priority(int priority);
