#include "app/install_lock.h"

#include "base/file_calls.h"
#include "base/paths.h"
#include "base/win_handles.h"

#include <windows.h>

namespace {

constexpr DWORD RETRY_PAUSE_MS = 50;

// Kept open, and owned by the main thread, until the process ends or lets
// go; the file goes with the last handle, so a finished launcher leaves none.
FileHandle lock;

}  // namespace

std::wstring install_lock_path(const std::wstring& folder) { return join_path(folder, L".twlock"); }

bool take_install_lock(const std::wstring& folder, unsigned long wait_ms)
{
    const std::wstring path = install_lock_path(folder);
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    for (;;) {
        lock.reset(file_calls::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                           OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (lock) return true;
        // Held: open elsewhere (sharing), or just closed by its holder and
        // not yet gone (access denied while the delete is pending).
        const DWORD error = GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held && error != ERROR_ACCESS_DENIED) return true;
        if (GetTickCount64() >= deadline) return !held;
        Sleep(RETRY_PAUSE_MS);
    }
}

void release_install_lock() { lock.reset(); }

void wait_for_process_end(unsigned long process_id, unsigned long wait_ms)
{
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (process) WaitForSingleObject(process.get(), wait_ms);
}
