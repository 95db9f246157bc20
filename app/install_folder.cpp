#include "app/install_folder.h"

#include "base/file_calls.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/registry_values.h"
#include "base/settings.h"
#include "base/win_handles.h"

#include <windows.h>
#include <shlobj.h>

namespace {

constexpr const wchar_t* REMEMBERED = L"InstallDir";

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Without trailing separators, but a drive's root keeps its own ("D:\").
std::wstring trimmed(std::wstring path)
{
    while (path.size() > 1 && is_separator(path.back()) && !(path.size() == 3 && path[1] == L':'))
        path.pop_back();
    return path;
}

std::wstring last_part(const std::wstring& path)
{
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// The install folder of a launcher that runs from <install>\launcher\tarnwick.exe;
// empty for one anywhere else.
std::wstring folder_of_installed_launcher(const std::wstring& exe)
{
    const std::wstring launcher_folder = parent_folder(exe);
    if (!same_path_text(last_part(exe), LAUNCHER_FILE_NAME) ||
        !same_path_text(last_part(launcher_folder), L"launcher"))
        return {};
    return parent_folder(launcher_folder);
}

std::wstring full_path(const std::wstring& path)
{
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    if (written == 0 || written >= n) return path;
    out.resize(written);
    return out;
}

// The path with every part that exists in its long form, so that a short
// name ("PROGRA~1") cannot pass for another folder.
std::wstring long_form(const std::wstring& path)
{
    std::wstring head = trimmed(full_path(path));
    std::wstring tail;
    for (;;) {
        wchar_t buffer[MAX_PATH * 4] = {};
        const DWORD n = GetLongPathNameW(head.c_str(), buffer, static_cast<DWORD>(std::size(buffer)));
        if (n > 0 && n < std::size(buffer)) return trimmed(buffer) + tail;
        const std::wstring parent = parent_folder(head);
        if (parent.empty() || parent.size() >= head.size()) return path;
        tail = head.substr(parent.size()) + tail;
        head = parent;
    }
}

bool is_inside(const std::wstring& path, const std::wstring& folder)
{
    if (folder.empty() || path.size() < folder.size()) return false;
    if (!same_path_text(path.substr(0, folder.size()), folder)) return false;
    return path.size() == folder.size() || is_separator(path[folder.size()]) || is_separator(folder.back());
}

std::string folder_message(const std::wstring& folder, const std::string& finding)
{
    return "the install folder " + to_utf8(folder) + " " + finding + " -- choose another folder";
}

}  // namespace

bool same_folder(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && !b.empty() && same_path_text(trimmed(a), trimmed(b));
}

bool chosen_by_player(InstallFolderSource source)
{
    return source == InstallFolderSource::command_line || source == InstallFolderSource::remembered;
}

InstallFolderChoice choose_install_folder(const std::optional<std::wstring>& command_line,
                                          const std::optional<std::wstring>& environment)
{
    if (command_line && !command_line->empty())
        return {trimmed(full_path(*command_line)), InstallFolderSource::command_line};
    if (environment) return {*environment, InstallFolderSource::environment};
    const std::wstring place = folder_of_installed_launcher(own_exe_path());
    if (!place.empty()) return {place, InstallFolderSource::launcher_place};
    const std::optional<std::wstring> remembered =
        read_registry_text(HKEY_CURRENT_USER, SETTINGS_KEY, REMEMBERED).value;
    if (remembered && !remembered->empty()) return {*remembered, InstallFolderSource::remembered};
    return {join_path(known_folder(FOLDERID_LocalAppData), PRODUCT_NAME_W), InstallFolderSource::default_place};
}

std::string install_folder_problem(const std::wstring& folder)
{
    const std::wstring chosen = long_form(folder);
    for (const GUID* id : {&FOLDERID_Windows, &FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
        const std::wstring system_folder = known_folder(*id);
        if (system_folder.empty()) continue;
        const std::wstring protected_folder = long_form(system_folder);
        if (is_inside(chosen, protected_folder))
            return folder_message(folder, "is inside " + to_utf8(protected_folder) +
                                              ", where only an administrator may write");
    }
    if (!create_folders(folder))
        return folder_message(folder, "cannot be made (error " + std::to_string(GetLastError()) + ")");
    // A file made and gone again: the folder's rights, a read-only medium
    // or a full quota show here, before anything is downloaded.
    const std::wstring probe = join_path(folder, L".twwrite-" + std::to_wstring(GetCurrentProcessId()));
    FileHandle file(file_calls::CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) return folder_message(folder, "cannot be written (error " + std::to_string(GetLastError()) + ")");
    return {};
}

void remember_install_folder(const std::wstring& folder)
{
    write_registry_text(HKEY_CURRENT_USER, SETTINGS_KEY, REMEMBERED, folder);
}

void forget_install_folder(const std::wstring& folder)
{
    const std::optional<std::wstring> remembered =
        read_registry_text(HKEY_CURRENT_USER, SETTINGS_KEY, REMEMBERED).value;
    if (remembered && same_folder(*remembered, folder))
        delete_registry_value(HKEY_CURRENT_USER, SETTINGS_KEY, REMEMBERED);
}
