// Decoder tests on hand-built streams: every bit is placed by this file, so
// the decoder is checked against the format itself, not against our encoder.
#include "formats/crc32.h"
#include "formats/piece_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

void put_le(Bytes& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

// Writes LZ77+Huffman blocks symbol by symbol. The reader keeps two 16-bit
// words loaded ahead, so two word slots stay reserved and raw bytes go after
// them; a slot is filled once more than 16 bits are waiting.
class StreamBuilder {
public:
    // Ends the current block (if any) and starts one with these code lengths.
    StreamBuilder& block(const std::map<unsigned, unsigned>& lengths)
    {
        flush();
        uint8_t table[256] = {};
        for (auto [symbol, length] : lengths)
            table[symbol / 2] |= uint8_t(length << (symbol % 2 ? 4 : 0));
        out_.insert(out_.end(), table, table + 256);
        // Canonical codes: by length, then symbol.
        codes_.clear();
        uint32_t code = 0;
        for (unsigned len = 1; len <= 15; ++len, code <<= 1)
            for (auto [symbol, length] : lengths)
                if (length == len)
                    codes_[symbol] = {code++, len};
        next_bits_ = out_.size();
        next_bits2_ = next_bits_ + 2;
        out_.resize(out_.size() + 4);
        open_ = true;
        return *this;
    }
    // All 512 symbols with 9-bit codes: the code of a symbol is its value.
    StreamBuilder& flat_block()
    {
        std::map<unsigned, unsigned> all;
        for (unsigned s = 0; s < 512; ++s)
            all[s] = 9;
        return block(all);
    }
    StreamBuilder& symbol(unsigned s)
    {
        const auto [code, len] = codes_.at(s);
        return bits(code, len);
    }
    StreamBuilder& literals(const std::string& text)
    {
        for (unsigned char c : text)
            symbol(c);
        return *this;
    }
    // A match symbol with its raw length bytes and offset bits.
    StreamBuilder& match(uint64_t length, uint32_t offset)
    {
        unsigned offset_bits = 0;
        while ((offset >> (offset_bits + 1)) != 0)
            ++offset_bits;
        const uint64_t extra = length - 3;
        symbol(256 + (offset_bits << 4) + unsigned(extra < 15 ? extra : 15));
        if (extra >= 15) {
            if (extra - 15 < 255) {
                raw(extra - 15, 1);
            } else {
                raw(255, 1);
                if (extra <= 0xFFFF) {
                    raw(extra, 2);
                } else {
                    raw(0, 2);
                    raw(extra, 4);
                }
            }
        }
        return bits(offset - (1u << offset_bits), offset_bits);
    }
    StreamBuilder& bits(uint32_t value, unsigned count)
    {
        buffer_ = buffer_ << count | value;
        pending_ += count;
        if (pending_ > 16) {
            pending_ -= 16;
            put_word(next_bits_, uint16_t(buffer_ >> pending_));
            next_bits_ = next_bits2_;
            next_bits2_ = out_.size();
            out_.resize(out_.size() + 2);
        }
        return *this;
    }
    StreamBuilder& raw(uint64_t value, int bytes)
    {
        put_le(out_, value, bytes);
        return *this;
    }
    Bytes finish()
    {
        flush();
        return out_;
    }

private:
    void flush()
    {
        if (!open_)
            return;
        put_word(next_bits_, uint16_t(buffer_ << (16 - pending_)));
        put_word(next_bits2_, 0);
        buffer_ = 0;
        pending_ = 0;
        open_ = false;
    }
    void put_word(size_t at, uint16_t v)
    {
        out_[at] = uint8_t(v);
        out_[at + 1] = uint8_t(v >> 8);
    }

    Bytes out_;
    std::map<unsigned, std::pair<uint32_t, unsigned>> codes_;
    size_t next_bits_ = 0, next_bits2_ = 0;
    uint64_t buffer_ = 0;
    unsigned pending_ = 0;
    bool open_ = false;
};

void set_check_byte(Bytes& h)
{
    const uint32_t crc = crc32_update(0, h.data(), 6);
    h[6] = uint8_t(crc32_update(crc, h.data() + 7, 17));
}

Bytes header(uint64_t total, uint64_t chunk_size)
{
    Bytes h = {0x0A, 0x51, 0xE5, 0xC0, 24, 0, 0, 4};
    put_le(h, total, 8);
    put_le(h, chunk_size, 8);
    set_check_byte(h);
    return h;
}

constexpr uint64_t kChunk = 64ull << 20;

// Frames chunk bodies (each preceded by its stored size) for a total raw size.
Bytes frame(uint64_t total, const std::vector<Bytes>& chunks)
{
    Bytes out = header(total, total < kChunk ? total : kChunk);
    for (const Bytes& c : chunks) {
        put_le(out, c.size(), 4);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

std::optional<Bytes> decode(const Bytes& body, size_t raw_size)
{
    Bytes out(raw_size);
    if (!decompress_piece(body.data(), body.size(), out.data(), raw_size))
        return std::nullopt;
    return out;
}

// The check a body fails ("none" when it decodes).
std::string failure(const Bytes& body, size_t raw_size)
{
    Bytes out(raw_size);
    PieceDecodeError reason = PieceDecodeError::none;
    const bool ok = decompress_piece(body.data(), body.size(), out.data(), raw_size, &reason);
    EXPECT_EQ(ok, reason == PieceDecodeError::none);
    return piece_decode_error_text(reason);
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The obviously correct way to apply a match: one byte at a time.
void reference_match(Bytes& out, size_t length, size_t offset)
{
    for (size_t i = 0; i < length; ++i)
        out.push_back(out[out.size() - offset]);
}

Bytes pseudo_random(size_t n, uint32_t seed)
{
    Bytes out(n);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 23);
    }
    return out;
}
}  // namespace

TEST(PieceCodec, Crc32IsTheZlibOne)
{
    const std::string check = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(crc32_update(0, p, 9), 0xCBF43926u);
    EXPECT_EQ(crc32_update(crc32_update(0, p, 4), p + 4, 5), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, p, 0), 0u);
    // The header check byte is the low byte of that CRC without byte 6.
    const Bytes h = header(5, 5);
    Bytes without_check(h.begin(), h.begin() + 6);
    without_check.insert(without_check.end(), h.begin() + 7, h.end());
    EXPECT_EQ(h[6], uint8_t(crc32_update(0, without_check.data(), 23)));
    EXPECT_EQ(piece_header_check_byte(h.data()), h[6]);
}

