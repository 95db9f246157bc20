#pragma once
// What key records prove, given the root a reader already trusts. The
// launcher (with its built-in or remembered root) and the publisher's verify
// (with the root the studio names) judge records by these same rules; the
// signature check itself is passed in, so the rules hold the same with the
// platform's cryptography and with the publisher's.
#include "formats/key_records.h"

#include <cstdint>
#include <functional>
#include <string>

// True when `signature` (r then s) over `bytes` verifies with `key` (X then Y).
using SignatureCheck =
    std::function<bool(const std::string& key, const std::string& bytes, const std::string& signature)>;

struct RecordsVerdict {
    KeyRefusal refusal = KeyRefusal::none;
    size_t newest_root = 0;    // index of the root that signs the records (its number is one more)
    size_t failed_root = 0;    // for root_change: index of the root whose change does not verify
};

// Finds `trusted` among the roots and walks forward from it, one root change
// at a time: each later root must be signed by the one before it and by
// itself. The records must then be signed (`signature` over `text`) by the
// last root. Records that do not name `trusted` are refused (unknown_root):
// they are older than the root the reader reached, or of another chain; the
// walk never goes back. At most MAX_ROOTS steps.
RecordsVerdict verify_key_records(const std::string& trusted, const KeyRecords& records, const std::string& text,
                                  const std::string& signature, const SignatureCheck& check);

// Whether `offered` may replace the records a reader kept: a higher
// sequence, or the kept text itself. A lower sequence is an old edition
// replayed (older_records); the same sequence with other bytes cannot both be
// the studio's (other_records).
KeyRefusal judge_records_order(const KeyRecords& kept, const std::string& kept_text, const KeyRecords& offered,
                               const std::string& offered_text);

// Who signed a manifest, as the records see it: the newest root itself, one
// of the release keys (whether or not it may sign this release), or nobody
// they name.
struct ManifestSigner {
    enum Kind { nobody, newest_root, release_key } kind = nobody;
    const ReleaseKey* key = nullptr;   // for release_key: the entry within the records
};
ManifestSigner find_manifest_signer(const KeyRecords& records, size_t newest_root, const std::string& body,
                                    const std::string& signature, const SignatureCheck& check);

// Whether release key `key` may sign the release numbered `serial`: a
// release key's manifest must carry a serial (unnumbered), at or above the
// key's first (not_yet_valid), and below the serial it is withdrawn from
// (withdrawn_key).
KeyRefusal judge_release_key(const ReleaseKey& key, bool has_serial, int64_t serial);

// The signer judged: none when the newest root signed, or a release key that
// may sign this serial; the refusal otherwise (unknown_key for nobody).
KeyRefusal judge_manifest_signer(const ManifestSigner& signer, bool has_serial, int64_t serial);

// Why release key `key` may not sign the release numbered `serial`, as the
// launcher's log and the publisher say it: "key 3f2a9c01d4e5b687 is withdrawn
// from serial 41 (this is serial 57)".
std::string release_key_refusal_text(const ReleaseKey& key, KeyRefusal refusal, bool has_serial, int64_t serial);
