#include "base/paths.h"

#include "base/file_calls.h"
#include "base/settings.h"
#include "base/win_handles.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>

std::string to_utf8(const std::wstring& wide)
{
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                            out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring to_utf16(const std::string& utf8)
{
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                            out.data(), n);
    return out;
}

namespace {
bool is_slash(wchar_t c) { return c == L'\\' || c == L'/'; }
bool has_drive(const std::wstring& s)
{
    return s.size() >= 2 && s[1] == L':' &&
           ((s[0] >= L'A' && s[0] <= L'Z') || (s[0] >= L'a' && s[0] <= L'z'));
}
}

std::wstring join_path(const std::wstring& a, const std::wstring& b)
{
    if (!b.empty() && !is_slash(b[0]) && !has_drive(b)) {
        std::wstring out = a;
        bool bare_drive = a.size() == 2 && has_drive(a);
        if (!a.empty() && !bare_drive && !is_slash(a.back())) out += L'\\';
        out += b;
        return out;
    }
    return (std::filesystem::path(a) / std::filesystem::path(b)).wstring();
}

std::wstring own_exe_path() { return module_path(nullptr); }

std::wstring module_path(void* module)
{
    // A path that fills the buffer was cut: grow it up to the longest path
    // Windows has (32,767 characters in the "\\?\" form).
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return buffer.substr(0, n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring known_folder(const GUID& id)
{
    PWSTR raw = nullptr;
    const bool found = SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &raw));
    TaskMemory owner(raw);   // freed even when the call fails
    return found && raw ? std::wstring(raw) : std::wstring();
}

std::wstring launcher_install_path(const std::wstring& install_folder)
{
    return join_path(join_path(install_folder, L"launcher"), LAUNCHER_FILE_NAME);
}

std::wstring path_under(const std::wstring& folder, const std::string& relative)
{
    std::wstring out = join_path(folder, to_utf16(relative));
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

std::wstring installed_game_exe(const std::wstring& install_folder, const std::string& run_exe)
{
    return path_under(install_folder, run_exe.empty() ? DEFAULT_RUN_EXE : run_exe);
}

std::wstring parent_folder(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

namespace {
bool is_folder(const std::wstring& path)
{
    const DWORD attributes = file_calls::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

bool create_folders(const std::wstring& path)
{
    if (path.empty()) return false;
    if (file_calls::CreateDirectoryW(path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND) return is_folder(path);   // there already, or refused
    const std::wstring parent = parent_folder(path);
    if (parent.empty() || parent.size() >= path.size() || !create_folders(parent)) return false;
    return file_calls::CreateDirectoryW(path.c_str(), nullptr) || is_folder(path);
}
