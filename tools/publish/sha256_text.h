#pragma once
// SHA-256 as the launcher compares it: 64 lowercase hexadecimal characters.
#include "tools/publish/openssl_owners.h"

#include <cstddef>
#include <string>

// An incremental SHA-256. Any failure of the library makes finish_hex()
// return an empty string, which never equals a digest.
class Sha256 {
public:
    Sha256();
    void update(const void* data, size_t size);
    std::string finish_hex();

private:
    MdCtxPtr ctx_;
    bool ok_ = false;
};

std::string sha256_hex(const void* data, size_t size);

std::string hex_lower(const unsigned char* bytes, size_t size);
