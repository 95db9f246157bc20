#pragma once
// Removing the installed launcher's file, which may be the running
// executable itself: Windows refuses to delete a file that a process runs
// from, but lets it be renamed within its volume.
#include <string>

// Deletes `launcher`. When this process runs from it, the file is moved
// instead into `parking` (a folder the uninstall may clear, on the same
// volume as a rule) and removed there at the next logon; when even the move
// fails, the file is left in place for the next logon's removal. True when
// nothing is left at `launcher`.
bool remove_launcher_file(const std::wstring& launcher, const std::wstring& parking);