TEST(PieceCodec, DecodesAStreamWrittenOutByHand)
{
    // Code lengths: 'a' (0x61) and symbol 256 one bit each, so 'a' = 0 and
    // 256 = 1. Symbol 256 is also a match: length 3, offset 1. Bits: 0 1.
    Bytes stream(256, 0);
    stream[0x30] = 0x10;
    stream[0x80] = 0x01;
    for (uint8_t b : {0x00, 0x40, 0x00, 0x00})
        stream.push_back(b);
    const Bytes body = frame(4, {stream});
    EXPECT_EQ(decode(body, 4), bytes_of("aaaa"));
    // A stream longer than the raw data is still a stream, not a stored chunk.
    EXPECT_GT(stream.size(), 4u);
}

TEST(PieceCodec, FramingHeaderIsChecked)
{
    const Bytes good = frame(5, {bytes_of("hello")});
    ASSERT_EQ(decode(good, 5), bytes_of("hello"));
    for (size_t i = 0; i < 24; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        EXPECT_EQ(failure(bad, 5), "header") << "header byte " << i;
    }
    // Correct check byte but wrong values.
    Bytes wrong_algorithm = good;
    wrong_algorithm[7] = 3;
    set_check_byte(wrong_algorithm);
    EXPECT_FALSE(decode(wrong_algorithm, 5));
    Bytes wrong_header_size = good;
    wrong_header_size[4] = 32;
    set_check_byte(wrong_header_size);
    EXPECT_FALSE(decode(wrong_header_size, 5));
    EXPECT_EQ(failure(good, 4), "header");
    EXPECT_EQ(failure(good, 6), "header");
    Bytes chunk_field = header(5, 4);
    put_le(chunk_field, 4, 4);
    chunk_field.insert(chunk_field.end(), {'h', 'e', 'l', 'l'});
    put_le(chunk_field, 1, 4);
    chunk_field.push_back('o');
    EXPECT_EQ(failure(chunk_field, 5), "header") << "chunk size field must be min(total, 64 MiB)";
    EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + 23), 0));
}

