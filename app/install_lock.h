#pragma once
// One launcher per install folder. Two launchers on one folder (a double
// double-click, two shortcuts at once) would truncate each other's log and
// replay each other's journal while files are being moved. The first takes
// a named mutex derived from the folder's full path and keeps it for the
// whole run; the system releases it when the process ends, however it ends.
#include <string>

// Takes the install folder's lock for the rest of the process, waiting up to
// wait_ms for a launcher that is just ending (the copy started by the
// self-install follows the one that started it). False when another
// launcher holds it: the caller must then touch nothing in the folder.
bool take_install_lock(const std::wstring& folder, unsigned long wait_ms);
