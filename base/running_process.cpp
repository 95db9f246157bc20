#include "base/running_process.h"

#include "base/path_identity.h"
#include "base/win_handles.h"

#include <windows.h>
#include <tlhelp32.h>

namespace {

std::wstring file_name_of(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// True when the process runs from exactly exe_path (ignoring case). A process
// that cannot be opened for querying does not count.
bool process_image_is(DWORD pid, const std::wstring& exe_path)
{
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return false;
    wchar_t image[520] = {};
    DWORD size = 520;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) return false;
    return same_path_text(image, exe_path);
}

}  // namespace

bool game_running(const std::wstring& exe_path)
{
    std::wstring name = file_name_of(exe_path);
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (same_path_text(entry.szExeFile, name) &&
            process_image_is(entry.th32ProcessID, exe_path))
            return true;
    }
    return false;
}