TEST(PieceCodec, EmptyPieceIsAHeaderAlone)
{
    const Bytes empty = header(0, 0);
    EXPECT_EQ(decode(empty, 0), Bytes{});
    uint8_t dummy = 0;
    EXPECT_TRUE(decompress_piece(empty.data(), empty.size(), &dummy, 0));
    Bytes trailing = empty;
    trailing.push_back(0);
    EXPECT_EQ(failure(trailing, 0), "trailing bytes");
    EXPECT_FALSE(decompress_piece(nullptr, 0, &dummy, 0));
}

TEST(PieceCodec, ChunkFraming)
{
    const Bytes stored = frame(5, {bytes_of("hello")});
    Bytes extra = stored;
    extra.push_back('!');
    EXPECT_EQ(failure(extra, 5), "trailing bytes");
    EXPECT_EQ(failure(Bytes(stored.begin(), stored.end() - 1), 5), "chunk size") << "chunk runs past the input";
    EXPECT_EQ(failure(Bytes(stored.begin(), stored.begin() + 26), 5), "truncated") << "cut size field";
    Bytes huge_size = stored;
    huge_size[24] = 0xFF, huge_size[25] = 0xFF, huge_size[26] = 0xFF, huge_size[27] = 0xFF;
    EXPECT_EQ(failure(huge_size, 5), "chunk size");

    // A stream may leave bytes unused at its end (the platform's compressor
    // does); only bytes after the last chunk are an error.
    Bytes stream = StreamBuilder().flat_block().literals("hi").symbol(256).finish();
    stream.insert(stream.end(), {1, 2, 3});
    EXPECT_EQ(decode(frame(2, {stream}), 2), bytes_of("hi"));
}

TEST(PieceCodec, TwoChunksWithALongMatchAcrossTheFirst)
{
    // 64 MiB of 'z' as one literal plus one match with a 32-bit length, then a
    // stored 3-byte tail chunk. The second chunk starts from an empty window.
    const uint64_t total = kChunk + 3;
    const Bytes first = StreamBuilder().flat_block().literals("z").match(kChunk - 1, 1).symbol(256).finish();
    ASSERT_LT(first.size(), 300u);
    const auto out = decode(frame(total, {first, bytes_of("end")}), size_t(total));
    ASSERT_TRUE(out);
    EXPECT_EQ(std::count(out->begin(), out->begin() + kChunk, 'z'), std::ptrdiff_t(kChunk));
    EXPECT_EQ(Bytes(out->begin() + kChunk, out->end()), bytes_of("end"));

    const Bytes reaches_back = StreamBuilder().flat_block().match(3, 1).finish();
    EXPECT_EQ(failure(frame(total, {first, reaches_back}), size_t(total)), "match offset")
        << "a match must not reach into the previous chunk";
}

TEST(PieceCodec, LengthEscapes)
{
    // Plain code, 8-bit escape (both ends), 16-bit escape (both ends), 32-bit.
    for (uint64_t length : {3ull, 17ull, 18ull, 272ull, 273ull, 65538ull, 65539ull, 200000ull}) {
        Bytes expected = bytes_of("ab");
        reference_match(expected, size_t(length), 2);
        const Bytes stream = StreamBuilder().flat_block().literals("ab").match(length, 2).symbol(256).finish();
        EXPECT_EQ(decode(frame(expected.size(), {stream}), expected.size()), expected) << length;
    }
    // A 16-bit or 32-bit length value below 15 is invalid; 15 itself is fine.
    auto escaped = [](int bytes, uint32_t value) {
        StreamBuilder b;
        b.flat_block().literals("a").symbol(256 + 15).raw(255, 1);
        if (bytes == 4)
            b.raw(0, 2);
        return b.raw(value, bytes).bits(0, 0).symbol(256).finish();
    };
    EXPECT_EQ(decode(frame(19, {escaped(2, 15)}), 19), Bytes(19, 'a'));
    EXPECT_EQ(decode(frame(19, {escaped(4, 15)}), 19), Bytes(19, 'a'));
    for (uint32_t low : {1u, 14u}) {
        EXPECT_EQ(failure(frame(1 + low + 3, {escaped(2, low)}), 1 + low + 3), "match length") << low;
        EXPECT_EQ(failure(frame(1 + low + 3, {escaped(4, low)}), 1 + low + 3), "match length") << low;
    }
    EXPECT_EQ(failure(frame(4, {escaped(4, 0)}), 4), "match length");
}

