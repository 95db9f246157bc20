// Feeds arbitrary bytes to the key records reader (keys.json comes from any
// mirror before it is verified): it must neither crash nor accept anything
// but the one canonical spelling of what it read, within its bounds. The
// walk over accepted records is run with a check that believes every
// signature, so that every root change is walked.
#include "formats/key_records.h"
#include "formats/key_trust.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    KeyRecords records;
    KeyRefusal refusal = KeyRefusal::none;
    if (!parse_key_records(text, records, &refusal)) {
        if (refusal == KeyRefusal::none) std::abort();
        return 0;
    }
    if (key_records_to_text(records) != text || records.roots.empty() || records.roots.size() > MAX_ROOTS ||
        records.keys.size() > MAX_RELEASE_KEYS)
        std::abort();
    const SignatureCheck believe = [](const std::string&, const std::string&, const std::string&) { return true; };
    const RecordsVerdict verdict = verify_key_records(records.roots[0].key, records, text, "", believe);
    if (verdict.refusal != KeyRefusal::none || verdict.newest_root + 1 != records.roots.size()) std::abort();
    find_manifest_signer(records, verdict.newest_root, text, "", believe);
    return 0;
}
