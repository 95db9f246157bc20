#pragma once
// The standard CRC-32 used by zlib, gzip and PNG (reflected polynomial
// 0xEDB88320, initial and final inversion).
#include <cstddef>
#include <cstdint>

// Continues a CRC over more bytes: crc32_update(crc32_update(0, a), b) equals
// the CRC of a followed by b. Start with 0.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);
