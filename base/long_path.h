#pragma once
// The form of a path that the file system takes at any length. Windows
// refuses a path of 260 characters or more unless it starts with "\\?\"
// (or the machine has long paths switched on, which most do not); in that
// form the system no longer tidies the path, so it must be absolute, use '\'
// only and hold no "." or ".." parts.
#include <string>

// "C:\a\b" -> "\\?\C:\a\b", "\\server\share\a" -> "\\?\UNC\server\share\a",
// with '/' turned into '\', doubled separators, "." and ".." parts removed
// and a trailing separator dropped. A path already in the "\\?\" or "\\.\"
// form comes back unchanged; so does a relative one (it has no long form).
std::wstring extended_path(const std::wstring& path);

// True when the system takes this path only in the long form: it is not in
// it, and has 260 characters or more.
bool too_long_for_short_form(const std::wstring& path);
