#include "update/key_store.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "crypto/signature.h"
#include "formats/key_trust.h"
#include "net/server_paths.h"
#include "update/saved_manifest.h"

std::wstring kept_keys_path(const std::wstring& install_folder) { return join_path(install_folder, L".twkeys"); }

TrustedKeys load_trusted_keys(const std::wstring& install_folder)
{
    TrustedKeys trusted;
    trusted.root = built_in_root_key();
    std::string kept;
    if (!read_whole_file_into(kept_keys_path(install_folder), kept, RECORD_SIGNATURE_BYTES + KEY_RECORDS_MAX_BYTES))
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

bool keep_key_records(const std::wstring& install_folder, const std::string& text, const std::string& signature)
{
    return write_file_atomic(kept_keys_path(install_folder), signature + text);
}

std::string manifest_signer_key(const std::wstring& install_folder, const std::string& body,
                                const std::string& signature)
{
    const TrustedKeys trusted = load_trusted_keys(install_folder);
    if (verify_signature_with_public_key(trusted.root, body, signature)) return hex_text(trusted.root);
    if (!trusted.has_records) return {};
    const ManifestSigner signer = find_manifest_signer(trusted.records, trusted.root_number - 1, body, signature,
                                                       verify_signature_with_public_key);
    return signer.kind == ManifestSigner::release_key ? hex_text(signer.key->key) : std::string();
}

namespace {

// Whether the key that signed the marked release may still sign its serial:
// judged from the signed bytes when the saved manifest is that release, else
// by the signer the mark names (a release whose install never finished).
// `known` is false when neither tells; the mark then stays as it is.
bool marked_signer_accepted(const std::wstring& install_folder, const TrustedKeys& trusted,
                            const ReleaseMark& installed, bool& known)
{
    known = true;
    std::string body, signature;
    if (read_whole_file_into(saved_manifest_path(install_folder), body, MANIFEST_MAX_BYTES) &&
        read_whole_file_into(saved_signature_path(install_folder), signature, SIGNATURE_BYTES) &&
        sha256_bytes(body.data(), body.size()) == installed.manifest_sha256) {
        const ManifestSigner signer = find_manifest_signer(trusted.records, trusted.root_number - 1, body, signature,
                                                           verify_signature_with_public_key);
        return judge_manifest_signer(signer, true, installed.serial) == KeyRefusal::none;
    }
    known = !installed.signer.empty();
    if (!known || installed.signer == hex_text(trusted.root)) return true;
    for (const ReleaseKey& key : trusted.records.keys)
        if (hex_text(key.key) == installed.signer)
            return judge_release_key(key, true, installed.serial) == KeyRefusal::none;
    return false;   // a root changed away from, or a key the records no longer name
}

}  // namespace

ReleaseMark release_mark_after_withdrawals(const std::wstring& install_folder, const ReleaseMark& installed)
{
    if (!installed.has_serial) return installed;
    const TrustedKeys trusted = load_trusted_keys(install_folder);
    const KeyRecords& records = trusted.records;
    if (!trusted.has_records || !records.has_lower_mark || installed.serial <= records.lower_mark)
        return installed;
    bool known = false;
    if (marked_signer_accepted(install_folder, trusted, installed, known) || !known) return installed;
    log_line("the installed release (serial %lld) is signed by a key that keys.json %lld no longer accepts -- "
             "taking serial %lld as the installed one",
             static_cast<long long>(installed.serial), static_cast<long long>(records.sequence),
             static_cast<long long>(records.lower_mark));
    return ReleaseMark{true, records.lower_mark, {}, {}};
}
