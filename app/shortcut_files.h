#pragma once
// The shortcuts the self-install makes, by place, and what one points at.
// COM must be initialised on the calling thread.
#include <string>
#include <vector>

// Programs\tarnwick\tarnwick.lnk, Programs\tarnwick\Repair tarnwick.lnk and
// Desktop\tarnwick.lnk; a place whose known folder cannot be looked up is
// left out.
std::vector<std::wstring> launcher_shortcuts();

// Makes every shortcut of launcher_shortcuts to the launcher file `target`,
// the repair shortcut with "--verify". Failures are ignored.
void make_launcher_shortcuts(const std::wstring& target);

// Programs\tarnwick, the Start-menu folder that holds the first two; empty
// when the known folder cannot be looked up.
std::wstring start_menu_folder();

// The file a shell link points at, as stored; empty when the link does not
// exist or will not load.
std::wstring shortcut_target(const std::wstring& link);
