#pragma once
#include <string>
#include <vector>

// The process's start: command line, environment, log, then one of the roads.
// Returns the exit code.
int entry();

// The headless road after start-up: update, shots, exit code from the phase.
int run_headless(const std::wstring& install_folder, const std::vector<std::wstring>& shots);

// The exit code of a headless run that ended in `phase`.
int headless_exit_code(unsigned phase);
