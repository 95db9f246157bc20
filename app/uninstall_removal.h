#pragma once
// The deletions an uninstall makes, each confined to the path it is given:
// a folder link (junction, symbolic link) met on the way is never followed,
// so nothing outside the folders the uninstall owns can be reached through
// one.
#include <string>
#include <vector>

// Deletes one file; a read-only one too. True when it is gone afterwards
// (including when it was never there).
bool remove_file(const std::wstring& path);

// True when a folder between `root` and `path` (path's own folder included,
// root excluded) is a link to somewhere else. path must lie below root.
bool passes_through_link(const std::wstring& root, const std::wstring& path);

// Deletes a folder with everything in it; a link inside is removed as a
// link, its target untouched. True when the folder is gone afterwards.
bool remove_tree(const std::wstring& folder);

// Removes a folder only when it is empty; never follows or removes a link.
void remove_empty_folder(const std::wstring& folder);

// The files below a folder, as full paths, sorted; links are not entered.
std::vector<std::wstring> files_below(const std::wstring& folder);
