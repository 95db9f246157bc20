#pragma once
// The game's entry in the per-user "Apps & features" list:
// HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tarnwick. One
// entry per user; it belongs to the install folder its InstallLocation names.
#include <string>

// Writes the whole entry for the launcher file `launcher` serving the
// install folder, with the version and size the state file records.
bool write_uninstall_entry(const std::wstring& install_folder, const std::wstring& launcher);

// After a successful update: DisplayVersion and EstimatedSize anew from the
// state file, when the entry belongs to that install folder.
void refresh_uninstall_entry(const std::wstring& install_folder);

// At start: an entry whose launcher file no longer exists is written anew
// for this install folder's launcher, when that one is there; a missing
// entry is written when this process is the installed launcher.
void repair_uninstall_entry(const std::wstring& install_folder);

// Deletes the entry when it belongs to that install folder (another
// folder's entry is left alone), and the remembered install folder when it
// is this one. True when no entry of this folder remains.
bool remove_uninstall_entry(const std::wstring& install_folder);
