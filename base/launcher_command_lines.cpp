#include "base/launcher_command_lines.h"

std::wstring relaunch_command_line(const std::wstring& exe, bool headless, bool no_self_update, bool verify)
{
    std::wstring line = L"\"" + exe + L"\"";
    if (no_self_update) line += L" --no-self-update";
    if (headless) line += L" --headless";
    if (verify) line += L" --verify";
    return line;
}

std::wstring handover_command_line(const std::wstring& new_exe, const std::wstring& old_exe,
                                   unsigned long process_id, bool headless, bool verify)
{
    std::wstring line = L"\"" + new_exe + L"\" --swap \"" + old_exe + L"\" " +
                        std::to_wstring(process_id);
    if (headless) line += L" --headless";
    if (verify) line += L" --verify";
    return line;
}
