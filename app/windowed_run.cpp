// The normal start: the splash window on its thread, the update on a worker,
// this thread polling the update status into the splash, then the game's
// start and the wait for its loading window, or a warning box.
#include "app/game_launch.h"
#include "app/roads.h"
#include "app/apps_features_entry.h"
#include "app/windowed_poll.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/test_hooks.h"
#include "base/update_status.h"
#include "base/win_handles.h"
#include "splash/frame_timer.h"
#include "splash/splash_assets.h"
#include "splash/splash_state.h"
#include "update/driver.h"

#include <windows.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace {

constexpr int SPLASH_WIDTH = 3820;
constexpr int SPLASH_HEIGHT = 1990;
constexpr DWORD POLL_MS = 30;
// How long after the splash's start the pieces may wait for it to be up.
constexpr int64_t SPLASH_START_GRACE_NS = 1'500'000'000;

// The splash's start-up (its window's first frame, then the opening of its
// video) and the first seconds of a download each take every core a small
// machine has; together they cost the splash its first frames. The pieces
// wait until the splash is up, or has gone, or the grace has passed; a
// manifest that took that long to come waits for nothing.
void wait_for_splash_start()
{
    while (splash_state.splash_alive.load() && !splash_state.started.load() &&
           splash_clock_ns() - splash_state.start_time < SPLASH_START_GRACE_NS)
        Sleep(10);
}

// `installed` is the run's outcome for the game's start, read once the
// worker has been joined.
void update_work(const std::wstring& install_folder, std::atomic<bool>& worker_done, InstallState& installed)
{
    if (test_launcher_handed_over()) {
        std::lock_guard<std::mutex> lock(update_status.status_mutex);
        update_status.phase = PHASE_LAUNCHER_UPDATE;
    } else {
        installed = run_update(install_folder, wait_for_splash_start);
        if (read_status().phase == PHASE_READY) refresh_uninstall_entry(install_folder);
    }
    worker_done.exchange(true);
}

// The update worker. When no thread can be had the update runs here on the
// main thread instead: the splash keeps drawing on its own thread (without
// numbers), and the player still gets the update and the game.
std::thread start_update_worker(const std::wstring& install_folder, std::atomic<bool>& worker_done,
                                InstallState& installed)
{
    std::thread worker;
    if (!test_update_thread_refused()) {
        try {
            worker = std::thread(update_work, std::cref(install_folder), std::ref(worker_done), std::ref(installed));
        } catch (const std::system_error& e) {
            log_line("the update thread could not be started (%s)", e.what());
        }
    }
    if (!worker.joinable()) {
        log_line("updating without the progress bar -- no update thread");
        update_work(install_folder, worker_done, installed);
    }
    return worker;
}

// Every 30 ms: the update status into the splash's bar and status line,
// until the update is ready or done, or the splash has gone.
void poll_update(bool game_present, const std::atomic<bool>& worker_done)
{
    WindowedPoll poll(game_present);
    for (;;) {
        const StatusSnapshot status = read_status();
        const double done = static_cast<double>(update_status.bytes_done.load());
        const double total = static_cast<double>(update_status.bytes_total.load());
        const SplashView view = poll.poll(status.phase, done, total, GetTickCount64());
        if (view.progress_known) splash_state.set_progress(view.progress);
        splash_state.set_text(view.text);
        splash_state.set_window_text(view.window_text);
        if (status.ready || worker_done.load() || !splash_state.splash_alive.load()) return;
        Sleep(POLL_MS);
    }
}

// Keeps the splash up until it closes by itself (the game's loading window
// appeared), the game ends, or the time limit passes.
void wait_for_handover(HANDLE game)
{
    const uint64_t t0 = GetTickCount64();
    const uint64_t head_start = test_handover_head_start_ms();
    for (;;) {
        if (!splash_state.splash_alive.load()) {
            log_line("hand-over: the splash has closed");
            return;
        }
        if (GetTickCount64() - t0 + head_start > HANDOVER_LIMIT_MS) {
            log_line("hand-over: no loading window after 120 s -- leaving the game to itself");
            return;
        }
        if (WaitForSingleObject(game, 50) != WAIT_TIMEOUT) {
            log_line("hand-over: the game ended before its loading window showed");
            return;
        }
    }
}

}  // namespace

int run_windowed(const std::wstring& install_folder)
{
    // The default executable by name, not the recorded run_exe: its presence
    // tells an update ("updating...") from a first install.
    const std::wstring game_file = path_under(install_folder, DEFAULT_RUN_EXE);
    const bool game_present = GetFileAttributesW(game_file.c_str()) != INVALID_FILE_ATTRIBUTES;

    start_splash(to_utf8(prepare_splash_assets()), SPLASH_WIDTH, SPLASH_HEIGHT);
    std::atomic<bool> worker_done{false};
    InstallState installed;
    std::thread worker = start_update_worker(install_folder, worker_done, installed);
    poll_update(game_present, worker_done);
    if (worker.joinable()) worker.join();   // without a splash this waits for the whole update

    StatusSnapshot status = read_status();
    std::string message = status.message;
    switch (windowed_end(status.ready, status.phase)) {
    case WindowedEnd::start_game: {
        splash_state.set_text("");
        splash_state.set_window_text(STARTING_WINDOW_TEXT);
        KernelHandle game(start_game(install_folder, installed));
        if (game) {
            wait_for_handover(game.get());
            stop_splash();
            return 0;
        }
        message = std::string(PRODUCT_NAME) + " could not be started";
        break;
    }
    case WindowedEnd::quiet_exit:
        stop_splash();
        return 0;
    case WindowedEnd::warning:
        break;
    }
    stop_splash();
    log_line("windowed run: warning box \"%s\"", warning_text(message).c_str());
    MessageBoxW(nullptr, to_utf16(warning_text(message)).c_str(), to_utf16(PRODUCT_NAME).c_str(), MB_ICONWARNING);
    return 1;
}
