#include "crypto/sha256.h"

#include "base/file_calls.h"

#include <vector>

namespace {

constexpr DWORD FILE_BLOCK = 4194304;   // 4 MiB, one buffer per hashed file

bool nt_ok(NTSTATUS status) { return status >= 0; }

}  // namespace

Sha256Hash::Sha256Hash()
{
    if (!nt_ok(BCryptOpenAlgorithmProvider(algorithm_.out(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return;
    // With no object buffer CNG allocates and frees the hash object itself.
    if (!nt_ok(BCryptCreateHash(algorithm_.get(), hash_.out(), nullptr, 0, nullptr, 0, 0)))
        hash_.reset();
}

bool Sha256Hash::add(const void* data, size_t size)
{
    if (!ok() || finished_) return false;
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    // BCryptHashData takes a 32-bit length; feed larger buffers in slices.
    while (size > 0) {
        ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!nt_ok(BCryptHashData(hash_.get(), bytes, part, 0))) return false;
        bytes += part;
        size -= part;
    }
    return true;
}

bool Sha256Hash::finish(unsigned char digest[32])
{
    if (!ok() || finished_) return false;
    finished_ = true;
    return nt_ok(BCryptFinishHash(hash_.get(), digest, 32, 0));
}

std::string digest_to_hex(const unsigned char digest[32])
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text(64, '0');
    for (int i = 0; i < 32; ++i) {
        text[2 * i] = DIGITS[digest[i] >> 4];
        text[2 * i + 1] = DIGITS[digest[i] & 15];
    }
    return text;
}

std::string sha256_hex(Sha256Hash& hash)
{
    unsigned char digest[32];
    if (!hash.finish(digest)) return {};
    return digest_to_hex(digest);
}

std::string sha256_bytes(const void* data, size_t size)
{
    Sha256Hash hash;
    if (!hash.add(data, size)) return {};
    return sha256_hex(hash);
}

bool sha256_file(const std::wstring& path, std::string& digest_hex, const std::atomic<bool>* stop_flag,
                 std::atomic<int64_t>* bytes_hashed)
{
    digest_hex.clear();
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Sha256Hash hash;
    if (!hash.ok()) return false;
    std::vector<unsigned char> buffer(FILE_BLOCK);
    for (;;) {
        DWORD got = 0;
        if (!file_calls::ReadFile(file.get(), buffer.data(), FILE_BLOCK, &got, nullptr) || got == 0) break;
        if (!hash.add(buffer.data(), got)) return false;
        if (bytes_hashed) bytes_hashed->fetch_add(got);
        if (stop_flag && stop_flag->load()) return false;
    }
    file.reset();
    digest_hex = sha256_hex(hash);
    return !digest_hex.empty();
}
