#include "base/launcher_command_lines.h"

namespace {

// A '\' run just before the closing quote would escape it: doubled, the
// splitter reads it as that many '\' and the quote still ends the argument.
std::wstring quoted(const std::wstring& text)
{
    size_t trailing = 0;
    while (trailing < text.size() && text[text.size() - 1 - trailing] == L'\\') ++trailing;
    return L"\"" + text + std::wstring(trailing, L'\\') + L"\"";
}

std::wstring run_options(bool headless, bool verify, const std::wstring& max_rate)
{
    std::wstring options;
    if (headless) options += L" --headless";
    if (verify) options += L" --verify";
    if (!max_rate.empty()) options += L" --max-rate " + quoted(max_rate);
    return options;
}

}  // namespace

std::wstring relaunch_command_line(const std::wstring& exe, bool headless, bool no_self_update, bool verify,
                                   const std::wstring& max_rate)
{
    return quoted(exe) + (no_self_update ? L" --no-self-update" : L"") + run_options(headless, verify, max_rate);
}

std::wstring handover_command_line(const std::wstring& new_exe, const std::wstring& old_exe,
                                   unsigned long process_id, bool headless, bool verify, const std::wstring& max_rate)
{
    return quoted(new_exe) + L" --swap " + quoted(old_exe) + L" " + std::to_wstring(process_id) +
           run_options(headless, verify, max_rate);
}

std::wstring uninstall_command_line(const std::wstring& launcher, const std::wstring& folder, bool quiet)
{
    return quoted(launcher) + (quiet ? L" --uninstall --headless" : L" --uninstall") + L" --install-dir " +
           quoted(folder);
}
