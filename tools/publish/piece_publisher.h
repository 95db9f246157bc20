#pragma once
// Cuts files into pieces and puts every piece the server lacks into its piece
// folder, compressed when that makes it smaller. All cores work at once, each
// on one piece read from its file by offset, so memory stays at a few pieces
// per core whatever the size of the game.
#include "tools/publish/published_file.h"
#include "tools/publish/source_tree.h"

#include <string>
#include <vector>

struct PieceTotals {
    uint64_t pieces = 0;       // piece references, in all files
    uint64_t new_pieces = 0;   // piece files written by this run
    uint64_t new_bytes = 0;    // their size on the server
    uint64_t raw_bytes = 0;    // bytes of all files
};

// Fills `published` (one entry per source, same order) with the hash of each
// whole file and its pieces. On success every piece named there exists below
// `out` and has been flushed to disk.
bool publish_pieces(const std::vector<SourceFile>& sources, uint64_t piece_size,
                    const std::string& out, std::vector<PublishedFile>& published,
                    PieceTotals& totals, std::string& error);
