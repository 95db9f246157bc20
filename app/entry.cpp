#include "app/entry.h"

#include "app/command_line.h"
#include "app/download_limit_sources.h"
#include "app/game_launch.h"
#include "app/headless_progress.h"
#include "app/install_folder.h"
#include "app/install_lock.h"
#include "app/roads.h"
#include "app/running_game.h"
#include "app/apps_features_entry.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/update_status.h"
#include "base/win_handles.h"
#include "splash/splash_assets.h"
#include "update/driver.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>

namespace {

std::vector<std::wstring> split_command_line()
{
    std::vector<std::wstring> args;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    LocalMemory owner(argv);
    if (!argv) return args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

// A set but empty variable reads as not set: the call then returns 0. A value
// longer than the buffer makes the call return the needed size and leaves the
// zeroed buffer, which is taken as the (empty) value.
std::optional<std::wstring> read_environment(const wchar_t* name, size_t buffer_size)
{
    std::wstring buffer(buffer_size, L'\0');
    DWORD n = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer_size));
    if (n == 0) return std::nullopt;
    return std::wstring(buffer.c_str());
}

// Long enough for a launcher that is just ending to let go of the install
// folder, short enough that a second launcher started by a double
// double-click leaves at once.
constexpr unsigned long INSTALL_LOCK_WAIT_MS = 3000;
// The copy started by the self-install waits this long for the launcher that
// started it, which ends right after (slow machines, virus scanners).
constexpr unsigned long FIRST_LAUNCHER_WAIT_MS = 60000;

// The installed copy that the self-install started finds the folder still
// held: said in the log (after the holder's lines) and, windowed, in a box,
// so that the player's click does not end in nothing.
int report_folder_held(const std::wstring& install_folder)
{
    open_log_appending(join_path(install_folder, L"launcher.log"));
    const std::string message = "another launcher is still working in " + to_utf8(install_folder) +
                                " -- open the launcher again when it has finished";
    log_line("%s", message.c_str());
    if (!headless)
        MessageBoxW(nullptr, to_utf16(message).c_str(), to_utf16(PRODUCT_NAME).c_str(), MB_ICONWARNING);
    return 1;
}

// Where the headless lines are echoed. Standard output that is already a file
// or a pipe at start (a build machine, "| tee out.txt") is used as it is.
// Otherwise the parent's console: a process that already has one (Wine gives
// one to a program started from a terminal) fails the attach with
// ERROR_ACCESS_DENIED; its console is the caller's terminal, so it is used
// the same way.
void attach_headless_output()
{
    const DWORD type = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        console_attached = true;
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return;
    if (_wfreopen(L"CONOUT$", L"w", stdout)) console_attached = true;
}

// A folder that cannot hold the game is refused before anything is made in
// it; there is no log to write (it would go into that folder), so the
// player reads why in a box or, headless, on the console.
int refuse_install_folder(const std::string& problem)
{
    if (headless) {
        if (console_attached) std::printf("%s\n", problem.c_str());
    } else {
        MessageBoxW(nullptr, to_utf16(problem).c_str(), to_utf16(PRODUCT_NAME).c_str(), MB_ICONWARNING);
    }
    return 1;
}

}  // namespace

int headless_exit_code(unsigned phase)
{
    return phase == PHASE_READY || phase == PHASE_LAUNCHER_UPDATE ? 0 : 1;
}

int run_headless(const std::wstring& install_folder, const std::vector<std::wstring>& shots)
{
    {
        HeadlessProgress progress;
        run_update(install_folder);
    }
    unsigned phase = read_status().phase;
    log_line("headless: done, phase %d", static_cast<int>(phase));
    if (phase == PHASE_READY) refresh_uninstall_entry(install_folder);
    if (!shots.empty()) {
        std::string assets = to_utf8(prepare_splash_assets());
        for (const std::wstring& file : shots) {
            bool ok = take_shot(assets, file, 1920, 1080, 3.0, 0.5f,
                                "updating... 1.2 / 9.8 gb - 42 min");
            log_line(ok ? "shot written" : "the shot failed");
        }
    }
    return headless_exit_code(phase);
}

int entry()
{
    CommandLine cl = parse_command_line(split_command_line());
    if (cl.swap)
        return swap_launcher(cl.swap_target, cl.swap_pid, cl.swap_headless, cl.swap_verify, cl.swap_max_rate);
    headless = cl.headless;
    no_install = cl.no_install;
    no_self_update = cl.no_self_update;
    verify_files = cl.verify;

    if (const auto url = read_environment(L"TW_UPDATE_URL", 2048)) server_url = *url;
    const InstallFolderChoice folder = choose_install_folder(cl.install_dir, read_environment(L"TW_INSTALL_DIR", 520));
    const std::wstring& install_folder = folder.folder;

    if (cl.uninstall) {
        // Before the install folder is made or its log opened: a "No" to the
        // question changes nothing.
        if (headless) attach_headless_output();
        return run_uninstall(install_folder);
    }

    if (headless) attach_headless_output();
    // A folder the player chose is looked at before anything goes into it.
    if (chosen_by_player(folder.source)) {
        const std::string problem = install_folder_problem(install_folder);
        if (!problem.empty()) return refuse_install_folder(problem);
    }
    create_folders(install_folder);
    // Before the log: a second launcher must not even truncate the first's.
    if (cl.after_pid) wait_for_process_end(cl.after_pid, FIRST_LAUNCHER_WAIT_MS);
    if (!take_install_lock(install_folder, INSTALL_LOCK_WAIT_MS)) {
        if (cl.after_pid) return report_folder_held(install_folder);
        // Windowed, the first launcher's splash is on screen already.
        if (!headless) return 0;
        if (console_attached)
            std::printf("another launcher is working in %s -- nothing done\n", to_utf8(install_folder).c_str());
        return 1;
    }
    open_log(join_path(install_folder, L"launcher.log"));
    log_line(TW_PRODUCT_WORD " launcher v%d at %s, install %s, server %s", LAUNCHER_VERSION,
             to_utf8(own_exe_path()).c_str(), to_utf8(install_folder).c_str(),
             to_utf8(server_url).c_str());
    if (folder.source == InstallFolderSource::command_line) {
        remember_install_folder(install_folder);
        log_line("install folder chosen with --install-dir -- later starts use it too");
    }
    const DownloadLimit limit = read_download_limit(cl.max_rate);
    for (const std::string& line : limit.lines) log_line("%s", line.c_str());
    max_download_rate = limit.bytes_per_second;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    remove_swap_leftover();
    repair_uninstall_entry(install_folder);

    if (!no_install && !headless && self_install(install_folder)) return 0;
    if (headless) return run_headless(install_folder, cl.shots);
    if (game_is_running(install_folder)) {
        log_line("the game is already running -- nothing to do");
        return 0;
    }
    return run_windowed(install_folder);
}