TEST(PieceCodec, EveryOffsetBitCount)
{
    // 65,535 literals then one match: the block's budget is reached inside the
    // match, so one table covers it all.
    const Bytes prefix = pseudo_random(65535, 7);
    for (unsigned bits = 0; bits <= 15; ++bits) {
        for (uint32_t offset : {1u << bits, (2u << bits) - 1}) {
            StreamBuilder b;
            b.flat_block();
            for (uint8_t c : prefix)
                b.symbol(c);
            b.match(40, offset).symbol(256);
            Bytes expected = prefix;
            reference_match(expected, 40, offset);
            EXPECT_EQ(decode(frame(expected.size(), {b.finish()}), expected.size()), expected) << offset;
        }
    }
}

TEST(PieceCodec, OverlappingAndShortMatches)
{
    // Every offset from 1 to 40 with lengths around the copy loop's 16-byte
    // steps, first far from the end of the output, then right at it.
    StreamBuilder b;
    b.flat_block();
    Bytes expected = pseudo_random(64, 3);
    for (uint8_t c : expected)
        b.symbol(c);
    for (uint32_t offset = 1; offset <= 40; ++offset)
        for (uint64_t length : {3u, 4u, 15u, 16u, 17u, 31u, 33u, 47u, 100u}) {
            b.match(length, offset);
            reference_match(expected, size_t(length), offset);
        }
    for (uint32_t offset = 1; offset <= 20; ++offset) {
        b.match(5, offset);
        reference_match(expected, 5, offset);
    }
    ASSERT_LT(expected.size(), 65536u);
    EXPECT_EQ(decode(frame(expected.size(), {b.symbol(256).finish()}), expected.size()), expected);
}

TEST(PieceCodec, MatchBoundsAreChecked)
{
    auto stream = [](uint64_t length, uint32_t offset) {
        return StreamBuilder().flat_block().literals("abc").match(length, offset).symbol(256).finish();
    };
    EXPECT_EQ(decode(frame(6, {stream(3, 3)}), 6), bytes_of("abcabc")) << "offset reaching the chunk start";
    EXPECT_EQ(failure(frame(7, {stream(4, 4)}), 7), "match offset") << "offset before the chunk start";
    EXPECT_EQ(failure(frame(6, {stream(4, 3)}), 6), "match length") << "match past the end of the output";
    EXPECT_EQ(failure(frame(60, {stream(4, 3)}), 60), "truncated") << "stream ends before the output is complete";
    // Output overrun by a long match near the end of a large buffer.
    EXPECT_EQ(failure(frame(1000, {stream(998, 1)}), 1000), "match length");
}

TEST(PieceCodec, CodeLengthTables)
{
    // Over-subscribed: three one-bit codes.
    EXPECT_EQ(failure(frame(1, {StreamBuilder().block({{'a', 1}, {'b', 1}, {256, 1}}).finish()}), 1), "table");
    // Over-subscribed only at the longest length.
    std::map<unsigned, unsigned> deep;
    for (unsigned s = 0; s < 15; ++s)
        deep[s] = s + 1;
    deep[15] = 15;
    deep[16] = 15;
    EXPECT_EQ(failure(frame(1, {StreamBuilder().block(deep).finish()}), 1), "table");
    // No code at all.
    EXPECT_EQ(failure(frame(1, {StreamBuilder().block({}).finish()}), 1), "table");
    // One symbol alone leaves half the code space unassigned: fine until a
    // bit pattern in that half turns up.
    EXPECT_EQ(decode(frame(3, {StreamBuilder().block({{'q', 1}}).literals("qqq").finish()}), 3), bytes_of("qqq"));
    EXPECT_EQ(failure(frame(3, {StreamBuilder().block({{'q', 1}}).literals("q").bits(1, 1).finish()}), 3), "table");
    // 'b' is 10000000000000; 100000000001000 shares its first 11 bits but is
    // not assigned (the hole sits in the second-level table).
    const Bytes deep_hole = StreamBuilder().block({{'a', 1}, {'b', 14}}).literals("ab").bits(0x4008, 15).finish();
    EXPECT_EQ(failure(frame(3, {deep_hole}), 3), "table");
}

