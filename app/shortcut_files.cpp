#include "app/shortcut_files.h"

#include "base/paths.h"
#include "base/settings.h"
#include "base/win_handles.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

struct LauncherShortcut {
    std::wstring link;
    const wchar_t* arguments;
};

// Every shortcut to the launcher, with the arguments it passes.
std::vector<LauncherShortcut> shortcuts_with_arguments()
{
    const std::wstring product = PRODUCT_NAME_W;
    std::vector<LauncherShortcut> links;
    const std::wstring menu = start_menu_folder();
    if (!menu.empty()) {
        links.push_back({join_path(menu, product + L".lnk"), L""});
        links.push_back({join_path(menu, L"Repair " + product + L".lnk"), L"--verify"});
    }
    const std::wstring desktop = known_folder(FOLDERID_Desktop);
    if (!desktop.empty()) links.push_back({join_path(desktop, product + L".lnk"), L""});
    return links;
}

// Creates or overwrites the shell link `link` to `target` with `arguments`:
// working folder the target's folder, the target's first icon, the product
// word as its description.
void make_shortcut(const std::wstring& link, const std::wstring& target, const wchar_t* arguments)
{
    ComPtr<IShellLinkW> shell_link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shell_link.out()))))
        return;
    shell_link->SetPath(target.c_str());
    shell_link->SetArguments(arguments);
    shell_link->SetWorkingDirectory(parent_folder(target).c_str());
    shell_link->SetIconLocation(target.c_str(), 0);
    shell_link->SetDescription(PRODUCT_NAME_W);
    ComPtr<IPersistFile> file;
    if (FAILED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))))
        return;
    create_folders(parent_folder(link));
    file->Save(link.c_str(), TRUE);
}

}  // namespace

std::wstring start_menu_folder()
{
    const std::wstring programs = known_folder(FOLDERID_Programs);
    return programs.empty() ? std::wstring() : join_path(programs, PRODUCT_NAME_W);
}

std::vector<std::wstring> launcher_shortcuts()
{
    std::vector<std::wstring> links;
    for (const LauncherShortcut& shortcut : shortcuts_with_arguments()) links.push_back(shortcut.link);
    return links;
}

void make_launcher_shortcuts(const std::wstring& target)
{
    for (const LauncherShortcut& shortcut : shortcuts_with_arguments())
        make_shortcut(shortcut.link, target, shortcut.arguments);
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
