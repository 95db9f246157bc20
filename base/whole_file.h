#pragma once
// Whole-file reads and crash-safe whole-file writes: the content goes to
// "<path>.part" and only then replaces <path>, so a crash leaves either the
// old or the new content under the final name.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Fills an open file (a HANDLE) with the new content; false on failure, with
// GetLastError() telling why.
using PartFill = std::function<bool(void* file)>;

// The one way the launcher replaces a whole file, in two steps that a caller
// replacing two files together may take apart:
// - write_part_file makes "<path>.part" anew, lets `fill` write it and
//   commits its bytes to the disk: a ".part" whose bytes are not on the disk
//   must never take the final name. A ".part" that could not be written whole
//   is removed.
// - move_part_into_place moves "<path>.part" over path with write-through: a
//   power cut leaves path with the old or the new content. A ".part" that
//   could not be moved stays whole; the next write replaces it.
// Both return false on failure, GetLastError() telling the first cause.
bool write_part_file(const std::wstring& path, const PartFill& fill);
bool write_part_file(const std::wstring& path, const std::string& bytes);   // fill: these bytes
bool move_part_into_place(const std::wstring& path);

// Both steps; on failure path is as it was and no ".part" is left.
bool replace_file_through_part(const std::wstring& path, const PartFill& fill);

// replace_file_through_part with bytes held in memory.
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
