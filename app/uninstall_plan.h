#pragma once
// What an uninstall removes of the game, worked out from the install state
// alone: no files, no Windows. The state file is the only record of which
// files the launcher put there; anything else in the folder is the player's.
#include "formats/install_state.h"

#include <cstdint>
#include <string>
#include <vector>

// The installed game's size in KiB for the "Apps & features" list: the
// recorded file sizes summed and rounded up, held at the largest 32-bit value.
uint32_t installed_kib(const InstallState& state);

// The folders (relative, '/'-separated) that hold the recorded files, each
// once, every folder before any of its parents, so removing them in this
// order empties a tree from the bottom up. The install folder itself is not
// listed.
std::vector<std::string> folders_to_prune(const InstallState& state);
