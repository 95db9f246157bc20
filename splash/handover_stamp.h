#pragma once
// "presplash.txt" in the splash cache folder: when the launcher's splash
// started, in milliseconds since 1970-01-01 UTC, for the game's own loading
// window to continue from. The launcher only writes it.
#include <cstdint>
#include <string>

// Milliseconds since 1970-01-01 00:00 UTC from the precise system time.
int64_t unix_time_ms();

// Writes the stamp into cache_folder (created when missing); a stamp that
// cannot be written is skipped. True when it was written.
bool write_handover_stamp(const std::wstring& cache_folder);

// The same, into the splash cache folder under the temporary folder.
bool write_handover_stamp();
