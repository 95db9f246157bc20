#pragma once
// The command lines by which one launcher process starts another. Paths are
// quoted whole, so blanks in them survive the OS's splitting.
#include <string>

// How a launcher file is started again after a swap (or, with both flags
// false, how the self-install starts the installed copy): the quoted path,
// then " --no-self-update", " --headless" and " --verify" when asked, and
// " --max-rate RATE" when the run had a download limit (RATE non-empty), so
// the limit holds for the whole of what the player started.
std::wstring relaunch_command_line(const std::wstring& exe, bool headless, bool no_self_update,
                                   bool verify = false, const std::wstring& max_rate = {});

// How the running launcher hands over to the new one beside it:
// "\"NEW\" --swap \"OLD\" PID", then " --headless", " --verify" and
// " --max-rate RATE" when asked, so that the relaunched launcher goes on
// with the run the player started.
std::wstring handover_command_line(const std::wstring& new_exe, const std::wstring& old_exe,
                                   unsigned long process_id, bool headless, bool verify = false,
                                   const std::wstring& max_rate = {});

// The "Apps & features" uninstall command: the quoted launcher, "--uninstall"
// (and "--headless" for the quiet one) and "--install-dir" with the folder
// quoted so that the OS's splitting gives it back whole, a trailing '\'
// included.
std::wstring uninstall_command_line(const std::wstring& launcher, const std::wstring& folder, bool quiet);
