#pragma once
// SHA-256 through CNG. Digests are handled as 64 lowercase hexadecimal
// characters so that files, cached pieces and manifest entries compare by
// plain string equality. All state is local to each call or object, so every
// function here may run on many threads at once.
#include "base/win_handles.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// Hashes a whole file, read sequentially in 4 MiB blocks. False when the file
// cannot be opened (missing, or held open for writing by someone else) or when
// `stop_flag` is set after a block. A read error part-way ends the loop like
// the end of the file: the digest then covers what was read and will simply
// not match the expected one. `bytes_hashed`, when given, grows by each
// block's size as it is hashed (a progress counter shared by several files).
bool sha256_file(const std::wstring& path, std::string& digest_hex,
                 const std::atomic<bool>* stop_flag = nullptr,
                 std::atomic<int64_t>* bytes_hashed = nullptr);

// One SHA-256 computation: a provider and a hash object of its own.
class Sha256Hash {
public:
    Sha256Hash();
    Sha256Hash(const Sha256Hash&) = delete;
    Sha256Hash& operator=(const Sha256Hash&) = delete;

    bool ok() const { return static_cast<bool>(hash_); }
    bool add(const void* data, size_t size);
    // Finishes the hash into 32 bytes; the object is spent afterwards.
    bool finish(unsigned char digest[32]);

private:
    BcryptAlgorithm algorithm_;
    BcryptHash hash_;
    bool finished_ = false;
};

// Finishes `hash` and returns its digest text; "" on failure.
std::string sha256_hex(Sha256Hash& hash);

// The digest text of a buffer held in memory; "" on failure.
std::string sha256_bytes(const void* data, size_t size);

// 32 digest bytes as 64 lowercase hexadecimal characters.
std::string digest_to_hex(const unsigned char digest[32]);
