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

// Writes data as the whole content of a file made anew at path; a missing
// folder is made. A name already there is removed first, never written over:
// its bytes may be another name's too (a hard link). With `commit` the data
// is forced to the disk before the file is closed. False on failure;
// GetLastError() tells why, and no partial file is left under the name.
bool write_new_file(const std::wstring& path, const void* data, size_t size, bool commit);

// The size and last write time (in FILETIME units) of the file at path, as
// the file system reports them; false when it cannot be looked at.
bool file_size_and_time(const std::wstring& path, int64_t& size, uint64_t& write_time);

// The size of the file at path; -1 when it cannot be looked at.
int64_t file_size_of(const std::wstring& path);

// Positioned reads and writes on an open file handle (a HANDLE), in as many
// calls as it takes. False on a failed or short transfer.
bool write_at(void* file, int64_t offset, const void* data, size_t size);
bool read_at(void* file, int64_t offset, void* data, size_t size);

// The whole content; empty when the file cannot be opened or read.
std::string read_whole_file(const std::wstring& path);

// The same into a caller's buffer, whose memory is reused from call to call
// (large pieces read one after another then cost no new allocation).
// False when the file cannot be opened or read to its end, or holds more
// than max_bytes; data is then empty.
bool read_whole_file_into(const std::wstring& path, std::string& data, size_t max_bytes = SIZE_MAX);

// Commits the data of the named files to the disk, several at once, and
// returns the first failure's system error (0 when all succeeded). The
// flushes of different files overlap on the disk; doing them one by one
// would pay one disk round trip each.
unsigned long flush_files(const std::vector<std::wstring>& paths);

// Test seam: called after the ".part" file is committed and before it is
// moved over the target. Null in the product.
extern void (*before_atomic_move_hook)(const std::wstring& path);
