#include "crypto/signature.h"

#include "base/win_handles.h"
#include "crypto/sha256.h"

namespace {

static const unsigned char PUBLIC_KEY_BLOB[] = {
#include "public_key_blob.inc"
};
static_assert(sizeof(PUBLIC_KEY_BLOB) == 72, "the built-in key must be a 72-byte P-256 blob");

constexpr size_t SIGNATURE_SIZE = 64;
constexpr ULONG KEY_BLOB_SIZE = 72;
constexpr size_t KEY_HEADER_SIZE = 8;   // "ECS1", then the key length 32 (little-endian)

bool nt_ok(NTSTATUS status) { return status >= 0; }

}  // namespace

bool verify_signature_with_key(const unsigned char* blob72, const std::string& body,
                               const std::string& signature_bytes)
{
    if (signature_bytes.size() != SIGNATURE_SIZE || !blob72) return false;
    BcryptAlgorithm ecdsa;
    if (!nt_ok(BCryptOpenAlgorithmProvider(ecdsa.out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    unsigned char blob[KEY_BLOB_SIZE];
    for (ULONG i = 0; i < KEY_BLOB_SIZE; ++i) blob[i] = blob72[i];
    BcryptKey key;
    if (!nt_ok(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.out(), blob,
                                   KEY_BLOB_SIZE, 0)))
        return false;
    Sha256Hash hash;
    unsigned char digest[32];
    if (!hash.add(body.data(), body.size()) || !hash.finish(digest)) return false;
    unsigned char signature[SIGNATURE_SIZE];
    for (size_t i = 0; i < SIGNATURE_SIZE; ++i) signature[i] = static_cast<unsigned char>(signature_bytes[i]);
    return nt_ok(BCryptVerifySignature(key.get(), nullptr, digest, sizeof digest, signature,
                                       static_cast<ULONG>(SIGNATURE_SIZE), 0));
}

bool verify_manifest_signature(const std::string& manifest_bytes, const std::string& signature_bytes)
{
    return verify_signature_with_key(PUBLIC_KEY_BLOB, manifest_bytes, signature_bytes);
}

std::string built_in_root_key()
{
    return std::string(reinterpret_cast<const char*>(PUBLIC_KEY_BLOB) + KEY_HEADER_SIZE,
                       KEY_BLOB_SIZE - KEY_HEADER_SIZE);
}

bool verify_signature_with_public_key(const std::string& key, const std::string& body,
                                      const std::string& signature_bytes)
{
    if (key.size() != KEY_BLOB_SIZE - KEY_HEADER_SIZE) return false;
    unsigned char blob[KEY_BLOB_SIZE];
    for (size_t i = 0; i < KEY_HEADER_SIZE; ++i) blob[i] = PUBLIC_KEY_BLOB[i];   // "ECS1", 32
    for (size_t i = 0; i < key.size(); ++i) blob[KEY_HEADER_SIZE + i] = static_cast<unsigned char>(key[i]);
    return verify_signature_with_key(blob, body, signature_bytes);
}
