#pragma once
// Progress lines for a run without a window: while it lives, a thread polls
// the update status four times a second and logs what ProgressLines gives
// (the log echoes it on the console). Stopped and joined by the destructor.
#include <condition_variable>
#include <mutex>
#include <thread>

class HeadlessProgress {
public:
    HeadlessProgress();
    ~HeadlessProgress();
    HeadlessProgress(const HeadlessProgress&) = delete;
    HeadlessProgress& operator=(const HeadlessProgress&) = delete;

private:
    void watch();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};
