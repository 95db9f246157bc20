#include "tools/publish/sha256_text.h"

Sha256::Sha256() : ctx_(EVP_MD_CTX_new())
{
    ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1;
}

void Sha256::update(const void* data, size_t size)
{
    if (ok_ && size > 0) ok_ = EVP_DigestUpdate(ctx_.get(), data, size) == 1;
}

std::string Sha256::finish_hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), digest, &length) != 1 || length != 32) return {};
    ok_ = false;   // a finished context takes no more input
    return hex_lower(digest, length);
}

std::string sha256_hex(const void* data, size_t size)
{
    Sha256 hash;
    hash.update(data, size);
    return hash.finish_hex();
}

std::string hex_lower(const unsigned char* bytes, size_t size)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(DIGITS[bytes[i] >> 4]);
        text.push_back(DIGITS[bytes[i] & 15]);
    }
    return text;
}
