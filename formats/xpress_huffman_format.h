#pragma once
// Constants of the compressed-piece format (the platform compressor's buffer
// framing around LZ77+Huffman chunks) and the one rule that both the decoder
// and the encoder must apply identically: where a Huffman block ends.
#include <cstddef>
#include <cstdint>

namespace xpress_huffman {

// Buffer framing.
inline constexpr uint8_t kSignature[4] = {0x0A, 0x51, 0xE5, 0xC0};
inline constexpr size_t kHeaderSize = 24;
inline constexpr size_t kCheckByteOffset = 6;
inline constexpr uint8_t kAlgorithm = 4;
inline constexpr uint64_t kChunkRawSize = 0x4000000;  // 64 MiB
inline constexpr size_t kChunkSizeFieldBytes = 4;

// LZ77+Huffman stream.
inline constexpr size_t kTableBytes = 256;  // two 4-bit code lengths per byte
inline constexpr unsigned kSymbolCount = 512;
inline constexpr unsigned kMaxCodeLength = 15;
inline constexpr unsigned kEndSymbol = 256;
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kMaxOffset = 65535;  // offset bit count 15: (1 << 15) + 0x7FFF

// Each block's output budget is counted from the output position at which its
// table was read. The block ends at the first symbol boundary at or past the
// returned position, so a match that runs over the budget moves every later
// block boundary along with it.
inline constexpr uint64_t kBlockOutputBudget = 65536;
constexpr uint64_t block_output_end(uint64_t block_start)
{
    return block_start + kBlockOutputBudget;
}

// The raw length of the chunk that starts at raw offset `done` of a piece.
constexpr uint64_t chunk_raw_length(uint64_t total, uint64_t done)
{
    return total - done < kChunkRawSize ? total - done : kChunkRawSize;
}

}  // namespace xpress_huffman
