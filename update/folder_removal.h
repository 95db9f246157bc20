#pragma once
// Removing folders below the install folder.
#include <string>

// Deletes a folder and everything below it. Links inside are removed, never
// followed. True when nothing is left at the path. `point` names the test
// crash point passed after each deleted entry (null: none).
bool remove_tree(const std::wstring& folder, const char* point);

// Removes the folders below `folder`, and `folder` itself, that hold no file
// (links count as files); files are never deleted. True when nothing is left
// at the path.
bool remove_empty_folders(const std::wstring& folder);
