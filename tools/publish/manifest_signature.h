#pragma once
// ECDSA P-256 over SHA-256, in the form the launcher verifies: a 64-byte
// signature, r then s, each a 32-byte big-endian integer.
#include "tools/publish/openssl_owners.h"

#include <string>

constexpr size_t SIGNATURE_SIZE = 64;

// PEM keys (PKCS#8 or SEC1 private keys, SubjectPublicKeyInfo public keys).
// Anything but a P-256 key is refused with a message.
bool load_private_key(const std::string& pem_path, PkeyPtr& key, std::string& error);
bool load_public_key(const std::string& pem_path, PkeyPtr& key, std::string& error);

bool sign_manifest(EVP_PKEY* key, const std::string& manifest_bytes, std::string& signature,
                   std::string& error);
bool verify_manifest_signature(EVP_PKEY* key, const std::string& manifest_bytes,
                               const std::string& signature);
