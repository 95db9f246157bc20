// Self-install: the launcher keeps one copy of itself at
// <install folder>\launcher\tarnwick.exe, reached through Start-menu and desktop
// shortcuts (app/shortcut_files.h) and the Apps & features entry.
#include "app/roads.h"
#include "app/shortcut_files.h"
#include "app/apps_features_entry.h"
#include "base/file_calls.h"
#include "base/file_copy.h"
#include "base/launcher_command_lines.h"
#include "base/log.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/settings.h"
#include "base/win_handles.h"

bool self_install(const std::wstring& install_folder)
{
    const std::wstring installed = launcher_install_path(install_folder);
    // The running file is held from here on, without write or delete
    // sharing: nothing can be put in its place between the check and the
    // copy, and the copy reads through this handle, not the path.
    FileHandle running(file_calls::CreateFileW(own_exe_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (running && same_file(running.get(), installed)) return false;   // already running from its place

    create_folders(parent_folder(installed));
    if (!running || !copy_open_file_replacing(running.get(), installed)) {
        log_line("could not put the launcher in %s -- running from here", to_utf8(installed).c_str());
        return false;
    }
    make_launcher_shortcuts(installed);
    write_uninstall_entry(install_folder, installed);

    // No options of this run but its download limit: the installed copy
    // starts as if from its shortcut, only told to let this process end
    // first. It inherits the environment.
    const std::wstring command = relaunch_command_line(installed, false, false, false, max_rate_option()) +
                                 L" --after " + std::to_wstring(GetCurrentProcessId());
    if (!start_process(command)) return false;
    log_line("installed the launcher at %s and started it", to_utf8(installed).c_str());
    return true;
}
