// Round trips through the studio encoder and the launcher decoder, and
// checks on the encoder's output (framing, stored chunks, determinism).
#include "formats/piece_codec.h"
#include "tools/publish/piece_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

constexpr size_t kChunk = size_t(64) << 20;

uint64_t read_le(const std::string& s, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint64_t(uint8_t(s[at + i])) << (8 * i);
    return v;
}

std::string pack(const Bytes& data) { return compress_piece(data.data(), data.size()); }

// Encodes, checks the decoder gives the data back; returns the body.
std::string round_trip(const Bytes& data)
{
    const std::string body = pack(data);
    Bytes out(data.size());
    EXPECT_TRUE(decompress_piece(reinterpret_cast<const uint8_t*>(body.data()), body.size(), out.data(), out.size()));
    EXPECT_TRUE(out == data);
    return body;
}

Bytes random_bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = uint8_t(rng());
    return out;
}

Bytes text(size_t n, uint32_t seed)
{
    static const char* words[] = {"piece", "launcher", "update", "manifest", "chunk", "the", "of", "and",
                                  "splash", "tarnwick", "journal", "install", "folder", "=", "\n", "\"", "42"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += ' ';
    }
    return Bytes(s.begin(), s.begin() + n);
}

// Chunks listed in the body as (stored size, raw?) pairs.
std::vector<std::pair<size_t, bool>> chunks_of(const std::string& body, size_t total)
{
    std::vector<std::pair<size_t, bool>> chunks;
    size_t pos = 24;
    for (size_t done = 0; done < total; done += std::min(kChunk, total - done)) {
        const size_t n = size_t(read_le(body, pos, 4));
        chunks.push_back({n, n == std::min(kChunk, total - done)});
        pos += 4 + n;
    }
    EXPECT_EQ(pos, body.size());
    return chunks;
}
}  // namespace

TEST(PieceRoundTrip, SmallAndEdgeInputs)
{
    EXPECT_EQ(round_trip({}).size(), 24u);
    round_trip({'x'});
    round_trip({0, 0, 0});
    round_trip(Bytes(65536, 0));
    round_trip(Bytes(65537, 0xFF));
    for (size_t period = 1; period <= 40; ++period) {
        Bytes data(5000 + period);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i % period * 37);
        round_trip(data);
    }
}

TEST(PieceRoundTrip, HeaderFields)
{
    const Bytes data = text(100000, 1);
    const std::string body = round_trip(data);
    EXPECT_EQ(body.substr(0, 4), std::string("\x0A\x51\xE5\xC0", 4));
    EXPECT_EQ(read_le(body, 4, 2), 24u);
    EXPECT_EQ(uint8_t(body[7]), 4);
    EXPECT_EQ(read_le(body, 8, 8), data.size());
    EXPECT_EQ(read_le(body, 16, 8), data.size());
    EXPECT_EQ(uint8_t(body[6]), piece_header_check_byte(reinterpret_cast<const uint8_t*>(body.data())));
    EXPECT_EQ(pack(data), body) << "output must be deterministic";
}

TEST(PieceRoundTrip, CompressesWhatItCanAndStoresWhatItCannot)
{
    const Bytes noise = random_bytes(200000, 2);
    const std::string stored = round_trip(noise);
    EXPECT_EQ(stored.size(), 24u + 4 + noise.size());
    EXPECT_EQ(stored.substr(28), std::string(noise.begin(), noise.end()));

    const Bytes words = text(300000, 3);
    EXPECT_LT(round_trip(words).size(), words.size() / 3);
    // The end symbol must have a code in the last (here: only) table.
    const std::string small = round_trip(text(2000, 4));
    EXPECT_NE(uint8_t(small[28 + 128]) & 0x0F, 0);
}

TEST(PieceRoundTrip, LongMatchesAndBlockBudgets)
{
    // Runs and repeats of every length class (short, 8-bit, 16-bit and 32-bit
    // length escapes), placed so that matches run across 65,536-byte budgets.
    Bytes data;
    const Bytes seed = random_bytes(70000, 5);
    for (size_t run : {3, 17, 18, 272, 273, 65538, 65539, 100000, 300000}) {
        data.insert(data.end(), seed.begin(), seed.begin() + 1000 + run % 977);
        data.insert(data.end(), run, uint8_t(run));
        data.insert(data.end(), seed.begin(), seed.begin() + std::min(run, seed.size()));
    }
    const std::string body = round_trip(data);
    EXPECT_LT(body.size(), data.size() / 2);
    const Bytes mixed = [] {
        Bytes m = text(1 << 20, 6);
        const Bytes r = random_bytes(1 << 19, 7);
        m.insert(m.end(), r.begin(), r.end());
        const Bytes t = text(1 << 20, 6);  // repeats the first megabyte
        m.insert(m.end(), t.begin(), t.end());
        return m;
    }();
    round_trip(mixed);
}

TEST(PieceRoundTrip, MoreThanOneChunk)
{
    // A 4-byte pattern over 64 MiB, then a tail: compressed when it is text,
    // stored raw when it is noise.
    Bytes data(kChunk);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t("abcd"[i % 4]);
    const Bytes tail_text = text(100000, 8);
    data.insert(data.end(), tail_text.begin(), tail_text.end());
    std::string body = round_trip(data);
    auto chunks = chunks_of(body, data.size());
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_FALSE(chunks[0].second);
    EXPECT_FALSE(chunks[1].second);
    EXPECT_EQ(read_le(body, 16, 8), kChunk);

    data.resize(kChunk);
    const Bytes tail_noise = random_bytes(1000, 9);
    data.insert(data.end(), tail_noise.begin(), tail_noise.end());
    body = round_trip(data);
    chunks = chunks_of(body, data.size());
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_TRUE(chunks[1].second);
}

TEST(PieceRoundTrip, EncodersOnManyThreadsAgree)
{
    std::vector<Bytes> inputs;
    for (uint32_t i = 0; i < 4; ++i)
        inputs.push_back(text(200000 + i * 1000, 10 + i));
    std::vector<std::string> alone, together(inputs.size());
    for (const Bytes& in : inputs)
        alone.push_back(pack(in));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < inputs.size(); ++i)
        threads.emplace_back([&, i] { together[i] = pack(inputs[i]); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(alone, together);
}

TEST(PieceRoundTrip, CorruptedBodiesFailCleanly)
{
    // Damage anywhere in a valid body: the decoder may still succeed (a
    // flipped literal is valid data) but must stay inside its buffers, which
    // the sanitizers check.
    const Bytes data = text(150000, 12);
    const std::string body = pack(data);
    std::mt19937 rng(13);
    Bytes out(data.size());
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        std::string bad = body;
        const size_t at = 28 + rng() % (bad.size() - 28);
        bad[at] = char(bad[at] ^ (1 << (rng() % 8)));
        failures += !decompress_piece(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), out.data(), out.size());
    }
    EXPECT_GT(failures, 0);
}
