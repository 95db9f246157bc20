#pragma once
// Files the launcher does not own are never deleted (update/deletion_gate.h).
// When the install must move something it does not own out of a place the
// new release needs -- a folder where a file goes, a file where a folder
// goes, a file it has no record of -- that thing goes into "old" like any
// replaced file; just before the commit, the files in it that the launcher
// does not own (a player's saves, notes, mods, the game's own caches) move
// on to a place of their own beside it, "<path> (kept files)", and the log
// names that place. The journal lists these places, so a cut-off install
// brings the files back into "old" before it restores the old copies.
#include "update/deletion_gate.h"
#include "update/journal.h"

#include <string>

// Moves the files below old\<place.path> (or that file itself) that the
// launcher does not own to the kept place, keeping their layout. `moved`
// counts them. False when one could not be moved (it is then still in "old").
bool keep_unmanaged_files(const InstallFolder& folder, const KeptPlace& place, const OwnedFiles& owned, size_t& moved);

// Moves every file at the kept place back to old\<place.path>, then removes
// the kept place's empty folders. True when nothing is left to bring back.
bool bring_kept_files_back(const InstallFolder& folder, const KeptPlace& place);

// Moves the files below folder `from` into folder `to` at the same relative
// places, then removes what is left of `from` when it is empty. A file never
// replaces one already there: it takes a free name beside it. True when
// nothing is left at `from`.
bool merge_folder(const std::wstring& from, const std::wstring& to);

// Moves the files below the place of `path` (or that file itself) that
// `made` does not name to a free kept place beside it, logging where, then
// removes the folders this empties. True when nothing is left at the place.
bool keep_aside(const InstallFolder& folder, const std::string& path, const OwnedFiles& made);
