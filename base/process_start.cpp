#include "base/process_start.h"

#include <vector>

StartedProcess start_process_in(const std::wstring& command_line, const std::wstring& working_folder)
{
    // CreateProcessW may write into the command line, so it gets a copy.
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        working_folder.empty() ? nullptr : working_folder.c_str(), &startup, &info))
        return {};
    KernelHandle thread(info.hThread);
    return {KernelHandle(info.hProcess), info.dwProcessId};
}

bool start_process(const std::wstring& command_line)
{
    return static_cast<bool>(start_process_in(command_line, {}).process);
}
