#include "tools/publish/piece_encoder.h"

#include "formats/piece_codec.h"
#include "formats/xpress_huffman_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {
using namespace xpress_huffman;

// Match search effort, close to gzip's default level: a 3-byte hash with
// chains, lazy evaluation of the next position, and a search that stops at a
// "nice" length (the match found is still extended as far as it goes).
constexpr unsigned kHashBits = 16;
constexpr size_t kWindowSlots = 65536;  // > kMaxOffset, power of two
constexpr unsigned kMaxChain = 32;
constexpr size_t kGoodLength = 8;      // a previous match this long quarters the search
constexpr size_t kMaxLazy = 16;        // a previous match this long is taken without looking further
constexpr size_t kNiceLength = 128;
constexpr size_t kTooFar = 4096;       // a 3-byte match further back costs more than three literals
constexpr size_t kMaxInsertRun = 1024; // positions hashed at the end of a very long match

// A literal (length 0, value = byte) or a match (length >= 3, value = offset).
struct Token {
    uint32_t length;
    uint32_t value;
};

uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Produces the LZ77 parse of one chunk, one token at a time.
class MatchFinder {
public:
    MatchFinder(const uint8_t* data, size_t size)
        : data_(data), size_(size), head_(size_t(1) << kHashBits, -1), prev_(kWindowSlots, -1)
    {
    }

    // Call only while the tokens so far cover less than the whole chunk.
    Token next()
    {
        for (;;) {
            if (pos_ >= size_) {
                // Only a pending position can remain here.
                pending_ = false;
                if (pending_length_ >= kMinMatch)
                    return Token{uint32_t(pending_length_), pending_offset_};
                return Token{0, data_[pos_ - 1]};
            }
            size_t length = 0;
            uint32_t offset = 0;
            const int32_t candidate = insert(pos_);
            if (!pending_ || pending_length_ < kMaxLazy)
                length = longest_match(candidate, std::max<size_t>(pending_ ? pending_length_ : 0, kMinMatch - 1), offset);
            if (length == kMinMatch && offset > kTooFar)
                length = 0;

            if (pending_ && pending_length_ >= kMinMatch && length <= pending_length_) {
                // The match that starts one position back wins.
                const size_t start = pos_ - 1;
                const size_t end = start + pending_length_;
                insert_range(pos_ + 1, end);
                pos_ = end;
                pending_ = false;
                return Token{uint32_t(pending_length_), pending_offset_};
            }
            const bool emit_literal = pending_;
            pending_ = true;
            pending_length_ = length;
            pending_offset_ = offset;
            ++pos_;
            if (emit_literal)
                return Token{0, data_[pos_ - 2]};
        }
    }

private:
    uint32_t hash(size_t p) const
    {
        const uint32_t v = uint32_t(data_[p]) << 16 | uint32_t(data_[p + 1]) << 8 | data_[p + 2];
        return (v * 0x9E3779B1u) >> (32 - kHashBits);
    }

    // Hashes position p; returns the previous head of its chain (-1 if none).
    int32_t insert(size_t p)
    {
        if (p + kMinMatch > size_)
            return -1;
        const uint32_t h = hash(p);
        const int32_t old = head_[h];
        prev_[p & (kWindowSlots - 1)] = old;
        head_[h] = int32_t(p);
        return old;
    }

    // Hashes [from, to); of a very long run only the tail, which is what
    // later matches can still reach cheaply.
    void insert_range(size_t from, size_t to)
    {
        if (to > from + kMaxInsertRun)
            from = to - kMaxInsertRun;
        for (size_t p = from; p < to; ++p)
            insert(p);
    }

    size_t common_length(const uint8_t* a, const uint8_t* b, size_t limit) const
    {
        size_t n = 0;
        while (n + 8 <= limit) {
            const uint64_t diff = load64(a + n) ^ load64(b + n);
            if (diff != 0)
                return n + size_t(std::countr_zero(diff) >> 3);
            n += 8;
        }
        while (n < limit && a[n] == b[n])
            ++n;
        return n;
    }

