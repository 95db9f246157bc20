#pragma once
#include <string>

// True when a process runs whose file name and full image path both equal
// exe_path, ignoring case.
bool game_running(const std::wstring& exe_path);
