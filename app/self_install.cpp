#include "app/self_install.h"

#include "app/roads.h"
#include "app/uninstall_entry.h"
#include "base/file_calls.h"
#include "base/file_copy.h"
#include "base/launcher_command_lines.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/settings.h"
#include "base/win_handles.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

namespace {

struct FileIdentity {
    ULONGLONG volume = 0;
    unsigned char id[16] = {};
};

// The 128-bit file id where the volume offers one (ReFS needs all of it),
// else the classic volume serial number and 64-bit file index.
bool read_identity(HANDLE file, FileIdentity& identity)
{
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info)) {
        identity.volume = info.VolumeSerialNumber;
        std::memcpy(identity.id, info.FileId.Identifier, sizeof identity.id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION classic{};
    if (!file_calls::GetFileInformationByHandle(file, &classic)) return false;
    identity.volume = classic.dwVolumeSerialNumber;
    const DWORD index[2] = {classic.nFileIndexLow, classic.nFileIndexHigh};
    std::memcpy(identity.id, index, sizeof index);
    return true;
}

bool read_identity(const std::wstring& path, FileIdentity& identity)
{
    // Attribute access only: it is granted even while another process holds
    // the file open without sharing (a running launcher, for one).
    FileHandle file(file_calls::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && read_identity(file.get(), identity);
}

bool same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

// A shortcut below a known folder. A folder that cannot be looked up gets
// none: its empty path would put the link in the current folder.
void make_shortcut_in(const GUID& folder, const wchar_t* relative_link, const std::wstring& target,
                      const std::wstring& arguments = {})
{
    const std::wstring base = known_folder(folder);
    if (!base.empty()) make_shortcut(join_path(base, relative_link), target, arguments);
}

}  // namespace

bool same_file(const std::wstring& a, const std::wstring& b)
{
    FileIdentity first, second;
    return read_identity(a, first) && read_identity(b, second) && same_identity(first, second);
}

void make_shortcut(const std::wstring& link, const std::wstring& target, const std::wstring& arguments)
{
    ComPtr<IShellLinkW> shell_link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shell_link.out()))))
        return;
    shell_link->SetPath(target.c_str());
    shell_link->SetArguments(arguments.c_str());
    shell_link->SetWorkingDirectory(parent_folder(target).c_str());
    shell_link->SetIconLocation(target.c_str(), 0);
    shell_link->SetDescription(L"tarnwick");
    ComPtr<IPersistFile> file;
    if (FAILED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))))
        return;
    create_folders(parent_folder(link));
    file->Save(link.c_str(), TRUE);
}

bool self_install()
{
    const std::wstring installed = launcher_install_path();
    // The running file is held from here on, without write or delete
    // sharing: nothing can be put in its place between the check and the
    // copy, and the copy reads through this handle, not the path.
    FileHandle running(file_calls::CreateFileW(own_exe_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileIdentity own_identity, installed_identity;
    if (running && read_identity(running.get(), own_identity) &&
        read_identity(installed, installed_identity) && same_identity(own_identity, installed_identity))
        return false;   // already running from its place

    create_folders(parent_folder(installed));
    if (!running || !copy_open_file_replacing(running.get(), installed)) {
        log_line("could not put the launcher in %s -- running from here", to_utf8(installed).c_str());
        return false;
    }
    make_shortcut_in(FOLDERID_Programs, L"tarnwick\\tarnwick.lnk", installed);
    make_shortcut_in(FOLDERID_Desktop, L"tarnwick.lnk", installed);
    make_shortcut_in(FOLDERID_Programs, L"tarnwick\\Repair tarnwick.lnk", installed, L"--verify");
    write_uninstall_entry(installed);

    // No options of this run but its download limit: the installed copy
    // starts as if from its shortcut, only told to let this process end
    // first. It inherits the environment.
    const std::wstring command = relaunch_command_line(installed, false, false, false, max_rate_option()) +
                                 L" --after " + std::to_wstring(GetCurrentProcessId());
    if (!start_process(command)) return false;
    log_line("installed the launcher at %s and started it", to_utf8(installed).c_str());
    return true;
}
