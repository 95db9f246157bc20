#include "app/uninstall_entry.h"

#include "app/self_install.h"
#include "app/uninstall_plan.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "formats/install_state.h"
#include "launcher_identity.h"

#include <windows.h>

namespace {

constexpr const wchar_t* ENTRY_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\tarnwick";

RegKey open_entry(REGSAM access)
{
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ENTRY_KEY, 0, access, key.out()) != ERROR_SUCCESS) return RegKey();
    return key;
}

bool set_text(HKEY key, const wchar_t* name, const std::wstring& value)
{
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

bool set_number(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

std::wstring read_text(HKEY key, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);   // room for a terminator the value may lack
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) return {};
    return buffer;
}

std::wstring without_trailing_separator(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

bool names_this_install(HKEY key)
{
    const std::wstring recorded = without_trailing_separator(read_text(key, L"InstallLocation"));
    const std::wstring ours = without_trailing_separator(install_dir);
    return !recorded.empty() && CompareStringOrdinal(recorded.c_str(), -1, ours.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool write_size_and_version(HKEY key)
{
    const InstallState state = read_install_state(install_dir);
    return set_text(key, L"DisplayVersion", to_utf16(state.version)) &&
           set_number(key, L"EstimatedSize", installed_kib(state));
}

}  // namespace

bool write_uninstall_entry(const std::wstring& launcher)
{
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ENTRY_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS) {
        log_line("could not write the Apps & features entry");
        return false;
    }
    const std::wstring quoted = L"\"" + launcher + L"\"";
    const bool ok = set_text(key.get(), L"DisplayName", to_utf16(PRODUCT_NAME)) &&
                    set_text(key.get(), L"DisplayIcon", launcher) &&
                    set_text(key.get(), L"Publisher", to_utf16(TW_PUBLISHER)) &&
                    set_text(key.get(), L"InstallLocation", install_dir) &&
                    set_text(key.get(), L"UninstallString", quoted + L" --uninstall") &&
                    set_text(key.get(), L"QuietUninstallString", quoted + L" --uninstall --headless") &&
                    set_number(key.get(), L"NoModify", 1) && set_number(key.get(), L"NoRepair", 1) &&
                    write_size_and_version(key.get());
    log_line(ok ? "wrote the Apps & features entry for %s" : "could not write the Apps & features entry for %s",
             to_utf8(launcher).c_str());
    return ok;
}

void refresh_uninstall_entry()
{
    RegKey key = open_entry(KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (key && names_this_install(key.get()) && !write_size_and_version(key.get()))
        log_line("could not refresh the Apps & features entry");
}

void repair_uninstall_entry()
{
    const std::wstring installed = launcher_install_path();
    std::wstring recorded;
    {
        RegKey key = open_entry(KEY_QUERY_VALUE);
        // No entry at all: an install made before the launcher wrote one
        // gets it from its installed launcher.
        if (!key) {
            if (same_file(own_exe_path(), installed)) write_uninstall_entry(installed);
            return;
        }
        recorded = read_text(key.get(), L"DisplayIcon");
    }
    if (!recorded.empty() && GetFileAttributesW(recorded.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    if (GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    log_line("the Apps & features entry names a launcher that is gone (%s)", to_utf8(recorded).c_str());
    write_uninstall_entry(installed);
}

bool remove_uninstall_entry()
{
    {
        RegKey key = open_entry(KEY_QUERY_VALUE);
        if (!key || !names_this_install(key.get())) return true;
    }
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, ENTRY_KEY);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
