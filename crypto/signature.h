#pragma once
// Signatures are ECDSA on P-256 over the SHA-256 of the bytes exactly as
// received. The public key built into the launcher is the studio's root: it
// signs manifests directly, or the key records (keys.json) that name the
// release keys which sign them.
#include <string>

// `signature_bytes` must be exactly 64 bytes: r then s, 32 bytes each,
// big-endian. Anything else fails before any cryptography.
bool verify_manifest_signature(const std::string& manifest_bytes, const std::string& signature_bytes);

// The same check against a given 72-byte CNG public key blob ("ECS1", key
// length 32 little-endian, X, Y). The built-in key goes through here too.
bool verify_signature_with_key(const unsigned char* blob72, const std::string& body,
                               const std::string& signature_bytes);

// The built-in root key as X then Y (32 bytes each, big-endian).
std::string built_in_root_key();

// The same check against a 64-byte public key (X then Y); false for a key of
// another length or a point that is not on the curve.
bool verify_signature_with_public_key(const std::string& key, const std::string& body,
                                      const std::string& signature_bytes);
