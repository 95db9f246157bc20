#include "app/install_lock.h"

#include "base/paths.h"
#include "base/win_handles.h"
#include "formats/file_name_case.h"

#include <windows.h>

#include <cstdio>

namespace {

// The folder as the file system names it: links, short names and letter
// case resolved, so every spelling of one folder gives one lock. A folder
// that cannot be opened falls back to its full path.
std::wstring canonical_folder(const std::wstring& folder)
{
    FileHandle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle) {
        wchar_t buffer[1024];
        DWORD n = GetFinalPathNameByHandleW(handle.get(), buffer, 1024, FILE_NAME_NORMALIZED);
        if (n > 0 && n < 1024) return std::wstring(buffer, n);
    }
    wchar_t buffer[1024];
    DWORD n = GetFullPathNameW(folder.c_str(), 1024, buffer, nullptr);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : folder;
}

// Object names may not hold '\' and are limited in length, so the name
// carries a 64-bit FNV-1a hash of the upper-cased canonical path. "Global"
// makes two sessions (fast user switching) on one shared folder meet too;
// "Local" stands in where the global namespace is not available.
std::wstring lock_name(const std::wstring& folder, const wchar_t* space)
{
    std::string key = file_name_key(to_utf8(canonical_folder(folder)));
    while (!key.empty() && (key.back() == '\\' || key.back() == '/')) key.pop_back();
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    wchar_t name[64];
    std::swprintf(name, 64, L"%ls\\tarnwick-install-%016llx", space, static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

bool take_install_lock(const std::wstring& folder, unsigned long wait_ms)
{
    // Kept open, and owned by the main thread, until the process ends.
    static KernelHandle mutex;
    for (const wchar_t* space : {L"Global", L"Local"}) {
        mutex.reset(CreateMutexW(nullptr, FALSE, lock_name(folder, space).c_str()));
        // A mutex made by another user's launcher cannot even be opened: held.
        if (mutex || GetLastError() == ERROR_ACCESS_DENIED) break;
    }
    // No lock can be made at all: run unguarded rather than never.
    if (!mutex) return GetLastError() != ERROR_ACCESS_DENIED;
    // An abandoned mutex means its holder died: the folder is ours now, and
    // the run's journal replay repairs whatever it left half done.
    DWORD result = WaitForSingleObject(mutex.get(), wait_ms);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
    mutex.reset();
    return false;
}
