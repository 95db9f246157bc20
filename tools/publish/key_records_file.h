#pragma once
// The studio's side of the key records: keys.json and keys.sig in a folder
// (the records folder kept beside the root key, or a server folder), read
// with the launcher's reader and judged by the launcher's rules with
// OpenSSL doing the signature checks.
#include "formats/key_records.h"
#include "formats/key_trust.h"
#include "tools/publish/openssl_owners.h"

#include <string>

struct RecordsFile {
    KeyRecords records;
    std::string text;
    std::string signature;
};

// X then Y (32 bytes each) of a P-256 key, from its public or private form.
bool raw_public_key(EVP_PKEY* key, std::string& raw, std::string& error);

// The launcher's signature check (SignatureCheck) done with OpenSSL.
bool openssl_signature_check(const std::string& key, const std::string& bytes, const std::string& signature);

bool has_key_records(const std::string& folder);

// folder/keys.json and folder/keys.sig, read as the launcher reads them;
// false with a message naming the rule that refused them.
bool read_key_records(const std::string& folder, RecordsFile& file, std::string& error);

// Writes keys.json, then keys.sig (each whole, then the folder flushed).
bool write_key_records(const std::string& folder, const RecordsFile& file, std::string& error);

// Walks `file` forward from `root` (X then Y) as a launcher that trusts that
// root would; false with the launcher's reason in `error` otherwise.
bool check_records_from_root(const RecordsFile& file, const std::string& root, RecordsVerdict& verdict,
                             std::string& error);
