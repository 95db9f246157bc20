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

// One out-of-date file and how far this run got with its stage copy.
// Planning makes it with nothing staged, one slot per piece; the download
// step marks what it wrote, the assembly what it built.
struct StaleFile {
    const ManifestFile* file = nullptr;
    StageState stage = StageState::ToBuild;
    // Per piece: 1 when the download step has written the piece's verified
    // bytes into the stage copy ("<stage>.part" at the piece's offset), so
    // the assembly need not take it from the cache.
    std::vector<char> pieces_staged;

    // Not explicit: a manifest file, as a stale file, has nothing staged yet.
    StaleFile(const ManifestFile* f) : file(f), pieces_staged(f->pieces.size(), 0) {}

    // Back to nothing staged, for a step that looks at the stage afresh.
    void forget_stage()
    {
        stage = StageState::ToBuild;
        pieces_staged.assign(file->pieces.size(), 0);
    }
};

struct UpdatePlan {
    std::vector<StaleFile> stale_files;         // manifest order
    std::vector<std::string> paths_to_remove;   // byte order
    std::vector<PieceJob> jobs;                 // largest transfer_size first
    int64_t download_total = 0;
    int hashed_count = 0;
};
