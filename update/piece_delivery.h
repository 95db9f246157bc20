#pragma once
// Where each downloaded piece goes. A piece is written once, straight into
// the stage copy of every out-of-date file that uses it: a file that is
// exactly one piece (its id is the file's hash, its length the file's size)
// gets the piece as its whole stage copy; a file of several pieces gets it
// in "<stage copy>.part" at the piece's offset (piece k starts at
// k x piece_size). The piece cache is kept for pieces that no file takes this
// way. Plain values in, plain values out.
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One place a piece is written to.
struct PieceTarget {
    size_t file = 0;      // index into the stale files
    size_t piece = 0;     // the piece's position in that file
    int64_t offset = 0;   // where it begins in the file
    bool whole = false;   // the file is exactly this piece (no ".part")
};

struct PieceDelivery {
    std::vector<PieceTarget> targets;   // in stale-file and piece order
    bool to_cache = false;              // some use of the piece reads it from the cache
};

// True when the file's one piece is the whole file.
bool is_one_piece_file(const ManifestFile& file, int64_t piece_size);

// One delivery per job, in job order. A job no stale file uses (the
// launcher's own pieces) goes to the cache. A place whose length differs from
// the job's (a manifest that lists one id at places of different lengths) is
// left to the cache as well, where the assembly finds the bytes not to match.
std::vector<PieceDelivery> plan_piece_delivery(const std::vector<StaleFile>& stale_files,
                                               const std::vector<PieceJob>& jobs, int64_t piece_size);
