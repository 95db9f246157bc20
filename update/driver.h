#pragma once
// One update run: journal recovery, manifest fetch and check, launcher
// self-update, planning and install. Leaves its outcome in the update status.
#include "formats/install_state.h"

#include <functional>
#include <string>

// The game's arguments when no install has recorded any yet (the executable
// is DEFAULT_RUN_EXE, base/settings.h); "{app}" is the install folder, filled
// in when the game starts.
inline constexpr const char* DEFAULT_RUN_ARGS =
    "--player --loading-window --clip-dem \"{app}\\data\\engine\\assets\\dem\\tahoe40.twdem\" "
    "--no-dome --granite --forest-spawn";

// Runs one update of the install folder; returns what is installed
// afterwards, for the game's start. before_pieces, when given, is called
// (and may wait) before the first piece is fetched.
InstallState run_update(const std::wstring& install_folder, std::function<void()> before_pieces = {});
