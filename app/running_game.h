#pragma once
#include <string>

// Whether the game is running: asked before a windowed run and before an
// uninstall, which both leave a running game alone.

// True when the game the install state names (or the default executable,
// when it names none) runs from the install folder.
bool game_is_running(const std::wstring& install_folder);
