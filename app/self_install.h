#pragma once
// Self-install: the launcher keeps one copy of itself at
// install_dir\launcher\tarnwick.exe, reached through Start-menu and desktop
// shortcuts. (self_install itself is one of the entry's roads, app/roads.h.)
#include <string>

// Creates or overwrites the shell link `link` to `target` with `arguments`:
// working folder the target's folder, the target's first icon, description
// "tarnwick". Failures are ignored; COM must be initialised on the calling
// thread.
void make_shortcut(const std::wstring& link, const std::wstring& target, const std::wstring& arguments = {});

// True when both paths name one existing file (same volume, same file id),
// however the paths are spelled. False when either cannot be opened.
bool same_file(const std::wstring& a, const std::wstring& b);
