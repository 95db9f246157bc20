#pragma once
// Encoder for compressed pieces: the buffer framing that the launcher's
// decoder (formats/piece_codec.h) reads, around LZ77+Huffman chunks.
#include <cstddef>
#include <cstdint>
#include <string>

// Compresses data into the buffer framing: chunks of 64 MiB, each an
// LZ77+Huffman stream, or stored raw when compressing would not make it
// smaller. Deterministic and thread-safe (all state is per call).
std::string compress_piece(const uint8_t* data, size_t size);
