// Reads the launcher's shortcuts back through IShellLinkW, for the
// self-install tests.
//
//   shell_link_reader.exe            prints one line per shortcut (UTF-8)
//   shell_link_reader.exe --repair   prints the line of the repair shortcut
//   shell_link_reader.exe --delete   deletes all three shortcuts
//
// The lines, Start-menu link first, then the desktop link:
//   LINK<TAB>TARGET<TAB>WORKING FOLDER<TAB>ICON FILE,INDEX<TAB>DESCRIPTION
// (the repair shortcut's line ends in <TAB>ARGUMENTS)
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

std::string describe(const std::wstring& link, bool with_arguments)
{
    std::string line = utf8(link) + "\t";
    IShellLinkW* shell_link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell_link))))
        return line + "missing";
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {}, text[MAX_PATH] = {},
            arguments[MAX_PATH] = {};
    int icon_index = -1;
    bool loaded = GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                  SUCCEEDED(file->Load(link.c_str(), STGM_READ));
    if (loaded) {
        shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        shell_link->GetWorkingDirectory(folder, MAX_PATH);
        shell_link->GetIconLocation(icon, MAX_PATH, &icon_index);
        shell_link->GetDescription(text, MAX_PATH);
        shell_link->GetArguments(arguments, MAX_PATH);
    }
    if (file) file->Release();
    shell_link->Release();
    if (!loaded) return line + "missing";
    line += utf8(target) + "\t" + utf8(folder) + "\t" + utf8(icon) + "," + std::to_string(icon_index) + "\t" +
            utf8(text);
    if (with_arguments) line.append("\t").append(utf8(arguments));
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring links[2] = {known(FOLDERID_Programs, L"\\tarnwick\\tarnwick.lnk"),
                                   known(FOLDERID_Desktop, L"\\tarnwick.lnk")};
    const std::wstring repair = known(FOLDERID_Programs, L"\\tarnwick\\Repair tarnwick.lnk");
    const std::wstring option = argc > 1 ? argv[1] : L"";
    if (option == L"--repair") {
        std::printf("%s\n", describe(repair, true).c_str());
    } else if (option == L"--delete") {
        for (const std::wstring& link : links) DeleteFileW(link.c_str());
        DeleteFileW(repair.c_str());
    } else {
        for (const std::wstring& link : links) std::printf("%s\n", describe(link, false).c_str());
    }
    CoUninitialize();
    return 0;
}
