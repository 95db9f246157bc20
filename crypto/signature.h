#pragma once
// The manifest is trusted only when its detached signature verifies with the
// public key built into the launcher: ECDSA on P-256 over the SHA-256 of the
// manifest bytes exactly as received.
#include <string>

// `signature_bytes` must be exactly 64 bytes: r then s, 32 bytes each,
// big-endian. Anything else fails before any cryptography.
bool verify_manifest_signature(const std::string& manifest_bytes, const std::string& signature_bytes);

// The same check against a given 72-byte CNG public key blob ("ECS1", key
// length 32 little-endian, X, Y). The built-in key goes through here too.
bool verify_signature_with_key(const unsigned char* blob72, const std::string& body,
                               const std::string& signature_bytes);
