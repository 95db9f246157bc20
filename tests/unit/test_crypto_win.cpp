// Hashing and signature checks through CNG, run under Wine.
#include "crypto/sha256.h"
#include "crypto/signature.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A fixed P-256 test key (not the launcher's) and its signature over
// SIGNED_BODY, made once with openssl and converted to CNG's forms.
const unsigned char TEST_KEY_BLOB[72] = {
    0x45, 0x43, 0x53, 0x31, 0x20, 0x00, 0x00, 0x00, 0xa0, 0x2f, 0x8f, 0xa0, 0xeb, 0x24, 0xc4, 0xdb, 0x09, 0x09,
    0x8c, 0x29, 0x84, 0xbc, 0x3b, 0x71, 0x59, 0xa8, 0xd1, 0x56, 0xd8, 0x62, 0xd8, 0x0f, 0x54, 0x2d, 0xd0, 0xa4,
    0x04, 0xa5, 0x29, 0x17, 0xb7, 0xd6, 0x9d, 0x1e, 0xd8, 0x1e, 0xc8, 0x44, 0xe5, 0x0e, 0xa7, 0x54, 0x7c, 0xe1,
    0xc4, 0x19, 0x81, 0xde, 0xa2, 0x5c, 0xc3, 0xaf, 0xf2, 0x6b, 0xd7, 0xcc, 0x3e, 0xb8, 0x3f, 0x77, 0x19, 0x35};
const unsigned char TEST_SIGNATURE[64] = {
    0xc9, 0x0e, 0x9d, 0x7e, 0xc8, 0x12, 0x03, 0xbb, 0x5a, 0xa4, 0x19, 0x54, 0xad, 0xad, 0x69, 0x51,
    0xf2, 0x90, 0x9f, 0x6c, 0xfc, 0x9b, 0xd8, 0xe7, 0xf2, 0x1c, 0x51, 0x3d, 0x1c, 0x13, 0x43, 0xce,
    0x23, 0x1d, 0xb3, 0x15, 0xb2, 0xe6, 0x16, 0x59, 0x90, 0xe3, 0x52, 0x7c, 0xb6, 0x26, 0xca, 0x0e,
    0xaf, 0x89, 0x5f, 0xef, 0x90, 0x58, 0xc1, 0xd7, 0x52, 0x1b, 0x6f, 0x94, 0x5f, 0xab, 0xc7, 0x70};
const std::string SIGNED_BODY = "{\"format\":1,\"files\":[]}";

const std::string EMPTY_SHA256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string ABC_SHA256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string good_signature() { return std::string(reinterpret_cast<const char*>(TEST_SIGNATURE), 64); }

bool verify(const std::string& body, const std::string& sig)
{
    return verify_signature_with_key(TEST_KEY_BLOB, body, sig);
}

std::wstring temp_file(const wchar_t* name, const std::string& content)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    if (!content.empty()) WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    return path;
}

