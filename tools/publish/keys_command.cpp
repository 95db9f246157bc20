// `keys`: writes and signs the studio's key records with the root key, on
// the machine that keeps the root (an offline one). Each edition is built on
// the records already in the folder, numbered one higher, checked by the
// launcher's own reader and rules before anything is replaced.
#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/key_records_file.h"
#include "tools/publish/manifest_signature.h"

#include <cstdio>

namespace {

const char KEYS_USAGE[] =
    "usage:\n"
    "  tarnwick-publish keys add RECORDS RELEASE_PUBLIC.pem --from N --root ROOT_PRIVATE.pem\n"
    "  tarnwick-publish keys withdraw RECORDS RELEASE_PUBLIC.pem --from N --root ROOT_PRIVATE.pem\n"
    "                  [--lower-mark M]\n"
    "  tarnwick-publish keys change-root RECORDS --root OLD_ROOT_PRIVATE.pem --new-root NEW_ROOT_PRIVATE.pem";

struct SigningKey {
    PkeyPtr key;
    std::string raw;   // X then Y
};

bool load_signing_key(const std::string& path, SigningKey& out, std::string& error)
{
    return load_private_key(path, out.key, error) && raw_public_key(out.key.get(), out.raw, error);
}

bool load_listed_key(const std::string& path, std::string& raw, std::string& error)
{
    PkeyPtr key;
    return load_public_key(path, key, error) && raw_public_key(key.get(), raw, error);
}

bool read_serial(const CommandArgs& parsed, const char* option, int64_t& value, std::string& error)
{
    uint64_t number = 0;
    if (!parse_decimal(parsed.value(option), static_cast<uint64_t>(LARGEST_RECORD_NUMBER), number)) {
        error = std::string(option) + " must be a whole number from 0 to " + std::to_string(LARGEST_RECORD_NUMBER);
        return false;
    }
    value = static_cast<int64_t>(number);
    return true;
}

// The records in `folder`, whole and signed by `root`, their newest root; or
// a first edition naming `root` alone when the folder has none yet.
bool open_records(const std::string& folder, const SigningKey& root, RecordsFile& file, std::string& error)
{
    if (!has_key_records(folder)) {
        file.records.roots.push_back(RootKey{root.raw, {}, {}});
        return true;
    }
    RecordsVerdict verdict;
    if (!read_key_records(folder, file, error) ||
        !check_records_from_root(file, file.records.roots.front().key, verdict, error))
        return false;
    if (file.records.roots.back().key != root.raw) {
        error = "the key given with --root is not the newest root of " + folder + "/keys.json (root " +
                std::to_string(file.records.roots.size()) + ", " + key_name(file.records.roots.back().key) + ")";
        return false;
    }
    return true;
}

bool is_listed(const KeyRecords& records, const std::string& raw)
{
    for (const RootKey& root : records.roots)
        if (root.key == raw) return true;
    for (const ReleaseKey& key : records.keys)
        if (key.key == raw) return true;
    return false;
}

ReleaseKey* release_key(KeyRecords& records, const std::string& raw)
{
    for (ReleaseKey& key : records.keys)
        if (key.key == raw) return &key;
    return nullptr;
}

// Numbers the edition, signs it with the newest root and checks it the way a
// launcher that trusts the first root would, before it replaces the old one.
bool sign_and_write(const std::string& folder, const SigningKey& newest_root, RecordsFile& file, std::string& error)
{
    if (file.records.sequence >= LARGEST_RECORD_NUMBER) {
        error = "the sequence of keys.json is at its largest";
        return false;
    }
    ++file.records.sequence;
    file.text = key_records_to_text(file.records);
    RecordsFile check;
    KeyRefusal refusal = KeyRefusal::none;
    if (!parse_key_records(file.text, check.records, &refusal)) {
        error = std::string("the launcher would refuse these records (") + key_refusal_name(refusal) +
                ") -- nothing written";
        return false;
    }
    RecordsVerdict verdict;
    return sign_manifest(newest_root.key.get(), file.text, file.signature, error) &&
           check_records_from_root(file, file.records.roots.front().key, verdict, error) &&
           write_key_records(folder, file, error);
}

void print_summary(const std::string& folder, const KeyRecords& records)
{
    std::printf("wrote %s/keys.json %lld and keys.sig: root %zu (%s)", folder.c_str(),
                static_cast<long long>(records.sequence), records.roots.size(),
                key_name(records.roots.back().key).c_str());
    for (const ReleaseKey& key : records.keys) {
        std::printf(", release key %s from serial %lld", key_name(key.key).c_str(), static_cast<long long>(key.from));
        if (key.withdrawn) std::printf(" withdrawn from %lld", static_cast<long long>(key.withdrawn_from));
    }
    if (records.has_lower_mark) std::printf(", lower mark %lld", static_cast<long long>(records.lower_mark));
    std::printf("\n");
}

bool add_key(const CommandArgs& parsed, KeyRecords& records, std::string& error)
{
    ReleaseKey key;
    if (!load_listed_key(parsed.positional[2], key.key, error) || !read_serial(parsed, "--from", key.from, error))
        return false;
    if (is_listed(records, key.key)) {
        error = parsed.positional[2] + " is listed already -- a key is added once (withdraw it to stop it)";
        return false;
    }
    records.keys.push_back(key);
    return true;
}

bool withdraw_key(const CommandArgs& parsed, KeyRecords& records, std::string& error)
{
    std::string raw;
    int64_t from = 0;
    if (!load_listed_key(parsed.positional[2], raw, error) || !read_serial(parsed, "--from", from, error)) return false;
    ReleaseKey* key = release_key(records, raw);
    if (!key) {
        error = parsed.positional[2] + " is not a release key of keys.json";
        return false;
    }
    // Withdrawing from a later serial would let releases back in that
    // launchers already refuse.
    if (key->withdrawn && key->withdrawn_from <= from) {
        error = parsed.positional[2] + " is withdrawn already, from serial " + std::to_string(key->withdrawn_from);
        return false;
    }
    key->withdrawn = true;
    key->withdrawn_from = from;
    if (parsed.has("--lower-mark")) {
        records.has_lower_mark = true;
        if (!read_serial(parsed, "--lower-mark", records.lower_mark, error)) return false;
    }
    return true;
}

// The old root hands over to the new one and the new one accepts: both sign
// the change, and the new root signs the records from now on.
bool change_root(const SigningKey& old_root, const SigningKey& new_root, KeyRecords& records, std::string& error)
{
    if (is_listed(records, new_root.raw)) {
        error = "the new root is listed in keys.json already";
        return false;
    }
    if (records.roots.size() >= MAX_ROOTS) {
        error = "keys.json holds " + std::to_string(MAX_ROOTS) + " roots, the most a launcher reads";
        return false;
    }
    RootKey root{new_root.raw, {}, {}};
    const std::string message = root_change_message(records.roots.size() + 1, old_root.raw, new_root.raw);
    if (!sign_manifest(old_root.key.get(), message, root.by_old, error) ||
        !sign_manifest(new_root.key.get(), message, root.by_new, error))
        return false;
    records.roots.push_back(root);
    return true;
}

int run_change(const std::string& action, const CommandArgs& parsed)
{
    std::string error;
    const std::string& folder = parsed.positional[1];
    SigningKey root, new_root;
    RecordsFile file;
    if (!load_signing_key(parsed.value("--root"), root, error) || !open_records(folder, root, file, error))
        return report_error(error, EXIT_FAILED);
    bool changed = false;
    const SigningKey* signer = &root;
    if (action == "add") {
        changed = add_key(parsed, file.records, error);
    } else if (action == "withdraw") {
        changed = withdraw_key(parsed, file.records, error);
    } else {
        changed = load_signing_key(parsed.value("--new-root"), new_root, error) &&
                  change_root(root, new_root, file.records, error);
        signer = &new_root;
    }
    if (!changed || !sign_and_write(folder, *signer, file, error)) return report_error(error, EXIT_FAILED);
    print_summary(folder, file.records);
    return EXIT_OK;
}

}  // namespace

int run_keys(const std::vector<std::string>& args)
{
    CommandArgs parsed;
    std::string error;
    if (!split_args(args, {"--from", "--root", "--new-root", "--lower-mark"}, parsed, error))
        return report_error(error + "\n" + KEYS_USAGE, EXIT_USAGE);
    const std::string action = parsed.positional.empty() ? std::string() : parsed.positional[0];
    const bool names_key = action == "add" || action == "withdraw";
    const bool usable = (names_key && parsed.positional.size() == 3 && parsed.has("--from") &&
                         !parsed.has("--new-root") && (action == "withdraw" || !parsed.has("--lower-mark"))) ||
                        (action == "change-root" && parsed.positional.size() == 2 && parsed.has("--new-root") &&
                         !parsed.has("--from") && !parsed.has("--lower-mark"));
    if (!usable || !parsed.has("--root")) return report_error(KEYS_USAGE, EXIT_USAGE);
    return run_change(action, parsed);
}
