#pragma once
// Paths that come from the server or the state file become file-system paths
// below the install folder. Only plain relative paths are accepted, so
// nothing received can make the launcher touch a file outside that folder.
#include <string>

// Non-empty, '/'-separated, no leading slash or backslash, no drive letter or
// UNC prefix, no empty, "." or ".." segment, no backslash, no control
// character (bytes below 0x20 and 0x7F), no ':' (drive or stream syntax), no
// segment ending in '.' or ' ' (Windows strips those, so the name would alias
// another one: "a." is "a", "..." becomes "..").
bool is_safe_relative_path(const std::string& path);

// run_exe may use either slash and "." segments, but must stay relative and
// hold no ".." segment nor one ending in '.' or ' '.
bool is_safe_run_exe(const std::string& path);

// Exactly 64 lowercase hexadecimal characters.
bool is_piece_id(const std::string& id);
