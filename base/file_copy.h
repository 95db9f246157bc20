#pragma once
// Copying an executable into place so that its final name never holds a
// partial copy: a cut-off copy would leave a launcher that cannot start.
#include <string>

// Copies `from` into `to` through "<to>.part" (base/whole_file.h): the bytes
// reach the disk before the name does. False when either step fails; `to` is
// then left as it was and no ".part" stays.
bool copy_file_replacing(const std::wstring& from, const std::wstring& to);

// The same from a file already open for reading (a HANDLE), read from its
// first byte: the copy is of the file that handle holds, whatever stands at
// its path by now.
bool copy_open_file_replacing(void* from, const std::wstring& to);
