#include "formats/key_trust.h"

RecordsVerdict verify_key_records(const std::string& trusted, const KeyRecords& records, const std::string& text,
                                  const std::string& signature, const SignatureCheck& check)
{
    RecordsVerdict verdict;
    if (records.roots.size() > MAX_ROOTS) {   // the reader's bound, for records made by hand too
        verdict.refusal = KeyRefusal::too_many;
        return verdict;
    }
    size_t at = records.roots.size();
    for (size_t i = 0; i < records.roots.size(); ++i)
        if (records.roots[i].key == trusted) at = i;
    if (at == records.roots.size()) {
        verdict.refusal = KeyRefusal::unknown_root;
        return verdict;
    }
    // Both halves of a change: the old root hands over, and the new root's
    // holder shows it has the private key (a change to a key nobody holds
    // would strand every launcher that walked it).
    for (size_t next = at + 1; next < records.roots.size(); ++next) {
        const RootKey& from = records.roots[next - 1];
        const RootKey& to = records.roots[next];
        const std::string message = root_change_message(next + 1, from.key, to.key);
        if (!check(from.key, message, to.by_old) || !check(to.key, message, to.by_new)) {
            verdict.refusal = KeyRefusal::root_change;
            verdict.failed_root = next;
            return verdict;
        }
    }
    verdict.newest_root = records.roots.size() - 1;
    if (!check(records.roots[verdict.newest_root].key, text, signature)) verdict.refusal = KeyRefusal::signature;
    return verdict;
}

KeyRefusal judge_records_order(const KeyRecords& kept, const std::string& kept_text, const KeyRecords& offered,
                               const std::string& offered_text)
{
    if (offered.sequence < kept.sequence) return KeyRefusal::older_records;
    if (offered.sequence == kept.sequence && offered_text != kept_text) return KeyRefusal::other_records;
    return KeyRefusal::none;
}

ManifestSigner find_manifest_signer(const KeyRecords& records, size_t newest_root, const std::string& body,
                                    const std::string& signature, const SignatureCheck& check)
{
    ManifestSigner signer;
    if (newest_root < records.roots.size() && check(records.roots[newest_root].key, body, signature)) {
        signer.kind = ManifestSigner::newest_root;
        return signer;
    }
    for (const ReleaseKey& key : records.keys) {
        if (!check(key.key, body, signature)) continue;
        signer.kind = ManifestSigner::release_key;
        signer.key = &key;
        break;
    }
    return signer;
}

KeyRefusal judge_release_key(const ReleaseKey& key, bool has_serial, int64_t serial)
{
    if (!has_serial) return KeyRefusal::unnumbered;
    if (key.withdrawn && serial >= key.withdrawn_from) return KeyRefusal::withdrawn_key;
    if (serial < key.from) return KeyRefusal::not_yet_valid;
    return KeyRefusal::none;
}

KeyRefusal judge_manifest_signer(const ManifestSigner& signer, bool has_serial, int64_t serial)
{
    switch (signer.kind) {
    case ManifestSigner::newest_root: return KeyRefusal::none;
    case ManifestSigner::release_key: return judge_release_key(*signer.key, has_serial, serial);
    case ManifestSigner::nobody: break;
    }
    return KeyRefusal::unknown_key;
}

std::string release_key_refusal_text(const ReleaseKey& key, KeyRefusal refusal, bool has_serial, int64_t serial)
{
    const std::string name = "key " + key_name(key.key);
    const std::string this_one =
        " (this is serial " + (has_serial ? std::to_string(serial) : std::string("none")) + ")";
    switch (refusal) {
    case KeyRefusal::withdrawn_key:
        return name + " is withdrawn from serial " + std::to_string(key.withdrawn_from) + this_one;
    case KeyRefusal::not_yet_valid:
        return name + " is valid from serial " + std::to_string(key.from) + this_one;
    case KeyRefusal::unnumbered: return name + " signed a manifest without a serial";
    default: return name + " may sign it";
    }
}
