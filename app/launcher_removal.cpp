#include "app/launcher_removal.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/win_handles.h"
#include "update/deletion_gate.h"

#include <windows.h>

#include <string>

namespace {

// A running program cannot remove its own file, and a helper process
// started to wait for this one would be a running file of its own. What is
// left therefore goes to Windows: the per-user RunOnce key runs the
// system's own command interpreter once at the next logon, which deletes
// that one file (and nothing else: the path is quoted whole, "del" takes no
// folders, and "rmdir" without /s removes its folder only when empty). The
// value's name is the file's own, so two uninstalls never share one.
void remove_at_next_logon(const std::wstring& path, const std::wstring& value_name)
{
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    // A '%' would be expanded by the interpreter, a '"' would end the quoting.
    if (n == 0 || n >= MAX_PATH || path.find_first_of(L"%\"") != std::wstring::npos) {
        log_line("%s stays: delete it by hand", to_utf8(path).c_str());
        return;
    }
    const std::wstring command = L"\"" + std::wstring(system) + L"\\cmd.exe\" /d /c del /f /q \"" + path +
                                 L"\" & rmdir \"" + parent_folder(path) + L"\"";
    RegKey key;
    const bool ok =
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, nullptr,
                        0, KEY_SET_VALUE, nullptr, key.out(), nullptr) == ERROR_SUCCESS &&
        RegSetValueExW(key.get(), value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    log_line(ok ? "%s is removed at the next logon" : "%s stays: delete it by hand", to_utf8(path).c_str());
}

}  // namespace

bool remove_launcher_file(const std::wstring& launcher, const std::wstring& parking)
{
    if (place_kind(launcher) == PlaceKind::missing) return true;
    if (!same_file(own_exe_path(), launcher)) return remove_owned_file(launcher) == FileRemoval::gone;

    const std::wstring name =
        L"tarnwick-removed-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    for (const std::wstring& folder : {parking, parent_folder(launcher)}) {
        if (folder.empty() || !create_folders(folder)) continue;
        const std::wstring parked = join_path(folder, name + L".exe");
        // No MOVEFILE_COPY_ALLOWED: across volumes the copy would be made and
        // the running original still could not be deleted. No replacing
        // either: the name is this file's own.
        if (file_calls::MoveFileExW(launcher.c_str(), parked.c_str(), 0)) {
            log_line("moved the running launcher to %s", to_utf8(parked).c_str());
            remove_at_next_logon(parked, name);
            return true;
        }
    }
    log_line("the running launcher could not leave %s -- delete it by hand", to_utf8(launcher).c_str());
    return false;
}