TEST(PieceCodec, CodesOfEveryLength)
{
    // Lengths 1..15 plus a second 15: a complete code whose long codes go
    // through the second-level table.
    std::map<unsigned, unsigned> lengths;
    std::string alphabet = "ABCDEFGHIJKLMNOP";
    for (unsigned i = 0; i < 15; ++i)
        lengths[unsigned(alphabet[i])] = i + 1;
    lengths[unsigned(alphabet[15])] = 15;
    lengths[256] = 0;
    std::string text;
    for (int round = 0; round < 3; ++round)
        text += round == 1 ? std::string(alphabet.rbegin(), alphabet.rend()) : alphabet;
    const Bytes stream = StreamBuilder().block(lengths).literals(text).finish();
    EXPECT_EQ(decode(frame(text.size(), {stream}), text.size()), bytes_of(text));
}

TEST(PieceCodec, BlockBudgetFollowsTheOutput)
{
    // Block 1 ends with a match that runs 60 bytes past its 65,536-byte
    // budget; block 2's budget then counts from there, so block 3 starts at
    // 65,596 + 65,536 and not on a 64 KiB grid.
    const Bytes seed = pseudo_random(65526, 11);
    auto build = [&](size_t block3_at, Bytes& expected) {
        StreamBuilder b;
        b.flat_block();
        expected = seed;
        for (uint8_t c : seed)
            b.symbol(c);
        b.match(70, 1000);
        reference_match(expected, 70, 1000);
        b.block({{'x', 1}, {'y', 1}});  // second block: only x and y
        while (expected.size() < block3_at) {
            const char c = expected.size() % 3 ? 'x' : 'y';
            b.literals(std::string(1, c));
            expected.push_back(uint8_t(c));
        }
        b.block({{'z', 1}, {256, 1}});
        for (int i = 0; i < 100; ++i)
            b.literals("z");
        expected.insert(expected.end(), 100, 'z');
        return b.symbol(256).finish();
    };
    Bytes expected;
    const Bytes right = build(65596 + 65536, expected);
    EXPECT_EQ(decode(frame(expected.size(), {right}), expected.size()), expected);
    const Bytes grid = build(2 * 65536, expected);
    EXPECT_NE(decode(frame(expected.size(), {grid}), expected.size()), std::optional<Bytes>(expected));
}

TEST(PieceCodec, ReadingPastTheEndOfAStream)
{
    // Literal 0 has the code "0", so zero bits past the end decode as zeros.
    // The reader starts with two words and keeps 16 bits ahead: with no word
    // present at all, 16 symbols fit in the two zero words it may invent; the
    // 17th needs a third.
    const Bytes table_only = StreamBuilder().block({{0, 1}, {256, 1}}).finish();
    const Bytes bare(table_only.begin(), table_only.begin() + 256);
    EXPECT_EQ(decode(frame(16, {bare}), 16), Bytes(16, 0));
    EXPECT_EQ(failure(frame(17, {bare}), 17), "truncated");
    Bytes one_word = bare;
    one_word.insert(one_word.end(), {0, 0});
    EXPECT_EQ(decode(frame(32, {one_word}), 32), Bytes(32, 0));
    EXPECT_EQ(failure(frame(33, {one_word}), 33), "truncated");
    EXPECT_EQ(failure(frame(1, {Bytes(bare.begin(), bare.end() - 1)}), 1), "truncated") << "table cut short";

    // A raw length byte past the end is an error even though bits are not.
    Bytes raw_needed = StreamBuilder().flat_block().literals("a").symbol(256 + 15).finish();
    EXPECT_EQ(failure(frame(100, {raw_needed}), 100), "truncated");
}

TEST(PieceCodec, EveryTruncationOfAValidStreamFails)
{
    StreamBuilder b;
    b.flat_block().literals("truncate me, truncate me!").match(300, 13).match(70000, 1);
    b.block({{'.', 1}, {256, 1}}).literals("..").symbol(256);
    const Bytes stream = b.finish();
    const size_t raw = 25 + 300 + 70000 + 2;
    const Bytes whole = frame(raw, {stream});
    const auto expected = decode(whole, raw);
    ASSERT_TRUE(expected);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        Bytes shorter(whole.begin(), whole.begin() + cut);
        if (cut >= 28) {  // keep the chunk size consistent with the cut
            for (int i = 0; i < 4; ++i)
                shorter[24 + i] = uint8_t((cut - 28) >> (8 * i));
        }
        // The last two words hold only the end symbol and padding, which
        // the invented zero words replace exactly ('.' is code 0).
        if (cut + 4 >= whole.size())
            EXPECT_EQ(decode(shorter, raw), expected) << cut;
        else
            EXPECT_FALSE(decode(shorter, raw)) << cut;
    }
}
