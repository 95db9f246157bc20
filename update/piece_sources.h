#pragma once
// Where the installed files hold pieces that an update needs. The saved
// manifest of the installed release says how each of its files is cut into
// pieces; a file whose install state record names the same hash and size is
// taken to hold those pieces, each at its offset. Every piece read from such a
// place is still checked against its id before it is used. Plain values in,
// plain values out.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// One place that should hold a piece's raw bytes.
struct PieceSource {
    std::string path;      // the installed file, as the manifest writes it
    int64_t offset = 0;    // where the piece begins in it
};

// For every job of `jobs`, the places of the saved manifest's files that
// should hold it: files recorded in `state` with the saved manifest's hash and
// size, and not left to the game (cache paths). A place whose piece is of
// another length than the job's raw_size is left out. Jobs without a place
// are absent from the result; a job's places keep the saved manifest's order.
std::unordered_map<std::string, std::vector<PieceSource>>
find_piece_sources(const Manifest& saved, const InstallState& state, const std::vector<PieceJob>& jobs);
