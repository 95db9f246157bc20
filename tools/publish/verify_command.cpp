#include "formats/manifest.h"
#include "formats/piece_codec.h"
#include "formats/relative_path.h"
#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/key_records_file.h"
#include "tools/publish/manifest_signature.h"
#include "tools/publish/piece_store.h"
#include "tools/publish/published_file.h"
#include "tools/publish/sha256_text.h"
#include "tools/publish/staged_file.h"
#include "tools/publish/utf8_text.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

namespace {

constexpr size_t MOST_PROBLEMS = 10;
constexpr int64_t LARGEST_PIECE = int64_t(1) << 30;

// Collects what is wrong; checking stops once enough has been found.
class Problems {
public:
    void add(const std::string& text)
    {
        if (list_.size() < MOST_PROBLEMS) list_.push_back(text);
        ++count_;
    }
    bool enough() const { return count_ >= MOST_PROBLEMS; }
    bool none() const { return count_ == 0; }
    int report() const
    {
        for (const std::string& text : list_) std::fprintf(stderr, "problem: %s\n", text.c_str());
        if (count_ > list_.size()) std::fprintf(stderr, "(checking stopped there)\n");
        std::fprintf(stderr, "tarnwick-publish: verify failed\n");
        return EXIT_FAILED;
    }

private:
    std::vector<std::string> list_;
    size_t count_ = 0;
};

// The raw bytes of one piece, or false with the problem recorded.
bool load_piece(const std::string& out, const PieceRef& piece, uint64_t raw_size,
                const std::string& where, std::vector<uint8_t>& raw, Problems& problems)
{
    std::string body, error;
    if (!read_file(piece_path(out, piece.id), body, error)) {
        problems.add(where + ": piece file missing or unreadable (" + error + ")");
        return false;
    }
    if (static_cast<int64_t>(body.size()) != piece.transfer_size)
        problems.add(where + ": transfer size " + std::to_string(piece.transfer_size) +
                     " but the piece file has " + std::to_string(body.size()) + " bytes");
    raw.resize(raw_size);
    if (piece.stored) {
        if (body.size() != raw_size) {
            problems.add(where + ": stored piece is " + std::to_string(body.size()) +
                         " bytes, expected " + std::to_string(raw_size));
            return false;
        }
        raw.assign(body.begin(), body.end());
    } else if (!decompress_piece(reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                 raw.data(), raw_size)) {
        problems.add(where + ": does not decode to " + std::to_string(raw_size) + " bytes");
        return false;
    }
    if (sha256_hex(raw.data(), raw.size()) != piece.id) {
        problems.add(where + ": content does not hash to its id");
        return false;
    }
    return true;
}

void check_file(const std::string& out, const ManifestFile& file, int64_t piece_size,
                const std::string& name, Problems& problems, uint64_t& piece_total)
{
    if (file.size < 0) {
        problems.add(name + ": negative size");
        return;
    }
    auto size = static_cast<uint64_t>(file.size);
    auto piece = static_cast<uint64_t>(piece_size);
    if (file.pieces.size() != piece_count(size, piece)) {
        problems.add(name + ": " + std::to_string(file.pieces.size()) + " pieces for " +
                     std::to_string(size) + " bytes, expected " +
                     std::to_string(piece_count(size, piece)));
        return;
    }
    Sha256 whole;
    std::vector<uint8_t> raw;
    bool pieces_ok = true;
    for (size_t k = 0; k < file.pieces.size() && !problems.enough(); ++k) {
        std::string where = name + " piece " + std::to_string(k) + " (" + file.pieces[k].id + ")";
        if (!load_piece(out, file.pieces[k], piece_raw_size(size, piece, k), where, raw, problems))
            pieces_ok = false;
        else
            whole.update(raw.data(), raw.size());
        ++piece_total;
    }
    if (pieces_ok && !problems.enough() && whole.finish_hex() != file.hash)
        problems.add(name + ": its pieces do not hash to the file's hash");
}

void check_listing(const Manifest& manifest, Problems& problems)
{
    std::set<std::string> paths;
    bool exe_listed = false;
    for (const ManifestFile& f : manifest.files) {
        if (!paths.insert(f.path).second) problems.add(printable_text(f.path) + ": listed twice");
        if (!is_valid_utf8(f.path)) problems.add(printable_text(f.path) + ": path is not UTF-8");
        exe_listed = exe_listed || f.path == manifest.run_exe;
    }
    if (!exe_listed) problems.add("run/exe " + printable_text(manifest.run_exe) + " is not among the files");
    if (manifest.piece_size > LARGEST_PIECE)
        problems.add("piece size " + std::to_string(manifest.piece_size) + " is larger than 1 GiB");
}

// The signer among the records' keys, in words, when it may sign the
// manifest's serial; empty with the problem recorded otherwise.
std::string release_signer(const KeyRecords& records, const RecordsVerdict& verdict, const std::string& text,
                           const std::string& signature, Problems& problems)
{
    const ManifestSigner signer =
        find_manifest_signer(records, verdict.newest_root, text, signature, openssl_signature_check);
    const std::string where = ", keys.json " + std::to_string(records.sequence) + ", root " +
                              std::to_string(verdict.newest_root + 1);
    if (signer.kind == ManifestSigner::newest_root) return "root " + std::to_string(verdict.newest_root + 1) + where;
    if (signer.kind == ManifestSigner::nobody) {
        problems.add("manifest.sig: keys.json names no key that verifies it (unknown_key)");
        return {};
    }
    Manifest manifest;
    if (!parse_manifest(text, manifest)) return {};   // the caller reports the manifest's refusal
    const ReleaseKey& key = *signer.key;
    const KeyRefusal refusal = judge_release_key(key, manifest.has_serial, manifest.serial);
    if (refusal == KeyRefusal::none)
        return "release key " + key_name(key.key) + " (valid from serial " + std::to_string(key.from) + ")" + where;
    problems.add("manifest.sig: " + release_key_refusal_text(key, refusal, manifest.has_serial, manifest.serial) +
                 " (" + key_refusal_name(refusal) + ")");
    return {};
}

// The manifest's signer as a launcher built with `root` judges it: the root
// itself, or a key that OUT/keys.json (reached from that root) makes valid for
// the manifest's serial. Records in OUT are checked even when the root signed
// the manifest: launchers fetch them for the next release. Returns the
// signer in words; empty with the problems recorded otherwise.
std::string check_signer(const std::string& out, const std::string& root, const std::string& text,
                         const std::string& signature, const std::string& pub_path, Problems& problems)
{
    RecordsFile file;
    RecordsVerdict verdict;
    std::string error;
    const bool has_records = has_key_records(out);
    const bool records_ok =
        has_records && read_key_records(out, file, error) && check_records_from_root(file, root, verdict, error);
    if (has_records && !records_ok) problems.add(error);
    if (openssl_signature_check(root, text, signature)) return "the root " + key_name(root) + " directly";
    if (records_ok) return release_signer(file.records, verdict, text, signature, problems);
    problems.add("manifest.sig does not verify manifest.json with " + pub_path +
                 (has_records ? "" : " (and OUT has no keys.json)"));
    return {};
}

}  // namespace

