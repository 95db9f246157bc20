#include "base/process_start.h"

#include "base/win_handles.h"

#include <vector>

bool start_process(const std::wstring& command_line)
{
    // CreateProcessW may write into the command line, so it gets a copy.
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    return true;
}
