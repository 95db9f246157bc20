#pragma once
// What one update has to do, built by the planning step and read by the
// download, assembly and install steps.
#include "formats/manifest.h"

#include <cstdint>
#include <string>
#include <vector>

// One distinct piece to fetch.
struct PieceJob {
    std::string id;              // SHA-256 of the raw piece, 64 lowercase hex
    int64_t transfer_size = 0;   // bytes on the server
    int64_t raw_size = 0;        // bytes of file data the piece holds
    bool stored = false;         // the server's bytes are the raw bytes
};

// How far a stale file's stage copy got before the assembly step.
enum class StageState : uint8_t {
    ToBuild,        // the assembly builds it
    Staged,         // verified in the stage by this run; maybe not on the disk yet
    StagedOnDisk,   // verified in the stage and forced to the disk by this run
};

struct UpdatePlan {
    std::vector<const ManifestFile*> stale_files;   // manifest order
    std::vector<std::string> paths_to_remove;       // byte order
    std::vector<PieceJob> jobs;                     // largest transfer_size first
    int64_t download_total = 0;
    int hashed_count = 0;
    // One per stale file (same order), filled in by the download and assembly
    // steps; empty means nothing staged yet.
    std::vector<StageState> staged;
    // Per stale file and piece: 1 when the download step has written the
    // piece's verified bytes into the file's stage copy ("<stage>.part" at
    // the piece's offset), so the assembly need not take it from the cache.
    std::vector<std::vector<char>> pieces_staged;
};
