#pragma once
// The arithmetic of update planning: which paths the engine leaves alone, how
// sizes are shown, how the pieces of the out-of-date files become the list of
// distinct downloads, how much disk an update needs, and what the comparison
// of one file with its record concludes. Plain values in, plain values out.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <cstdint>
#include <string>
#include <vector>

// True for paths below ".shadercache/" or "__pycache__/" at the top, or with
// "/__pycache__/" anywhere (exact, case-sensitive). The game regenerates these
// itself, so they are never hashed, replaced or removed.
bool is_cache_path(const std::string& path);

// "%.0f MB" below 2^30 bytes, "%.2f GB" from there on.
std::string format_size(int64_t bytes);

// Bytes of file data in piece k of a file of file_size bytes:
// min(file_size - k * piece_size, piece_size). Negative when the file lists
// more pieces than its size can fill.
int64_t piece_raw_size(int64_t file_size, size_t k, int64_t piece_size);

// One job per distinct piece id of the given files, in file and piece order;
// a repeated id keeps its first job (and that job's raw_size). The result is
// ordered by transfer_size, largest first; equal sizes keep their first-met
// order.
std::vector<PieceJob> build_piece_jobs(const std::vector<StaleFile>& files,
                                       int64_t piece_size);

int64_t download_total(const std::vector<PieceJob>& jobs);

// The downloaded pieces plus two copies of every out-of-date file (the stage
// copy and the old copy set aside while installing). Saturates instead of
// overflowing.
int64_t disk_space_needed(const UpdatePlan& plan);

// Recorded paths the manifest no longer lists, in the record map's order,
// without cache paths.
std::vector<std::string> removable_paths(const InstallState& state, const Manifest& manifest);

// What the comparison of one manifest file with the disk concludes before
// any hashing.
enum class FileVerdict { UpToDate, Stale, NeedsHash };

struct DiskFacts {
    bool present = false;     // attributes read and a non-zero write time
    int64_t size = 0;
    uint64_t write_time = 0;
};

// record is the install state's record of the file's path, or null.
FileVerdict judge_file(const ManifestFile& file, const DiskFacts& disk,
                       const InstalledFile* record);
