#pragma once
// Paths that come from the server or the state file become file-system paths
// below the install folder. Only plain relative paths are accepted, so
// nothing received can make the launcher touch a file outside that folder.
#include <string>

// Non-empty, well-formed UTF-8, '/'-separated, no leading slash or
// backslash, no drive letter or UNC prefix, no empty, "." or ".." segment, no
// backslash, no control character (bytes below 0x20 and 0x7F), none of the
// characters Windows forbids in names (< > : " | ? *; ':' is also drive and
// stream syntax), no segment ending in '.' or ' ' (Windows strips those, so
// the name would alias another one: "a." is "a", "..." becomes ".."), and no
// segment that names a device (CON, NUL, COM1, ... with or without an
// extension), and no segment in the form of a short (8.3) name
// ("LAUNCH~1", "data~12.bin").
bool is_safe_relative_path(const std::string& path);

// run_exe may use either slash and "." segments, but must stay relative and
// otherwise follow the same rules.
bool is_safe_run_exe(const std::string& path);

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the
// superscript digits 1-3), in any ASCII case, alone or before an extension
// ("nul.txt", "Com1 .log"): Windows opens the device instead of a file.
bool is_reserved_device_name(const std::string& segment);

// A name of the form Windows gives as the short alias of a long one: at most
// eight bytes ending in '~' and digits, then at most one dot and three bytes
// ("PROGRA~1", "launch~1.exe"). On volumes that make short names it opens
// whichever long name holds that alias: another entry, or the launcher's own
// folder.
bool is_short_name_form(const std::string& segment);

// Exactly 64 lowercase hexadecimal characters.
bool is_piece_id(const std::string& id);
