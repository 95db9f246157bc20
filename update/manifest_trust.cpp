#include "update/manifest_trust.h"

#include "base/log.h"
#include "base/update_status.h"
#include "crypto/signature.h"
#include "formats/key_trust.h"
#include "formats/manifest.h"
#include "net/http_client.h"
#include "net/server_paths.h"
#include "update/key_store.h"

#include <windows.h>

namespace {

bool stopped() { return update_status.stop_requested.load(); }

std::string root_label(size_t number) { return number ? "root " + std::to_string(number) : "the built-in root"; }

bool refuse_records(const std::string& detail, KeyRefusal refusal)
{
    log_line("keys.json refused: %s (%s) -- kept the installed game", detail.c_str(), key_refusal_name(refusal));
    return false;
}

bool refuse_manifest_key(const std::string& detail, KeyRefusal refusal)
{
    log_line("the manifest's key was refused: %s (%s) -- kept the installed game", detail.c_str(),
             key_refusal_name(refusal));
    return false;
}

// keys.json and keys.sig from the mirror that served the manifest, with a
// cache-defeating query of their own.
bool fetch_key_records(HttpClient& client, std::string& text, std::string& signature)
{
    const uint64_t tick = GetTickCount64();
    int status = 0;   // a 404 (a server without records) ends the request at once
    return client.get(manifest_request_path("keys.json", tick), text, {}, &update_status.stop_requested, &status,
                      KEY_RECORDS_MAX_BYTES) &&
           client.get(manifest_request_path("keys.sig", tick), signature, {}, &update_status.stop_requested, &status,
                      RECORD_SIGNATURE_BYTES);
}

// The offered records, read and walked forward from the trusted root; false
// (logged) when they are refused.
bool verify_offered(const TrustedKeys& trusted, const std::string& text, const std::string& signature,
                    KeyRecords& records, RecordsVerdict& verdict)
{
    KeyRefusal refusal = KeyRefusal::none;
    if (!parse_key_records(text, records, &refusal)) return refuse_records("it would not read", refusal);
    verdict = verify_key_records(trusted.root, records, text, signature, verify_signature_with_public_key);
    switch (verdict.refusal) {
    case KeyRefusal::none: return true;
    case KeyRefusal::unknown_root:
        return refuse_records("it does not name " + root_label(trusted.root_number) + " (" +
                                  key_name(trusted.root) + "), the newest this launcher trusts",
                              verdict.refusal);
    case KeyRefusal::root_change:
        return refuse_records("root " + std::to_string(verdict.failed_root + 1) + " is not signed by root " +
                                  std::to_string(verdict.failed_root) + " and by itself",
                              verdict.refusal);
    default:
        return refuse_records("keys.sig does not verify with root " + std::to_string(verdict.newest_root + 1),
                              verdict.refusal);
    }
}

// Records newer than the kept ones are kept (the root they reach with them)
// before anything relies on them; the kept ones themselves need no write.
bool keep_if_newer(const std::wstring& install_folder, const TrustedKeys& trusted, const KeyRecords& records,
                   const RecordsVerdict& verdict, const std::string& text, const std::string& signature)
{
    if (trusted.has_records) {
        const KeyRefusal order = judge_records_order(trusted.records, trusted.text, records, text);
        if (order != KeyRefusal::none)
            return refuse_records("sequence " + std::to_string(records.sequence) + ", kept sequence " +
                                      std::to_string(trusted.records.sequence),
                                  order);
        if (text == trusted.text) return true;
    }
    if (!keep_key_records(install_folder, text, signature)) {
        log_line("could not keep keys.json %lld (error %lu) -- not relying on it",
                 static_cast<long long>(records.sequence), GetLastError());
        return false;
    }
    if (records.roots[verdict.newest_root].key != trusted.root)
        log_line("keys.json %lld: walked to root %zu (%s) and remembered it", static_cast<long long>(records.sequence),
                 verdict.newest_root + 1, key_name(records.roots[verdict.newest_root].key).c_str());
    return true;
}

bool judge_manifest(const KeyRecords& records, const RecordsVerdict& verdict, const std::string& body,
                    const std::string& signature)
{
    const ManifestSigner signer =
        find_manifest_signer(records, verdict.newest_root, body, signature, verify_signature_with_public_key);
    if (signer.kind == ManifestSigner::nobody)
        return refuse_manifest_key("keys.json names no key that signed it", KeyRefusal::unknown_key);
    if (signer.kind == ManifestSigner::newest_root) {
        log_line("manifest signed by root %zu, reached through keys.json %lld", verdict.newest_root + 1,
                 static_cast<long long>(records.sequence));
        return true;
    }
    // Only bytes one of the studio's release keys signed get this far.
    Manifest manifest;
    DocumentRefusal unread = DocumentRefusal::none;
    if (!parse_manifest(body, manifest, &unread)) {
        log_line("the manifest was refused (%s)", document_refusal_name(unread));
        return false;
    }
    const ReleaseKey& key = *signer.key;
    const KeyRefusal refusal = judge_release_key(key, manifest.has_serial, manifest.serial);
    if (refusal != KeyRefusal::none)
        return refuse_manifest_key(release_key_refusal_text(key, refusal, manifest.has_serial, manifest.serial),
                                   refusal);
    log_line("manifest signed by release key %s (valid from serial %lld), keys.json %lld, root %zu",
             key_name(key.key).c_str(), static_cast<long long>(key.from), static_cast<long long>(records.sequence),
             verdict.newest_root + 1);
    return true;
}

}  // namespace

bool manifest_signature_trusted(const std::wstring& install_folder, HttpClient& client, const std::string& body,
                                const std::string& signature)
{
    const TrustedKeys trusted = load_trusted_keys(install_folder);
    if (verify_signature_with_public_key(trusted.root, body, signature)) return true;
    std::string text, records_signature;
    if (!fetch_key_records(client, text, records_signature)) {
        if (!stopped()) log_line("keys.json could not be fetched -- only the root can sign the manifest then");
        return false;
    }
    KeyRecords records;
    RecordsVerdict verdict;
    return verify_offered(trusted, text, records_signature, records, verdict) &&
           keep_if_newer(install_folder, trusted, records, verdict, text, records_signature) &&
           judge_manifest(records, verdict, body, signature);
}

bool saved_manifest_signature_ok(const std::wstring& install_folder, const std::string& body,
                                 const std::string& signature)
{
    const TrustedKeys trusted = load_trusted_keys(install_folder);
    if (verify_signature_with_public_key(trusted.root, body, signature)) return true;
    if (!trusted.has_records) return false;
    for (const RootKey& root : trusted.records.roots)
        if (verify_signature_with_public_key(root.key, body, signature)) return true;
    for (const ReleaseKey& key : trusted.records.keys)
        if (verify_signature_with_public_key(key.key, body, signature)) return true;
    return false;
}
