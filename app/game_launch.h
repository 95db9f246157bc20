#pragma once
#include <string>

// Starts the game from the current install state's run_exe and run_args
// ("{app}" replaced by the install folder). Returns the process handle (the
// caller closes it) or null.
void* start_game();

// True when a process runs whose file name and full image path both equal
// exe_path, ignoring case.
bool game_running(const std::wstring& exe_path);

// The arguments with every "{app}" replaced by the folder; the inserted text
// is not searched again.
std::string expand_app_placeholder(const std::string& args, const std::string& folder);
