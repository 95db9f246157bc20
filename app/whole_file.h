#pragma once
// Whole-file reads and crash-safe whole-file writes: the content goes to
// "<path>.part", is committed to disk, and only then replaces <path>, so a
// crash leaves either the old or the new content under the final name.
#include <string>

bool write_file_atomic(const std::wstring& path, const std::string& bytes);

// The whole content; empty when the file cannot be opened.
std::string read_whole_file(const std::wstring& path);

// Test seam: called after the ".part" file is committed and before it is
// moved over the target. Null in the product.
extern void (*before_atomic_move_hook)(const std::wstring& path);
