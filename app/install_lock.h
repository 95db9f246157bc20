#pragma once
// One launcher per install folder. Two launchers on one folder (a double
// double-click, two shortcuts at once) would truncate each other's log and
// replay each other's journal while files are being moved. The first opens
// the file ".twlock" in the install folder without sharing and keeps it open
// for the whole run; the system closes it, and the file goes, when the
// process ends, however it ends. Only someone who may create files in the install folder can hold it:
// a name in the object namespace could be taken first by any user of the PC,
// and the player's launcher would then quietly do nothing.
#include <string>

// The lock file of an install folder.
std::wstring install_lock_path(const std::wstring& folder);

// Takes the install folder's lock for the rest of the process, waiting up to
// wait_ms for a launcher that is just ending. False when another launcher
// holds it: the caller must then touch nothing in the folder. A lock file
// that cannot be made at all (a folder without write access) does not stop
// the run once the wait is over: the update then fails on its own, with a
// message.
bool take_install_lock(const std::wstring& folder, unsigned long wait_ms);

// Lets go of the lock (its file goes with it): the uninstall's last step,
// so that an emptied install folder can be removed too.
void release_install_lock();

// Waits up to wait_ms for the process `process_id` to end (no wait when no
// such process runs): the copy started by the self-install lets the launcher
// that started it finish first.
void wait_for_process_end(unsigned long process_id, unsigned long wait_ms);
