#pragma once
// Whether two paths name the same thing: as text, by the file system's rule
// for names (ordinal, ignoring case over all of Unicode), or as files on
// disk, however the paths are spelled.
#include <string>
#include <string_view>

// True when the two texts are equal ignoring case, as the file system
// compares names.
bool same_path_text(std::wstring_view a, std::wstring_view b);

// True when `text` starts or ends with `part`, ignoring case as above.
bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view part);
bool ends_with_ignoring_case(std::wstring_view text, std::wstring_view part);

// True when both paths name one existing file or folder (same volume, same
// file id). False when either cannot be opened.
bool same_file(const std::wstring& a, const std::wstring& b);

// The same for a file already open (a HANDLE) and a path.
bool same_file(void* open_file, const std::wstring& path);
