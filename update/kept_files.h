#pragma once
// Files the launcher does not manage are never deleted. When a release puts a
// file where a folder was (or a folder where a file was), whatever stands in
// the way is moved into "old" like any replaced file; just before the commit,
// the files in it that the install does not drop (a player's saves, notes,
// mods, the game's own caches) move on to a place of their own beside it, "<path> (kept files)", and
// the log names that place. The journal lists these places, so a cut-off
// install brings the files back into "old" before it restores the old copies.
#include "update/journal.h"

#include <string>
#include <unordered_set>

// The relative path of a free place for what stands at `path`: "<path> (kept
// files)", or with " 2", " 3", ... when that name is taken.
std::string free_kept_place(const std::string& path);

// Moves the files below old\<place.path> (or that file itself) that are not
// among the paths the install drops (`dropped`, relative paths) to the kept
// place, keeping their layout. `moved` counts them. False when one could not
// be moved (it is then still in "old").
bool keep_unmanaged_files(const KeptPlace& place, const std::unordered_set<std::string>& dropped,
                          size_t& moved);

// Moves every file at the kept place back to old\<place.path>, then removes
// the kept place's empty folders. True when nothing is left to bring back.
bool bring_kept_files_back(const KeptPlace& place);
