#pragma once
// The update status: how far the update run is, for the main thread (and the
// headless run) to read. phase, message and ready change together under
// status_mutex; the counters are lock-free. What the run works on (the
// install folder, the manifest, the state, the plan) is the run's own
// (update/update_run.h).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum UpdatePhase : uint32_t {
    PHASE_IDLE = 0,
    PHASE_CHECKING = 1,
    PHASE_COMPARING = 2,
    PHASE_DOWNLOADING = 3,
    PHASE_INSTALLING = 4,
    PHASE_READY = 5,
    PHASE_OFFLINE = 6,
    PHASE_WAITING_FOR_GAME = 7,
    PHASE_FAILED = 8,
    PHASE_LAUNCHER_UPDATE = 9,
};

struct UpdateStatus {
    std::mutex status_mutex;
    uint32_t phase = 0;
    std::string message;
    bool ready = false;
    std::atomic<int64_t> bytes_done{0};
    std::atomic<int64_t> bytes_total{0};
    std::atomic<bool> stop_requested{false};
    std::string download_source;   // the mirror the pieces come from; under status_mutex
};

extern UpdateStatus update_status;

struct StatusSnapshot {
    uint32_t phase = 0;
    std::string message;
    bool ready = false;
};

// Stores the three under the mutex, then logs "[phase] message" after
// releasing it, so the log lock is never taken inside the status lock.
void set_status(uint32_t phase, const std::string& message, bool ready);

// Copies phase, message and ready under the mutex.
StatusSnapshot read_status();

// The name of the mirror the download comes from, for the progress lines;
// empty before the first download.
void set_download_source(const std::string& name);
std::string read_download_source();

// Resets the progress to the state before a run (tests run several in one process).
void reset_update_status();