int run_verify(const std::vector<std::string>& args)
{
    CommandArgs parsed;
    std::string error;
    if (!split_args(args, {"--pub"}, parsed, error)) return report_error(error, EXIT_USAGE);
    if (parsed.positional.size() != 1 || !parsed.has("--pub"))
        return report_error("usage: tarnwick-publish verify OUT --pub ROOT_PUBLIC.pem", EXIT_USAGE);
    const std::string& out = parsed.positional[0];

    PkeyPtr key;
    std::string root, text, signature;
    if (!load_public_key(parsed.value("--pub"), key, error) || !raw_public_key(key.get(), root, error) ||
        !read_file(out + "/manifest.json", text, error) ||
        !read_file(out + "/manifest.sig", signature, error))
        return report_error(error, EXIT_FAILED);

    Problems problems;
    const std::string signer = check_signer(out, root, text, signature, parsed.value("--pub"), problems);
    Manifest manifest;
    DocumentRefusal refusal = DocumentRefusal::none;
    if (!parse_manifest(text, manifest, &refusal)) {
        problems.add(std::string("the manifest was refused (") + document_refusal_name(refusal) + ")");
        problems.add("manifest.json is refused by the launcher's manifest reader");
        return problems.report();
    }
    check_listing(manifest, problems);
    if (manifest.piece_size > LARGEST_PIECE) return problems.report();

    uint64_t pieces = 0, bytes = 0;
    for (const ManifestFile& f : manifest.files) {
        if (problems.enough()) break;
        check_file(out, f, manifest.piece_size, printable_text(f.path), problems, pieces);
        bytes += static_cast<uint64_t>(std::max<int64_t>(f.size, 0));
    }
    bool has_launcher = !manifest.launcher.pieces.empty() || manifest.launcher_version != 0;
    if (has_launcher && !problems.enough())
        check_file(out, manifest.launcher, manifest.piece_size, "launcher", problems, pieces);
    if (!problems.none()) return problems.report();

    std::printf("ok: %zu files, %llu pieces, %llu bytes", manifest.files.size(),
                static_cast<unsigned long long>(pieces), static_cast<unsigned long long>(bytes));
    if (has_launcher) std::printf(", launcher v%d", manifest.launcher_version);
    std::printf("\nsigned by %s\n", signer.c_str());
    return EXIT_OK;
}
