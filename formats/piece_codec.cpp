#include "formats/piece_codec.h"

#include "formats/crc32.h"
#include "formats/xpress_huffman_format.h"

#include <algorithm>
#include <cstring>

namespace {
using namespace xpress_huffman;

uint32_t read_le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t read_le32(const uint8_t* p) { return read_le16(p) | read_le16(p + 2) << 16; }
uint64_t read_le64(const uint8_t* p) { return uint64_t(read_le32(p)) | uint64_t(read_le32(p + 4)) << 32; }

// Two-level decode table. The primary level is indexed by the next 11 bits of
// the stream; the few codes longer than that share a 16-entry subtable per
// 11-bit prefix, indexed by the 4 bits after it. An entry is 0 where no code
// is assigned (an incomplete table is legal, meeting such a code is not),
// kSubtableFlag | subtable index, or (symbol << 4) | code length.
constexpr unsigned kPrimaryBits = 11;
constexpr unsigned kSubtableBits = kMaxCodeLength - kPrimaryBits;
constexpr size_t kPrimaryEntries = size_t(1) << kPrimaryBits;
constexpr size_t kSubtableEntries = size_t(1) << kSubtableBits;
constexpr uint16_t kSubtableFlag = 0x8000;
// Every subtable holds at least one code, so there are never more than symbols.
constexpr size_t kDecodeTableEntries = kPrimaryEntries + kSymbolCount * kSubtableEntries;
static_assert(kSymbolCount << 4 < kSubtableFlag, "symbol and length must fit below the flag");

void fill(uint16_t* first, size_t count, uint16_t entry) { std::fill(first, first + count, entry); }

// Builds the decode table from a block's 256-byte code-length table. Fails on
// an over-subscribed code space or on a table without any code.
bool build_decode_table(const uint8_t* packed, uint16_t* table)
{
    uint8_t lengths[kSymbolCount];
    unsigned count[kMaxCodeLength + 1] = {};
    for (size_t i = 0; i < kTableBytes; ++i) {
        lengths[2 * i] = packed[i] & 0x0F;
        lengths[2 * i + 1] = packed[i] >> 4;
        ++count[lengths[2 * i]];
        ++count[lengths[2 * i + 1]];
    }
    if (count[0] == kSymbolCount)
        return false;
    int32_t unused_codes = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        unused_codes = unused_codes * 2 - int32_t(count[len]);
        if (unused_codes < 0)
            return false;
    }

    // Canonical order: by code length, then by symbol value.
    unsigned next_slot[kMaxCodeLength + 1] = {};
    for (unsigned len = 2; len <= kMaxCodeLength; ++len)
        next_slot[len] = next_slot[len - 1] + count[len - 1];
    uint16_t sorted[kSymbolCount];
    for (unsigned sym = 0; sym < kSymbolCount; ++sym)
        if (lengths[sym] != 0)
            sorted[next_slot[lengths[sym]]++] = uint16_t(sym);

    fill(table, kPrimaryEntries, 0);
    uint16_t* const subtables = table + kPrimaryEntries;
    unsigned subtable_count = 0;
    uint32_t code = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len, code <<= 1) {
        for (unsigned k = 0; k < count[len]; ++k, ++code) {
            const uint16_t entry = uint16_t(sorted[index++] << 4 | len);
            if (len <= kPrimaryBits) {
                const unsigned spread = kPrimaryBits - len;
                fill(table + (size_t(code) << spread), size_t(1) << spread, entry);
                continue;
            }
            uint16_t& slot = table[code >> (len - kPrimaryBits)];
            if (slot == 0) {
                slot = uint16_t(kSubtableFlag | subtable_count);
                fill(subtables + subtable_count * kSubtableEntries, kSubtableEntries, 0);
                ++subtable_count;
            } else if ((slot & kSubtableFlag) == 0) {
                return false;  // cannot happen for a prefix code; kept as a guard
            }
            uint16_t* sub = subtables + size_t(slot & ~kSubtableFlag) * kSubtableEntries;
            const unsigned spread = kMaxCodeLength - len;
            const uint32_t low = code & ((1u << (len - kPrimaryBits)) - 1);
            fill(sub + (size_t(low) << spread), size_t(1) << spread, entry);
        }
    }
    return true;
}

// Copies a match of `length` bytes from `offset` bytes back; the source may
// overlap the destination (a short offset repeats its pattern). The caller has
// checked that the source lies in the chunk and that dst + length <= limit.
inline void copy_match(uint8_t* dst, size_t offset, size_t length, const uint8_t* limit)
{
    uint8_t* const end = dst + length;
    const uint8_t* src = dst - offset;
    if (size_t(limit - end) < 16) {
        while (dst < end)
            *dst++ = *src++;
        return;
    }
    // Room for a 16-byte overshoot: copy in 16-byte steps whose source and
    // destination never overlap. A short period is first widened to a
    // multiple of itself of at least 16 bytes.
    if (offset < 16) {
        const size_t period = offset * ((16 + offset - 1) / offset);
        uint8_t* const widened = dst + (period - offset);
        while (dst < widened && dst < end)
            *dst++ = *src++;
        src = dst - period;
    }
    while (dst < end) {
        std::memcpy(dst, src, 16);
        dst += 16;
        src += 16;
    }
}

using Error = PieceDecodeError;

