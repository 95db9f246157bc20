#include "update/key_store.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "crypto/signature.h"
#include "formats/key_trust.h"
#include "net/server_paths.h"
#include "update/saved_manifest.h"

std::wstring kept_keys_path() { return join_path(install_dir, L".twkeys"); }

TrustedKeys load_trusted_keys()
{
    TrustedKeys trusted;
    trusted.root = built_in_root_key();
    std::string kept;
    if (!read_whole_file_into(kept_keys_path(), kept, RECORD_SIGNATURE_BYTES + KEY_RECORDS_MAX_BYTES))
        return trusted;   // none kept yet
    const std::string signature = kept.substr(0, RECORD_SIGNATURE_BYTES);
    const std::string text = kept.size() > signature.size() ? kept.substr(signature.size()) : std::string();
    KeyRecords records;
    KeyRefusal refusal = KeyRefusal::none;
    if (parse_key_records(text, records, &refusal)) {
        const RecordsVerdict verdict =
            verify_key_records(trusted.root, records, text, signature, verify_signature_with_public_key);
        refusal = verdict.refusal;
        if (refusal == KeyRefusal::none) {
            trusted.root = records.roots[verdict.newest_root].key;
            trusted.root_number = verdict.newest_root + 1;
            trusted.has_records = true;
            trusted.records = std::move(records);
            trusted.text = text;
            return trusted;
        }
    }
    // Records that do not name the built-in root are older than it: this
    // launcher was built after the roots they reach. Anything else is damage.
    if (refusal != KeyRefusal::unknown_root)
        log_line("the kept key records were refused (%s) -- trusting the built-in root", key_refusal_name(refusal));
    return trusted;
}

bool keep_key_records(const std::string& text, const std::string& signature)
{
    return write_file_atomic(kept_keys_path(), signature + text);
}

ReleaseMark release_mark_after_withdrawals(const ReleaseMark& installed)
{
    if (!installed.has_serial) return installed;
    const TrustedKeys trusted = load_trusted_keys();
    const KeyRecords& records = trusted.records;
    if (!trusted.has_records || !records.has_lower_mark || installed.serial <= records.lower_mark)
        return installed;
    // The marked release's signed bytes are the saved manifest's when that is
    // the release the mark names; a mark raised for a release whose install
    // never finished names bytes nobody kept, and stays as it is.
    std::string body, signature;
    if (!read_whole_file_into(saved_manifest_path(), body, MANIFEST_MAX_BYTES) ||
        !read_whole_file_into(saved_signature_path(), signature, SIGNATURE_BYTES) ||
        sha256_bytes(body.data(), body.size()) != installed.manifest_sha256)
        return installed;
    const ManifestSigner signer = find_manifest_signer(records, trusted.root_number - 1, body, signature,
                                                       verify_signature_with_public_key);
    if (judge_manifest_signer(signer, true, installed.serial) == KeyRefusal::none) return installed;
    log_line("the installed release (serial %lld) is signed by a key that keys.json %lld no longer accepts -- "
             "taking serial %lld as the installed one",
             static_cast<long long>(installed.serial), static_cast<long long>(records.sequence),
             static_cast<long long>(records.lower_mark));
    return ReleaseMark{true, records.lower_mark, {}};
}
