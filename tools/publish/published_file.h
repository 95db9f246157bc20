#pragma once
// A file as the manifest describes it once its pieces are on the server.
#include <cstdint>
#include <string>
#include <vector>

struct PublishedPiece {
    std::string id;              // SHA-256 of the raw piece, lowercase hex
    int64_t transfer_size = 0;   // bytes of the piece file on the server
    bool stored = false;         // the piece file holds the raw bytes
};

struct PublishedFile {
    std::string path;
    std::string hash;   // SHA-256 of the whole file
    uint64_t size = 0;
    std::vector<PublishedPiece> pieces;
};

// Piece k of a file of `size` bytes covers [k * piece_size, min((k+1) * piece_size, size)).
inline uint64_t piece_count(uint64_t size, uint64_t piece_size)
{
    return size / piece_size + (size % piece_size != 0 ? 1 : 0);
}

inline uint64_t piece_raw_size(uint64_t size, uint64_t piece_size, uint64_t k)
{
    uint64_t start = k * piece_size;
    return size - start < piece_size ? size - start : piece_size;
}