// Decodes one LZ77+Huffman stream of in_size bytes into exactly out_size
// bytes. The bit reader holds its valid bits at the top of `bits`: it loads
// two 16-bit words at the start of each block and one more whenever fewer
// than 16 valid bits remain, so `pos` (where raw length bytes and the next
// table are read) always sits right after the last word loaded.
Error decode_chunk(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size, uint16_t* table)
{
    size_t pos = 0;
    unsigned zero_words = 0;  // words supplied as zero bits past the end
    uint64_t bits = 0;
    unsigned valid = 0;
    auto load_word = [&]() -> bool {
        uint64_t word = 0;
        if (pos + 2 <= in_size)
            word = read_le16(in + pos);
        else if (zero_words++ == 2)
            return false;
        pos += 2;
        bits |= word << (48 - valid);
        valid += 16;
        return true;
    };

    size_t op = 0;
    for (;;) {
        if (pos > in_size || in_size - pos < kTableBytes)
            return Error::truncated;
        if (!build_decode_table(in + pos, table))
            return Error::table;
        pos += kTableBytes;
        bits = 0;
        valid = 0;
        if (!load_word() || !load_word())
            return Error::truncated;

        const size_t block_end = std::min<uint64_t>(out_size, block_output_end(op));
        while (op < block_end) {
            uint32_t entry = table[bits >> (64 - kPrimaryBits)];
            if (entry & kSubtableFlag) {
                const size_t low = (bits >> (64 - kMaxCodeLength)) & (kSubtableEntries - 1);
                entry = table[kPrimaryEntries + (entry & ~uint32_t(kSubtableFlag)) * kSubtableEntries + low];
            }
            if (entry == 0)
                return Error::table;
            const unsigned code_length = entry & 0x0F;
            const unsigned symbol = entry >> 4;
            bits <<= code_length;
            valid -= code_length;
            if (valid < 16 && !load_word())
                return Error::truncated;
            if (symbol < 256) {
                out[op++] = uint8_t(symbol);
                continue;
            }

            const unsigned match = symbol - 256;
            size_t length = match & 0x0F;
            const unsigned offset_bits = match >> 4;
            if (length == 15) {
                if (pos >= in_size)
                    return Error::truncated;
                length = in[pos++];
                if (length == 255) {
                    if (in_size - pos < 2)
                        return Error::truncated;
                    length = read_le16(in + pos);
                    pos += 2;
                    if (length == 0) {
                        if (in_size - pos < 4)
                            return Error::truncated;
                        length = read_le32(in + pos);
                        pos += 4;
                    }
                    if (length < 15)
                        return Error::match_length;
                } else {
                    length += 15;
                }
            }
            length += kMinMatch;
            // (bits >> 32) has 32 significant bits, so a shift by 32 (no
            // offset bits) is defined and yields 0.
            const size_t offset = size_t((bits >> 32) >> (32 - offset_bits)) + (size_t(1) << offset_bits);
            bits <<= offset_bits;
            valid -= offset_bits;
            if (valid < 16 && !load_word())
                return Error::truncated;
            if (offset > op)
                return Error::match_offset;
            if (length > out_size - op)
                return Error::match_length;
            copy_match(out + op, offset, length, out + out_size);
            op += length;
        }
        if (op == out_size)
            return Error::none;
    }
}

bool header_is_valid(const uint8_t* in)
{
    return std::memcmp(in, kSignature, sizeof kSignature) == 0 && read_le16(in + 4) == kHeaderSize &&
           in[7] == kAlgorithm && in[kCheckByteOffset] == piece_header_check_byte(in);
}
}  // namespace

uint8_t piece_header_check_byte(const uint8_t* header)
{
    const uint32_t crc = crc32_update(0, header, kCheckByteOffset);
    return uint8_t(crc32_update(crc, header + kCheckByteOffset + 1, kHeaderSize - kCheckByteOffset - 1));
}

const char* piece_decode_error_text(PieceDecodeError error)
{
    switch (error) {
    case Error::none: return "none";
    case Error::header: return "header";
    case Error::chunk_size: return "chunk size";
    case Error::table: return "table";
    case Error::match_offset: return "match offset";
    case Error::match_length: return "match length";
    case Error::truncated: return "truncated";
    case Error::trailing_bytes: return "trailing bytes";
    }
    return "unknown";
}

namespace {

Error decode_body(const uint8_t* in, size_t in_size, uint8_t* out, size_t raw_size)
{
    if (in == nullptr || in_size < kHeaderSize || !header_is_valid(in))
        return Error::header;
    const uint64_t total = read_le64(in + 8);
    if (total != raw_size || read_le64(in + 16) != chunk_raw_length(total, 0))
        return Error::header;

    uint16_t table[kDecodeTableEntries];
    size_t pos = kHeaderSize;
    uint64_t done = 0;
    while (done < total) {
        const size_t want = size_t(chunk_raw_length(total, done));
        if (in_size - pos < kChunkSizeFieldBytes)
            return Error::truncated;
        const size_t stored = read_le32(in + pos);
        pos += kChunkSizeFieldBytes;
        if (stored > in_size - pos)
            return Error::chunk_size;
        if (stored == want) {
            std::memcpy(out + done, in + pos, want);
        } else {
            const Error error = decode_chunk(in + pos, stored, out + done, want, table);
            if (error != Error::none)
                return error;
        }
        pos += stored;
        done += want;
    }
    return pos == in_size ? Error::none : Error::trailing_bytes;
}

}  // namespace

bool decompress_piece(const uint8_t* in, size_t in_size, uint8_t* out, size_t raw_size,
                      PieceDecodeError* reason)
{
    const Error error = decode_body(in, in_size, out, raw_size);
    if (reason)
        *reason = error;
    return error == Error::none;
}