    // Longest match for pos_ along the chain from `candidate` that beats
    // `best`; 0 when none does.
    size_t longest_match(int32_t candidate, size_t best, uint32_t& offset) const
    {
        const size_t limit = size_ - pos_;
        if (limit <= best)
            return 0;
        const size_t nice = std::min(kNiceLength, limit);
        unsigned chain = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
        const uint8_t* here = data_ + pos_;
        size_t found = 0;
        for (int32_t cur = candidate; cur >= 0 && pos_ - size_t(cur) <= kMaxOffset && chain-- > 0;) {
            const uint8_t* there = data_ + cur;
            if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
                const size_t length = common_length(there, here, limit);
                if (length > best) {
                    best = found = length;
                    offset = uint32_t(pos_ - size_t(cur));
                    if (length >= nice)
                        break;
                }
            }
            const int32_t next = prev_[size_t(cur) & (kWindowSlots - 1)];
            if (next >= cur)
                break;  // slot reused by a newer position: the chain ends here
            cur = next;
        }
        return found;
    }

    const uint8_t* data_;
    size_t size_;
    std::vector<int32_t> head_;
    std::vector<int32_t> prev_;
    size_t pos_ = 0;
    bool pending_ = false;  // position pos_ - 1 is parsed but not yet emitted
    size_t pending_length_ = 0;
    uint32_t pending_offset_ = 0;
};

unsigned symbol_of(const Token& t)
{
    if (t.length == 0)
        return t.value;
    const unsigned offset_bits = unsigned(std::bit_width(t.value)) - 1;
    return 256 + (offset_bits << 4) + std::min<unsigned>(t.length - kMinMatch, 15);
}

// Huffman code lengths no longer than kMaxCodeLength for the symbols with a
// non-zero frequency. A lone symbol gets a partner so that the code is
// complete. Over-long codes are avoided by flattening the frequencies and
// building again, which costs little because it is rare.
void build_code_lengths(const uint32_t* freq, uint8_t* lengths)
{
    std::vector<uint64_t> weight;
    std::vector<uint16_t> symbols;
    for (unsigned s = 0; s < kSymbolCount; ++s)
        if (freq[s] != 0)
            symbols.push_back(uint16_t(s));
    std::fill(lengths, lengths + kSymbolCount, 0);
    if (symbols.size() < 2) {
        const unsigned only = symbols.empty() ? kEndSymbol : symbols[0];
        lengths[only] = 1;
        lengths[only == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(symbols.begin(), symbols.end(),
              [&](uint16_t a, uint16_t b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });
    const size_t n = symbols.size();
    weight.resize(2 * n - 1);
    for (size_t i = 0; i < n; ++i)
        weight[i] = freq[symbols[i]];
    std::vector<size_t> parent(2 * n - 1);
    std::vector<uint8_t> depth(2 * n - 1);
    for (;;) {
        // Two-queue construction: leaves in [0, n) sorted, internal nodes
        // appended in non-decreasing weight order.
        size_t leaf = 0, inner = n;
        auto take = [&](size_t made) {
            if (leaf < n && (inner >= made || weight[leaf] <= weight[inner]))
                return leaf++;
            return inner++;
        };
        for (size_t made = n; made < 2 * n - 1; ++made) {
            const size_t a = take(made), b = take(made);
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made;
        }
        depth[2 * n - 2] = 0;
        unsigned deepest = 0;
        for (size_t i = 2 * n - 2; i-- > 0;) {
            depth[i] = uint8_t(depth[parent[i]] + 1);
            deepest = std::max<unsigned>(deepest, depth[i]);
        }
        if (deepest <= kMaxCodeLength) {
            for (size_t i = 0; i < n; ++i)
                lengths[symbols[i]] = depth[i];
            return;
        }
        for (size_t i = 0; i < n; ++i)
            weight[i] = (weight[i] + 1) >> 1;  // stays sorted, stays >= 1
    }
}

void canonical_codes(const uint8_t* lengths, uint16_t* codes)
{
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < kSymbolCount; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 1] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; ++len)
        next[len] = (next[len - 1] + count[len - 1]) << 1;
    for (unsigned s = 0; s < kSymbolCount; ++s)
        if (lengths[s] != 0)
            codes[s] = uint16_t(next[lengths[s]]++);
}

// Writes a block's bit stream the way the decoder reads it: the reader is
// always two 16-bit words ahead, so two word slots stay reserved and raw
// bytes go after them; a slot is filled once more than 16 bits wait.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out), next_bits_(0), next_bits2_(2), next_byte_(4) {}

    void put_bits(uint32_t value, unsigned count)
    {
        buffer_ = buffer_ << count | value;
        pending_ += count;
        if (pending_ > 16) {
            pending_ -= 16;
            put_word(next_bits_, uint16_t(buffer_ >> pending_));
            next_bits_ = next_bits2_;
            next_bits2_ = next_byte_;
            next_byte_ += 2;
        }
    }
    void put_byte(uint8_t b) { out_[next_byte_++] = b; }
    void put_le16(uint32_t v)
    {
        put_word(next_byte_, uint16_t(v));
        next_byte_ += 2;
    }
    void put_le32(uint32_t v)
    {
        put_le16(v & 0xFFFF);
        put_le16(v >> 16);
    }
    // Fills both reserved slots; returns the bytes written in all.
    size_t finish()
    {
        put_word(next_bits_, uint16_t(buffer_ << (16 - pending_)));
        put_word(next_bits2_, 0);
        return next_byte_;
    }

