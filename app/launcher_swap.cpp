// The receiving side of a launcher self-update: this process is the new
// launcher, started from "tarnwick.new.exe" with "--swap TARGET PID". It waits
// for the old launcher, copies itself over the old file and starts it again.
// It runs before the environment, the log and COM are set up, so it reports
// nothing but its exit code.
#include "app/roads.h"
#include "base/file_calls.h"
#include "base/file_copy.h"
#include "base/launcher_command_lines.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/win_handles.h"

namespace {

constexpr DWORD OLD_LAUNCHER_WAIT_MS = 15000;
constexpr int COPY_ATTEMPTS = 40;
constexpr DWORD COPY_PAUSE_MS = 250;

// A process id that names no running process (0, or one that has ended)
// cannot be opened, and then there is nothing to wait for.
void wait_for_process(unsigned long process_id)
{
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (process) WaitForSingleObject(process.get(), OLD_LAUNCHER_WAIT_MS);
}

// The old file stays locked while the old launcher is still ending, so the
// copy is retried for about ten seconds.
bool copy_over(const std::wstring& own, const std::wstring& target)
{
    for (int attempt = 0; attempt < COPY_ATTEMPTS; ++attempt) {
        if (copy_file_replacing(own, target)) return true;
        Sleep(COPY_PAUSE_MS);
    }
    return false;
}

}  // namespace

int swap_launcher(const std::wstring& target, unsigned long process_id, bool relaunch_headless,
                  bool relaunch_verify)
{
    wait_for_process(process_id);
    const bool copied = copy_over(own_exe_path(), target);
    // The launcher at the target runs again either way: the new one, or the
    // old one unchanged. The old one is told not to update itself this time,
    // or it would find the newer launcher again, hand over again and fail
    // again, for as long as the file cannot be replaced.
    start_process(relaunch_command_line(target, relaunch_headless, !copied, relaunch_verify));
    return copied ? 0 : 1;
}

void remove_swap_leftover()
{
    // The swap process that ran from this file may still be ending when the
    // launcher it started gets here; its file cannot be deleted until then.
    const std::wstring leftover = join_path(parent_folder(own_exe_path()), L"tarnwick.new.exe");
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (file_calls::DeleteFileW(leftover.c_str())) return;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return;
        Sleep(100);
    }
}
