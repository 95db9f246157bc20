#pragma once
// Whole-file reads and crash-safe whole-file writes: the content goes to
// "<path>.part" and only then replaces <path>, so a crash leaves either the
// old or the new content under the final name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes bytes to "<path>.part", commits them to the disk and moves the file
// over path with write-through: after a power cut path holds the old or the
// new content. False on any failure; GetLastError() then tells why (a
// ".part" may stay behind; the next write replaces it).
bool write_file_atomic(const std::wstring& path, const std::string& bytes);

// Writes all of data to an open file handle (a HANDLE), in as many calls as
// it takes. False on a failed or empty write; GetLastError() tells why.
bool write_to_handle(void* file, const void* data, size_t size);

// The whole content; empty when the file cannot be opened.
std::string read_whole_file(const std::wstring& path);

// The same into a caller's buffer, whose memory is reused from call to call
// (large pieces read one after another then cost no new allocation).
// False when the file cannot be opened, or holds more than max_bytes; data
// is then empty.
bool read_whole_file_into(const std::wstring& path, std::string& data, size_t max_bytes = SIZE_MAX);

// Commits the data of the named files to the disk, several at once, and
// returns the first failure's system error (0 when all succeeded). The
// flushes of different files overlap on the disk; doing them one by one
// would pay one disk round trip each.
unsigned long flush_files(const std::vector<std::wstring>& paths);

// Test seam: called after the ".part" file is committed and before it is
// moved over the target. Null in the product.
extern void (*before_atomic_move_hook)(const std::wstring& path);
