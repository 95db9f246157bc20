#include "app/game_launch.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/update_status.h"
#include "base/win_handles.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace {

bool same_text_ignoring_case(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring file_name_of(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// True when the process runs from exactly exe_path (ignoring case). A process
// that cannot be opened for querying does not count.
bool process_image_is(DWORD pid, const std::wstring& exe_path)
{
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return false;
    wchar_t image[520] = {};
    DWORD size = 520;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) return false;
    return same_text_ignoring_case(image, exe_path.c_str());
}

}  // namespace

std::string expand_app_placeholder(const std::string& args, const std::string& folder)
{
    static const std::string placeholder = "{app}";
    std::string out;
    size_t from = 0;
    for (size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder, from)) {
        out.append(args, from, at - from);
        out += folder;
        from = at + placeholder.size();
    }
    out.append(args, from, std::string::npos);
    return out;
}

void* start_game()
{
    const InstallState& state = update_status.install_state;
    std::wstring exe = game_exe_path(install_dir, state.run_exe.empty() ? "tarnwick.exe" : state.run_exe);
    std::string args = expand_app_placeholder(state.run_args, to_utf8(install_dir));
    std::wstring command = L"\"" + exe + L"\" " + to_utf16(args);

    std::vector<wchar_t> writable(command.begin(), command.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        install_dir.c_str(), &startup, &info)) {
        DWORD error = GetLastError();
        log_line("could not start %s (error %lu)", to_utf8(exe).c_str(), error);
        return nullptr;
    }
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    AllowSetForegroundWindow(info.dwProcessId);
    log_line("started the game: %s", to_utf8(command).c_str());
    return process.release();
}

bool game_running(const std::wstring& exe_path)
{
    std::wstring name = file_name_of(exe_path);
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (same_text_ignoring_case(entry.szExeFile, name.c_str()) &&
            process_image_is(entry.th32ProcessID, exe_path))
            return true;
    }
    return false;
}
