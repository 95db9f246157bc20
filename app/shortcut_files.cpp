#include "app/shortcut_files.h"

#include "base/paths.h"
#include "base/win_handles.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

std::wstring start_menu_folder()
{
    const std::wstring programs = known_folder(FOLDERID_Programs);
    return programs.empty() ? std::wstring() : join_path(programs, L"tarnwick");
}

std::vector<std::wstring> launcher_shortcuts()
{
    std::vector<std::wstring> links;
    const std::wstring menu = start_menu_folder();
    if (!menu.empty()) {
        links.push_back(join_path(menu, L"tarnwick.lnk"));
        links.push_back(join_path(menu, L"Repair tarnwick.lnk"));
    }
    const std::wstring desktop = known_folder(FOLDERID_Desktop);
    if (!desktop.empty()) links.push_back(join_path(desktop, L"tarnwick.lnk"));
    return links;
}

std::wstring shortcut_target(const std::wstring& link)
{
    if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
    ComPtr<IShellLinkW> shell_link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shell_link.out()))))
        return {};
    ComPtr<IPersistFile> file;
    if (FAILED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))) ||
        FAILED(file->Load(link.c_str(), STGM_READ)))
        return {};
    wchar_t target[MAX_PATH] = {};
    // The raw path: the stored text, not one resolved (or searched for) anew.
    if (FAILED(shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
    return target;
}
