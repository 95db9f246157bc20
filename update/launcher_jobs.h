#pragma once
// The download list of a new launcher: its pieces in manifest order (not
// sorted by size, unlike a game update's), each with its share of the file.
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <vector>

// One job per piece of `launcher`, in order, raw size from its position in
// the file. A repeated id is listed once, at its first place, so that no two
// download threads ever write the same cache file.
std::vector<PieceJob> launcher_piece_jobs(const ManifestFile& launcher, int64_t piece_size);
