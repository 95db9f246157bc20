#pragma once
// Removing the installed launcher's file, which may be the running
// executable itself: Windows refuses to delete a file that a process runs
// from, but lets it be renamed within its volume.
#include <string>

// Deletes `launcher`. When this process runs from it, the file is moved
// instead to a name of its own -- into `parking` (a folder the uninstall may
// clear), or, when that lies on another volume, beside itself -- and Windows
// deletes that one file at the next logon, through a per-user RunOnce value
// of the same name. The launcher's own name is free at once: a launcher
// installed there later is never the file that goes. True when nothing is
// left at `launcher`.
bool remove_launcher_file(const std::wstring& launcher, const std::wstring& parking);
