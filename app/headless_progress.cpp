#include "app/headless_progress.h"

#include "app/progress_lines.h"
#include "base/log.h"
#include "base/update_status.h"

#include <chrono>
#include <system_error>

namespace {

constexpr auto POLL_INTERVAL = std::chrono::milliseconds(250);

uint64_t steady_ms()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

HeadlessProgress::HeadlessProgress()
{
    try {
        thread_ = std::thread(&HeadlessProgress::watch, this);
    } catch (const std::system_error&) {
        // Without the thread the run is only quieter.
    }
}

HeadlessProgress::~HeadlessProgress()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void HeadlessProgress::watch()
{
    ProgressLines lines;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_for(lock, POLL_INTERVAL, [this] { return done_; })) return;
        }
        const uint32_t phase = read_status().phase;
        const std::string line = lines.poll(steady_ms(), phase, update_status.bytes_done.load(),
                                            update_status.bytes_total.load());
        if (line.empty()) continue;
        const std::string source = phase == PHASE_DOWNLOADING ? read_download_source() : std::string();
        if (source.empty()) log_line("%s", line.c_str());
        else log_line("%s from %s", line.c_str(), source.c_str());
    }
}
