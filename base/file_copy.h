#pragma once
// Copying an executable into place so that its final name never holds a
// partial copy: a cut-off copy would leave a launcher that cannot start.
#include <string>

// Copies `from` to "<to>.part", commits it to the disk, then moves that over
// `to` (replace-existing, write-through). False when either step fails; the ".part" is then removed
// and `to` is left as it was.
bool copy_file_replacing(const std::wstring& from, const std::wstring& to);

// The same from a file already open for reading (a HANDLE), read from its
// first byte: the copy is of the file that handle holds, whatever stands at
// its path by now.
bool copy_open_file_replacing(void* from, const std::wstring& to);