private:
    void put_word(size_t at, uint16_t v)
    {
        out_[at] = uint8_t(v);
        out_[at + 1] = uint8_t(v >> 8);
    }

    uint8_t* out_;
    size_t next_bits_, next_bits2_, next_byte_;
    uint32_t buffer_ = 0;
    unsigned pending_ = 0;
};

// Upper bound of a block's encoded size: table, two final words, and per
// token at most 15 + 15 bits and 7 raw length bytes.
size_t block_size_bound(size_t tokens) { return kTableBytes + 8 + tokens * 12; }

// Appends one block (its table and bit stream) at out[0..]; returns its size.
size_t encode_block(const std::vector<Token>& tokens, bool last, uint8_t* out)
{
    uint32_t freq[kSymbolCount] = {};
    for (const Token& t : tokens)
        ++freq[symbol_of(t)];
    if (last)
        ++freq[kEndSymbol];
    uint8_t lengths[kSymbolCount];
    uint16_t codes[kSymbolCount] = {};
    build_code_lengths(freq, lengths);
    canonical_codes(lengths, codes);
    for (size_t i = 0; i < kTableBytes; ++i)
        out[i] = uint8_t(lengths[2 * i] | lengths[2 * i + 1] << 4);

    BitWriter writer(out + kTableBytes);
    for (const Token& t : tokens) {
        const unsigned symbol = symbol_of(t);
        writer.put_bits(codes[symbol], lengths[symbol]);
        if (t.length == 0)
            continue;
        const uint32_t extra = t.length - kMinMatch;
        if (extra >= 15) {
            if (extra - 15 < 255) {
                writer.put_byte(uint8_t(extra - 15));
            } else {
                writer.put_byte(255);
                if (extra <= 0xFFFF) {
                    writer.put_le16(extra);
                } else {
                    writer.put_le16(0);
                    writer.put_le32(extra);
                }
            }
        }
        const unsigned offset_bits = (symbol - 256) >> 4;
        writer.put_bits(t.value - (1u << offset_bits), offset_bits);
    }
    if (last)
        writer.put_bits(codes[kEndSymbol], lengths[kEndSymbol]);
    return kTableBytes + writer.finish();
}

// Compresses one chunk into `out`; false when the result would not be
// smaller than the chunk (the caller then stores it raw).
bool compress_chunk(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    MatchFinder finder(data, size);
    std::vector<Token> tokens;
    tokens.reserve(kBlockOutputBudget + 1);
    size_t used = 0;
    uint64_t pos = 0;
    while (pos < size) {
        const uint64_t block_end = block_output_end(pos);
        tokens.clear();
        while (pos < size && pos < block_end) {
            const Token t = finder.next();
            tokens.push_back(t);
            pos += t.length == 0 ? 1 : t.length;
        }
        const size_t need = used + block_size_bound(tokens.size());
        if (out.size() < need)
            out.resize(std::max(need, out.size() * 2));
        used += encode_block(tokens, pos == size, out.data() + used);
        if (used >= size)
            return false;
    }
    out.resize(used);
    return true;
}

void append_le(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char(uint8_t(v >> (8 * i))));
}
}  // namespace

std::string compress_piece(const uint8_t* data, size_t size)
{
    std::string out;
    out.append(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
    append_le(out, kHeaderSize, 2);
    out.push_back(0);  // check byte, set below
    out.push_back(char(kAlgorithm));
    append_le(out, size, 8);
    append_le(out, chunk_raw_length(size, 0), 8);
    out[kCheckByteOffset] = char(piece_header_check_byte(reinterpret_cast<const uint8_t*>(out.data())));

    std::vector<uint8_t> packed;
    for (uint64_t done = 0; done < size;) {
        const size_t length = size_t(chunk_raw_length(size, done));
        const uint8_t* chunk = data + done;
        packed.clear();
        if (compress_chunk(chunk, length, packed)) {
            append_le(out, packed.size(), 4);
            out.append(reinterpret_cast<const char*>(packed.data()), packed.size());
        } else {
            append_le(out, length, 4);
            out.append(reinterpret_cast<const char*>(chunk), length);
        }
        done += length;
    }
    return out;
}
