#pragma once
// Decoder for compressed pieces: the platform compressor's buffer framing
// (24-byte header, then chunks of at most 64 MiB) around LZ77+Huffman streams
// (the XPRESS-with-Huffman algorithm). Pure bytes in, bytes out; safe to call
// from many threads at once.
#include <cstddef>
#include <cstdint>

// Decodes a piece body into exactly raw_size bytes at out. Returns false on
// any malformed input (wrong header, a total other than raw_size, a chunk that
// does not decode to exactly its length, bytes after the last chunk, ...).
// Never reads outside [in, in + in_size) nor writes outside
// [out, out + raw_size); on failure the contents of out are unspecified.
bool decompress_piece(const uint8_t* in, size_t in_size, uint8_t* out, size_t raw_size);

// The check byte of a framing header: the low 8 bits of the CRC-32 over every
// header byte except the check byte itself. `header` holds 24 bytes.
uint8_t piece_header_check_byte(const uint8_t* header);
