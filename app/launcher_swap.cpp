// The receiving side of a launcher self-update: this process is the new
// launcher, started from "tarnwick.new.exe" with "--swap TARGET PID". It waits
// for the old launcher, copies itself over the old file and starts it again.
// It runs before the environment, the log and COM are set up, so it reports
// nothing but its exit code.
#include "app/roads.h"
#include "base/file_calls.h"
#include "base/file_copy.h"
#include "base/launcher_command_lines.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/settings.h"
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

// The swap replaces only a launcher beside it: a file in the same folder
// whose name starts with "tarnwick" and ends in ".exe" ("tarnwick.exe", or
// "tarnwick (1).exe" as a browser names a second download), not itself.
// Anything else on its command line could make it copy itself over any
// program the user may write.
bool is_launcher_beside(const std::wstring& own, const std::wstring& target)
{
    const std::wstring name = target.substr(target.find_last_of(L"\\/") + 1);
    const std::wstring_view prefix = PRODUCT_NAME_W;
    const bool named_like_launcher = name.size() > prefix.size() && starts_with_ignoring_case(name, prefix) &&
                                     ends_with_ignoring_case(name, L".exe");
    return named_like_launcher && same_file(parent_folder(own), parent_folder(target)) &&
           !same_file(own, target);
}

}  // namespace

int swap_launcher(const std::wstring& target, unsigned long process_id, bool relaunch_headless,
                  bool relaunch_verify, const std::wstring& relaunch_max_rate)
{
    const std::wstring own = own_exe_path();
    if (!is_launcher_beside(own, target)) return 2;   // nothing copied, nothing started
    wait_for_process(process_id);
    const bool copied = copy_over(own, target);
    // The launcher at the target runs again either way: the new one, or the
    // old one unchanged. The old one is told not to update itself this time,
    // or it would find the newer launcher again, hand over again and fail
    // again, for as long as the file cannot be replaced.
    start_process(relaunch_command_line(target, relaunch_headless, !copied, relaunch_verify, relaunch_max_rate));
    return copied ? 0 : 1;
}

void remove_swap_leftover()
{
    // The swap process that ran from this file may still be ending when the
    // launcher it started gets here; its file cannot be deleted until then.
    const std::wstring leftover = join_path(parent_folder(own_exe_path()), SWAP_LEFTOVER_NAME);
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (file_calls::DeleteFileW(leftover.c_str())) return;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return;
        Sleep(100);
    }
}
