#pragma once
// Starting another process (the game, another launcher) and letting it run
// on its own.
#include "base/win_handles.h"

#include <string>

struct StartedProcess {
    KernelHandle process;   // empty when the process did not start
    unsigned long id = 0;
};

// CreateProcessW with the program taken from the command line's quoted first
// argument, no inherited handles, this process's environment, and
// working_folder as the current folder (this process's own when empty). The
// thread handle is closed at once. On failure GetLastError tells why.
StartedProcess start_process_in(const std::wstring& command_line, const std::wstring& working_folder);

// start_process_in this process's current folder, the process handle closed
// at once; true when the process started.
bool start_process(const std::wstring& command_line);
