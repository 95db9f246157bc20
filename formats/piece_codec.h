#pragma once
// Decoder for compressed pieces: the platform compressor's buffer framing
// (24-byte header, then chunks of at most 64 MiB) around LZ77+Huffman streams
// (the XPRESS-with-Huffman algorithm). Pure bytes in, bytes out; safe to call
// from many threads at once.
#include <cstddef>
#include <cstdint>

// Which check a body failed, so that a tool can say why and a log can tell a
// damaged download from a bad publish.
enum class PieceDecodeError {
    none,
    header,          // signature, header size, check byte, algorithm, or a total other than expected
    chunk_size,      // a chunk's stored size runs past the body
    table,           // a code-length table that is over-subscribed or empty, or an unassigned code
    match_offset,    // a match reaching back before the start of its chunk
    match_length,    // a match running past the end of its chunk, or a long length below 15
    truncated,       // the body ends before the output is complete
    trailing_bytes,  // bytes after the last chunk
};

// "header", "chunk size", "table", "match offset", "match length",
// "truncated", "trailing bytes" ("none" for none).
const char* piece_decode_error_text(PieceDecodeError error);

// Decodes a piece body into exactly raw_size bytes at out. Returns false on
// any malformed input (wrong header, a total other than raw_size, a chunk that
// does not decode to exactly its length, bytes after the last chunk, ...),
// with the failed check in *reason when reason is given.
// Never reads outside [in, in + in_size) nor writes outside
// [out, out + raw_size); on failure the contents of out are unspecified.
bool decompress_piece(const uint8_t* in, size_t in_size, uint8_t* out, size_t raw_size,
                      PieceDecodeError* reason = nullptr);

// The check byte of a framing header: the low 8 bits of the CRC-32 over every
// header byte except the check byte itself. `header` holds 24 bytes.
uint8_t piece_header_check_byte(const uint8_t* header);
