#pragma once
// Starting another launcher process and letting it run on its own.
#include <string>

// CreateProcessW with the program taken from the command line's quoted first
// argument, no inherited handles, this process's environment and current
// folder. The handles are closed at once; true when the process started.
bool start_process(const std::wstring& command_line);
