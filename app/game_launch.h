#pragma once
#include "base/running_process.h"
#include "base/win_handles.h"
#include "formats/install_state.h"

#include <string>

// Starts the game that `state` records (run_exe, or DEFAULT_RUN_EXE when it
// names none, with run_args, "{app}" replaced by the install folder) in the
// install folder. Returns the game's process, empty when it did not start.
KernelHandle start_game(const std::wstring& install_folder, const InstallState& state);

// The arguments with every "{app}" replaced by the folder; the inserted text
// is not searched again.
std::string expand_app_placeholder(const std::string& args, const std::string& folder);
