#pragma once
// The command lines by which one launcher process starts another. Paths are
// quoted whole, so blanks in them survive the OS's splitting.
#include <string>

// How a launcher file is started again after a swap (or, with both flags
// false, how the self-install starts the installed copy): the quoted path,
// then " --no-self-update", " --headless" and " --verify" when asked.
std::wstring relaunch_command_line(const std::wstring& exe, bool headless, bool no_self_update,
                                   bool verify = false);

// How the running launcher hands over to the new one beside it:
// "\"NEW\" --swap \"OLD\" PID", then " --headless" and " --verify" when
// asked, so that the relaunched launcher goes on with the run the player
// started.
std::wstring handover_command_line(const std::wstring& new_exe, const std::wstring& old_exe,
                                   unsigned long process_id, bool headless, bool verify = false);
