// Reads the launcher's two shortcuts back through IShellLinkW, for the
// self-install tests.
//
//   shell_link_reader.exe            prints one line per shortcut (UTF-8)
//   shell_link_reader.exe --delete   deletes both shortcuts
//
// The lines, Start-menu link first, then the desktop link:
//   LINK<TAB>TARGET<TAB>WORKING FOLDER<TAB>ICON FILE,INDEX<TAB>DESCRIPTION
// or LINK<TAB>missing when the link file does not exist or will not load.
#include "tests/programs/utf8_text.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

namespace {

std::wstring known(const GUID& id, const wchar_t* rest)
{
    PWSTR raw = nullptr;
    std::wstring path;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &raw))) path = std::wstring(raw) + rest;
    CoTaskMemFree(raw);
    return path;
}

std::string describe(const std::wstring& link)
{
    std::string line = utf8(link) + "\t";
    IShellLinkW* shell_link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell_link))))
        return line + "missing";
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {}, text[MAX_PATH] = {};
    int icon_index = -1;
    bool loaded = GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                  SUCCEEDED(file->Load(link.c_str(), STGM_READ));
    if (loaded) {
        shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        shell_link->GetWorkingDirectory(folder, MAX_PATH);
        shell_link->GetIconLocation(icon, MAX_PATH, &icon_index);
        shell_link->GetDescription(text, MAX_PATH);
    }
    if (file) file->Release();
    shell_link->Release();
    if (!loaded) return line + "missing";
    return line + utf8(target) + "\t" + utf8(folder) + "\t" + utf8(icon) + "," +
           std::to_string(icon_index) + "\t" + utf8(text);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring links[2] = {known(FOLDERID_Programs, L"\\tarnwick\\tarnwick.lnk"),
                                   known(FOLDERID_Desktop, L"\\tarnwick.lnk")};
    const bool remove = argc > 1 && std::wstring(argv[1]) == L"--delete";
    for (const std::wstring& link : links) {
        if (remove)
            DeleteFileW(link.c_str());
        else
            std::printf("%s\n", describe(link).c_str());
    }
    CoUninitialize();
    return 0;
}
