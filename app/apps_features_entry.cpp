#include "app/apps_features_entry.h"

#include "app/install_folder.h"
#include "app/uninstall_plan.h"
#include "base/log.h"
#include "base/launcher_command_lines.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/registry_values.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "formats/install_state.h"
#include "launcher_identity.h"

#include <windows.h>

namespace {

constexpr const wchar_t* ENTRY_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" TW_PRODUCT_WORD;

RegKey open_entry(REGSAM access)
{
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ENTRY_KEY, 0, access, key.out()) != ERROR_SUCCESS) return RegKey();
    return key;
}

std::wstring read_text(HKEY key, const wchar_t* name)
{
    return read_registry_text(key, nullptr, name).value.value_or(std::wstring());
}

bool names_this_install(HKEY key, const std::wstring& install_folder)
{
    return same_folder(read_text(key, L"InstallLocation"), install_folder);
}

bool write_size_and_version(HKEY key, const std::wstring& install_folder)
{
    const InstallState state = read_install_state(install_folder);
    return write_registry_text(key, L"DisplayVersion", to_utf16(state.version)) &&
           write_registry_number(key, L"EstimatedSize", installed_kib(state));
}

}  // namespace

bool write_uninstall_entry(const std::wstring& install_folder, const std::wstring& launcher)
{
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ENTRY_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS) {
        log_line("could not write the Apps & features entry");
        return false;
    }
    // The commands name the folder: Apps & features starts them without
    // the environment or the remembered choice of any particular run.
    const HKEY k = key.get();
    const bool ok = write_registry_text(k, L"DisplayName", to_utf16(PRODUCT_NAME)) &&
                    write_registry_text(k, L"DisplayIcon", launcher) &&
                    write_registry_text(k, L"Publisher", to_utf16(TW_PUBLISHER)) &&
                    write_registry_text(k, L"InstallLocation", install_folder) &&
                    write_registry_text(k, L"UninstallString",
                                        uninstall_command_line(launcher, install_folder, false)) &&
                    write_registry_text(k, L"QuietUninstallString",
                                        uninstall_command_line(launcher, install_folder, true)) &&
                    write_registry_number(k, L"NoModify", 1) && write_registry_number(k, L"NoRepair", 1) &&
                    write_size_and_version(k, install_folder);
    log_line(ok ? "wrote the Apps & features entry for %s" : "could not write the Apps & features entry for %s",
             to_utf8(launcher).c_str());
    return ok;
}

void refresh_uninstall_entry(const std::wstring& install_folder)
{
    RegKey key = open_entry(KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (key && names_this_install(key.get(), install_folder) && !write_size_and_version(key.get(), install_folder))
        log_line("could not refresh the Apps & features entry");
}

void repair_uninstall_entry(const std::wstring& install_folder)
{
    const std::wstring installed = launcher_install_path(install_folder);
    std::wstring recorded;
    {
        RegKey key = open_entry(KEY_QUERY_VALUE);
        // No entry at all: an install made before the launcher wrote one
        // gets it from its installed launcher.
        if (!key) {
            if (same_file(own_exe_path(), installed)) write_uninstall_entry(install_folder, installed);
            return;
        }
        recorded = read_text(key.get(), L"DisplayIcon");
    }
    if (!recorded.empty() && GetFileAttributesW(recorded.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    if (GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    log_line("the Apps & features entry names a launcher that is gone (%s)", to_utf8(recorded).c_str());
    write_uninstall_entry(install_folder, installed);
}

bool remove_uninstall_entry(const std::wstring& install_folder)
{
    forget_install_folder(install_folder);
    {
        RegKey key = open_entry(KEY_QUERY_VALUE);
        if (!key || !names_this_install(key.get(), install_folder)) return true;
    }
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, ENTRY_KEY);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
