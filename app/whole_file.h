#pragma once
// Whole-file reads and crash-safe whole-file writes: the content goes to
// "<path>.part", is committed to disk, and only then replaces <path>, so a
// crash leaves either the old or the new content under the final name.
#include <string>

bool write_file_atomic(const std::wstring& path, const std::string& bytes);

// The whole content; empty when the file cannot be opened.
std::string read_whole_file(const std::wstring& path);

// The same into a caller's buffer, whose memory is reused from call to call
// (large pieces read one after another then cost no new allocation).
// False when the file cannot be opened; data is then empty.
bool read_whole_file_into(const std::wstring& path, std::string& data);

// Test seam: called after the ".part" file is committed and before it is
// moved over the target. Null in the product.
extern void (*before_atomic_move_hook)(const std::wstring& path);