bool is_digest_text(const std::string& s)
{
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

TEST(Signature, GoodSignatureVerifies)
{
    EXPECT_TRUE(verify(SIGNED_BODY, good_signature()));
}

TEST(Signature, AnyChangeToBodyOrSignatureFails)
{
    EXPECT_FALSE(verify(SIGNED_BODY + "\n", good_signature()));
    EXPECT_FALSE(verify(SIGNED_BODY.substr(1), good_signature()));
    EXPECT_FALSE(verify("", good_signature()));
    std::string flipped = good_signature();
    flipped[40] ^= 1;
    EXPECT_FALSE(verify(SIGNED_BODY, flipped));
    std::string swapped = good_signature().substr(32) + good_signature().substr(0, 32);   // s then r
    EXPECT_FALSE(verify(SIGNED_BODY, swapped));
}

TEST(Signature, OnlySixtyFourBytesAreASignature)
{
    std::string sig = good_signature();
    EXPECT_FALSE(verify(SIGNED_BODY, ""));
    EXPECT_FALSE(verify(SIGNED_BODY, sig.substr(0, 63)));
    EXPECT_FALSE(verify(SIGNED_BODY, sig + "\n"));
    EXPECT_FALSE(verify(SIGNED_BODY, sig + sig));
    // A hexadecimal text form of a signature is 128 bytes.
    std::string hex;
    for (unsigned char c : sig) {
        static const char d[] = "0123456789abcdef";
        hex += d[c >> 4];
        hex += d[c & 15];
    }
    EXPECT_FALSE(verify(SIGNED_BODY, hex));
}

TEST(Signature, BrokenKeyBlobFails)
{
    unsigned char blob[72];
    std::copy(TEST_KEY_BLOB, TEST_KEY_BLOB + 72, blob);
    blob[3] = '2';   // "ECS2" is a P-384 key
    EXPECT_FALSE(verify_signature_with_key(blob, SIGNED_BODY, good_signature()));
    std::copy(TEST_KEY_BLOB, TEST_KEY_BLOB + 72, blob);
    blob[40] ^= 0x55;   // a point that is not this key (or not on the curve)
    EXPECT_FALSE(verify_signature_with_key(blob, SIGNED_BODY, good_signature()));
    EXPECT_FALSE(verify_signature_with_key(nullptr, SIGNED_BODY, good_signature()));
}

TEST(Signature, BuiltInKeyRefusesAForeignSignature)
{
    EXPECT_FALSE(verify_manifest_signature(SIGNED_BODY, good_signature()));
    EXPECT_FALSE(verify_manifest_signature(SIGNED_BODY, std::string(64, '\0')));
    EXPECT_FALSE(verify_manifest_signature(SIGNED_BODY, ""));
}

TEST(Sha256, KnownDigestsInLowerCase)
{
    EXPECT_EQ(sha256_bytes("", 0), EMPTY_SHA256);
    EXPECT_EQ(sha256_bytes("abc", 3), ABC_SHA256);
    // Every byte value, many times: the text must stay lowercase hex.
    for (int i = 0; i < 64; ++i) {
        std::string data(static_cast<size_t>(i), static_cast<char>(i * 37));
        std::string digest = sha256_bytes(data.data(), data.size());
        EXPECT_TRUE(is_digest_text(digest)) << digest;
    }
}

TEST(Sha256, IncrementalEqualsOneShotAndFinishesOnce)
{
    Sha256Hash hash;
    ASSERT_TRUE(hash.ok());
    EXPECT_TRUE(hash.add("a", 1));
    EXPECT_TRUE(hash.add("", 0));
    EXPECT_TRUE(hash.add("bc", 2));
    EXPECT_EQ(sha256_hex(hash), ABC_SHA256);
    EXPECT_EQ(sha256_hex(hash), "");   // already finished
    EXPECT_FALSE(hash.add("x", 1));
}

TEST(Sha256, InMemoryHashingIsSafeOnManyThreads)
{
    std::vector<std::string> inputs;
    for (int i = 0; i < 12; ++i) inputs.push_back(std::string(100000 + i * 777, static_cast<char>('a' + i)));
    std::vector<std::string> expected;
    for (const auto& in : inputs) expected.push_back(sha256_bytes(in.data(), in.size()));
    std::vector<int> mismatches(12, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 12; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round)
                if (sha256_bytes(inputs[t].data(), inputs[t].size()) != expected[t]) ++mismatches[t];
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 12; ++t) EXPECT_EQ(mismatches[t], 0) << t;
}

TEST(Sha256File, HashesWholeFilesAcrossBlocks)
{
    std::string digest = "stale";
    ASSERT_TRUE(sha256_file(temp_file(L"tw-hash-empty.bin", ""), digest));
    EXPECT_EQ(digest, EMPTY_SHA256);
    ASSERT_TRUE(sha256_file(temp_file(L"tw-hash-abc.bin", "abc"), digest));
    EXPECT_EQ(digest, ABC_SHA256);

    // One byte more than a block, so the last block holds a single byte.
    std::string big(4194304 + 1, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(sha256_file(temp_file(L"tw-hash-big.bin", big), digest));
    EXPECT_EQ(digest, sha256_bytes(big.data(), big.size()));
}

TEST(Sha256File, MissingOrLockedFilesFail)
{
    std::string digest = "stale";
    EXPECT_FALSE(sha256_file(L"Z:\\no\\such\\tw-file.bin", digest));
    EXPECT_EQ(digest, "");

    std::wstring path = temp_file(L"tw-hash-locked.bin", "data");
    // A writer that shares nothing, and one that shares reading but writes:
    // either way the contents may change under us.
    for (DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(sha256_file(path, digest)) << share;
        CloseHandle(writer);
    }
    EXPECT_TRUE(sha256_file(path, digest));
    // Another reader that shares reading does not get in the way.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(sha256_file(path, digest));
    CloseHandle(reader);
}

TEST(Sha256File, StopFlagEndsWithFailureAfterABlock)
{
    std::string big(4194304 * 2 + 10, 'x');
    std::wstring path = temp_file(L"tw-hash-stop.bin", big);
    std::atomic<bool> stop{false};
    std::string digest;
    EXPECT_TRUE(sha256_file(path, digest, &stop));
    stop = true;
    EXPECT_FALSE(sha256_file(path, digest, &stop));
    EXPECT_EQ(digest, "");
}
