#pragma once
// keys.json: the studio's key records, served beside the manifest and signed
// (keys.sig, 64 bytes r then s) by the studio's newest root key. They say
// which release keys may sign a manifest, from which release serial on, and
// which are withdrawn; they carry the chain of root keys, each root after the
// first signed by the one before it and by itself; and they may name a serial
// that a launcher stuck on a withdrawn key's release takes as its mark.
//
// The text is canonical: one line, members in this order, no blanks, every
// key and signature as lowercase hexadecimal, numbers as plain decimals:
//
//   {"keys_format":1,"sequence":S,
//    "roots":[{"key":K1},{"key":K2,"by_old":SIG,"by_new":SIG},...],
//    "keys":[{"key":K,"from":F},{"key":K,"from":F,"withdrawn":W},...],
//    "lower_mark":M}                      (lower_mark only when named)
//
// followed by one line end. A reader takes only that exact text, so one set
// of records has one spelling and its signature one meaning. A manifest
// ("format":1) is never read as key records, nor key records as a manifest.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t KEY_RECORDS_MAX_BYTES = 64u << 10;
constexpr size_t MAX_ROOTS = 32;
constexpr size_t MAX_RELEASE_KEYS = 64;
// A P-256 public key as X then Y (32 bytes each, big-endian); a signature as
// r then s.
constexpr size_t PUBLIC_KEY_BYTES = 64;
constexpr size_t RECORD_SIGNATURE_BYTES = 64;
// Serials and sequence numbers travel as JSON numbers (doubles).
constexpr int64_t LARGEST_RECORD_NUMBER = (int64_t(1) << 53) - 1;

struct RootKey {
    std::string key;      // PUBLIC_KEY_BYTES
    std::string by_old;   // root_change_message signed by the root before; empty for the first
    std::string by_new;   // the same message signed by this root
};

struct ReleaseKey {
    std::string key;               // PUBLIC_KEY_BYTES
    int64_t from = 0;              // signs releases with this serial and above
    bool withdrawn = false;
    int64_t withdrawn_from = 0;    // refused for releases with this serial and above
};

struct KeyRecords {
    int64_t sequence = 0;          // one higher with every edition the studio signs
    std::vector<RootKey> roots;    // the first root, then each root change in order
    std::vector<ReleaseKey> keys;
    bool has_lower_mark = false;
    int64_t lower_mark = 0;
};

// Why key records, or a manifest judged by them, were refused.
enum class KeyRefusal {
    none,
    // the text
    too_large,       // more than KEY_RECORDS_MAX_BYTES
    syntax,          // not JSON, or a root that is not an object
    format,          // "keys_format" is not 1
    bad_number,      // a sequence, serial or mark that is not a whole number in range
    bad_key,         // a key that is not 128 lowercase hex characters
    bad_signature,   // a root change signature that is not 128 lowercase hex characters
    no_root,         // no root key
    too_many,        // more than MAX_ROOTS roots or MAX_RELEASE_KEYS release keys
    repeated_key,    // one key listed twice (as a root or a release key)
    not_canonical,   // anything but the one spelling above
    // the records against what the launcher trusts
    unknown_root,    // the root the launcher trusts is not among the roots
    root_change,     // a root change is not signed by the root before it and by itself
    signature,       // keys.sig does not verify with the newest root
    older_records,   // a lower sequence than the records already kept
    other_records,   // the kept sequence with other bytes
    // a manifest against the records
    unknown_key,     // signed by no key the records name
    not_yet_valid,   // signed by a key that is valid only from a higher serial
    withdrawn_key,   // signed by a key withdrawn from its serial or before
    unnumbered,      // a release key signed a manifest without a serial
};

// The refusal's name as written above ("syntax", "root_change", ...).
const char* key_refusal_name(KeyRefusal refusal);

// Reads key records. True when accepted; otherwise the rule that refused them
// is in *reason when reason is given.
bool parse_key_records(const std::string& text, KeyRecords& records, KeyRefusal* reason = nullptr);

// The canonical text of records (what parse_key_records accepts).
std::string key_records_to_text(const KeyRecords& records);

// The bytes a root change is signed over, by the old root and by the new one:
// "tarnwick root change\n", the new root's number (the first root is 1), a
// line end, the old key and the new key in hex, each followed by a line end.
// Not JSON, so such a signature can never stand for a manifest's or records'.
std::string root_change_message(size_t new_number, const std::string& old_key, const std::string& new_key);

// Lowercase hex of any bytes; the first 16 hex characters of a key (the name
// the log and the publisher give it).
std::string hex_text(const std::string& bytes);
std::string key_name(const std::string& key);

// Exactly `size` bytes written as 2 * size lowercase hex characters.
bool bytes_from_hex(const std::string& hex, size_t size, std::string& bytes);
