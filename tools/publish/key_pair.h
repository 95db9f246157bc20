#pragma once
// The manifest signer's key pair: a fresh P-256 key written as
// DIR/"private.pem" (PKCS#8, readable by its owner only) and DIR/"public.pem"
// (SubjectPublicKeyInfo, the form the launcher's build turns into its key).
#include <string>

// Never replaces an existing private key: losing it would strand every
// installed launcher that trusts the old public key.
bool generate_key_pair(const std::string& folder, std::string& error);
