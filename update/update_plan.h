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

struct UpdatePlan {
    std::vector<const ManifestFile*> stale_files;   // manifest order
    std::vector<std::string> paths_to_remove;       // byte order
    std::vector<PieceJob> jobs;                     // largest transfer_size first
    int64_t download_total = 0;
    int hashed_count = 0;
};
