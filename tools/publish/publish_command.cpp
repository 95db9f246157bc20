#include "formats/json.h"
#include "formats/manifest.h"
#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/key_records_file.h"
#include "tools/publish/manifest_signature.h"
#include "tools/publish/manifest_text.h"
#include "tools/publish/piece_publisher.h"
#include "tools/publish/piece_store.h"
#include "tools/publish/progress_meter.h"
#include "tools/publish/source_tree.h"
#include "tools/publish/staged_file.h"
#include "tools/publish/utf8_text.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace {

const char PUBLISH_USAGE[] =
    "usage: tarnwick-publish publish SRC OUT --key PRIVATE.pem --version V --build B --exe REL "
    "[--args TEXT] [--piece BYTES] [--launcher FILE --launcher-version N] [--serial N]";

// Serials travel as JSON numbers, which the launcher reads as doubles: kept
// where every whole number is exact.
constexpr uint64_t LARGEST_SERIAL = (uint64_t(1) << 53) - 1;

// Pieces are held whole in memory, several at a time, here and in the launcher.
constexpr uint64_t LARGEST_PIECE = uint64_t(1) << 30;

// Where the launcher entry says its file lives; the launcher itself ignores it.
const char LAUNCHER_MANIFEST_PATH[] = "launcher/tarnwick.exe";

struct PublishRequest {
    std::string source, out, key_path;
    std::string launcher_path;
    bool has_serial_floor = false;
    uint64_t serial_floor = 0;   // --serial: the serial of the last release published
    ReleaseDescription release;
};

bool read_request(const std::vector<std::string>& args, PublishRequest& request,
                  std::string& error)
{
    CommandArgs parsed;
    if (!split_args(args,
                    {"--key", "--version", "--build", "--exe", "--args", "--piece", "--launcher",
                     "--launcher-version", "--serial"},
                    parsed, error))
        return false;
    if (parsed.positional.size() != 2) {
        error = "publish needs SRC and OUT";
        return false;
    }
    for (const char* required : {"--key", "--version", "--build", "--exe"}) {
        if (!parsed.has(required)) {
            error = std::string(required) + " is required";
            return false;
        }
    }
    request.source = parsed.positional[0];
    request.out = parsed.positional[1];
    request.key_path = parsed.value("--key");
    ReleaseDescription& release = request.release;
    release.version = parsed.value("--version");
    release.build = parsed.value("--build");
    release.run_exe = parsed.value("--exe");
    release.run_args = parsed.value("--args");
    for (const std::string* text : {&release.version, &release.build, &release.run_exe, &release.run_args}) {
        if (!is_valid_utf8(*text)) {
            error = "not valid UTF-8: " + printable_text(*text);
            return false;
        }
    }
    release.piece_size = 16777216;
    if (parsed.has("--piece") &&
        (!parse_decimal(parsed.value("--piece"), LARGEST_PIECE, release.piece_size) ||
         release.piece_size == 0)) {
        error = "--piece must be a byte count from 1 to " + std::to_string(LARGEST_PIECE);
        return false;
    }
    request.has_serial_floor = parsed.has("--serial");
    if (request.has_serial_floor &&
        !parse_decimal(parsed.value("--serial"), LARGEST_SERIAL - 1, request.serial_floor)) {
        error = "--serial must be a whole number from 0 to " + std::to_string(LARGEST_SERIAL - 1);
        return false;
    }
    if (parsed.has("--launcher") != parsed.has("--launcher-version")) {
        error = "--launcher and --launcher-version go together";
        return false;
    }
    if (parsed.has("--launcher")) {
        uint64_t version = 0;
        if (!parse_decimal(parsed.value("--launcher-version"), INT32_MAX, version)) {
            error = "--launcher-version must be a whole number from 0 to " + std::to_string(INT32_MAX);
            return false;
        }
        release.has_launcher = true;
        release.launcher_version = static_cast<int32_t>(version);
        request.launcher_path = parsed.value("--launcher");
    }
    return true;
}

// Publishing into the source folder would publish the pieces themselves next time.
bool out_is_outside_source(const PublishRequest& request, std::string& error)
{
    std::error_code ec;
    auto source = std::filesystem::weakly_canonical(request.source, ec);
    auto out = ec ? source : std::filesystem::weakly_canonical(request.out, ec);
    if (ec) {
        error = "cannot resolve " + request.out;
        return false;
    }
    auto [end, _] = std::mismatch(source.begin(), source.end(), out.begin(), out.end());
    if (end == source.end()) {
        error = "OUT must not lie inside SRC";
        return false;
    }
    return true;
}

bool gather_sources(PublishRequest& request, std::vector<SourceFile>& sources, std::string& error)
{
    if (!collect_source_files(request.source, sources, error)) return false;
    if (sources.empty()) {
        error = "nothing to publish: " + request.source + " holds no files";
        return false;
    }
    const std::string& exe = request.release.run_exe;
    if (!std::any_of(sources.begin(), sources.end(),
                     [&](const SourceFile& f) { return f.path == exe; })) {
        error = "--exe " + printable_text(exe) + " is not a file below " + request.source +
                " (give its path relative to SRC, with '/')";
        return false;
    }
    if (request.release.has_launcher) {
        SourceFile launcher;
        if (!describe_single_file(request.launcher_path, LAUNCHER_MANIFEST_PATH, launcher, error))
            return false;
        if (launcher.size == 0) {
            error = "the launcher file " + request.launcher_path + " is empty";
            return false;
        }
        sources.push_back(launcher);   // published last, after the game's files
    }
    return true;
}

bool make_out_folder(const std::string& out, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(out + "/chunks", ec);
    if (ec) {
        error = "cannot create " + out + "/chunks: " + ec.message();
        return false;
    }
    remove_stale_temp_files_below(out);
    return true;
}

// Launchers that installed the release now in OUT refuse any manifest with a
// lower serial (an old signed release replayed by the network), so the new
// one is numbered above both that release and --serial.
bool choose_serial(PublishRequest& request, std::string& error)
{
    uint64_t last = request.serial_floor;
    const std::string path = request.out + "/manifest.json";
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        std::string text;
        JsonValue root;
        if (!read_file(path, text, error)) return false;
        const bool readable = parse_json_document(text, root);
        if (!readable && !request.has_serial_floor) {
            error = "cannot read the serial of " + path + " -- give the last one with --serial N";
            return false;
        }
        const JsonValue& serial = json_member(root, "serial");
        if (serial.kind == JsonValue::Number && serial.number > static_cast<double>(last))
            last = serial.number >= static_cast<double>(LARGEST_SERIAL)
                       ? LARGEST_SERIAL
                       : static_cast<uint64_t>(serial.number);
    }
    if (last >= LARGEST_SERIAL) {
        error = "the serial of " + path + " is at its largest (" + std::to_string(LARGEST_SERIAL) + ")";
        return false;
    }
    request.release.serial = last + 1;
    return true;
}

// The launcher must accept what it will be served: parse the text with its
// own reader and check the fresh signature before anything is replaced.
bool check_before_writing(EVP_PKEY* key, const std::string& text, const std::string& signature,
                          std::string& error)
{
    Manifest manifest;
    DocumentRefusal refusal = DocumentRefusal::none;
    if (!parse_manifest(text, manifest, &refusal)) {
        std::fprintf(stderr, "tarnwick-publish: the manifest was refused (%s)\n", document_refusal_name(refusal));
        error = "the launcher would refuse this manifest -- nothing written";
        return false;
    }
    if (!verify_manifest_signature(key, text, signature)) {
        error = "the new signature does not verify -- nothing written";
        return false;
    }
    return true;
}

// When OUT holds key records, launchers that do not take the manifest from
// the root directly judge its key by them: a key they do not make valid for
// the new serial would leave every such player on the old release.
bool check_against_key_records(const std::string& out, const std::string& text, const std::string& signature,
                               uint64_t serial, std::string& error)
{
    if (!has_key_records(out)) return true;
    RecordsFile file;
    if (!read_key_records(out, file, error)) return false;
    const KeyRecords& records = file.records;
    const ManifestSigner signer =
        find_manifest_signer(records, records.roots.size() - 1, text, signature, openssl_signature_check);
    const KeyRefusal refusal = judge_manifest_signer(signer, true, static_cast<int64_t>(serial));
    if (refusal == KeyRefusal::none) return true;
    error = "by " + out + "/keys.json, --key may not sign serial " + std::to_string(serial) + " (" +
            key_refusal_name(refusal) + ") -- nothing written";
    return false;
}

// Pieces are all on disk; the manifest goes next and its signature last, so
// the server never names a piece it lacks.
bool write_manifest(const std::string& out, const std::string& text, const std::string& signature,
                    std::string& error)
{
    return write_file_replacing(out + "/manifest.json", text, error) &&
           write_file_replacing(out + "/manifest.sig", signature, error) && sync_folder(out, error);
}

}  // namespace

int run_publish(const std::vector<std::string>& args)
{
    PublishRequest request;
    std::string error;
    if (!read_request(args, request, error))
        return report_error(error + "\n" + PUBLISH_USAGE, EXIT_USAGE);
    auto started = std::chrono::steady_clock::now();

    PkeyPtr key;
    std::vector<SourceFile> sources;
    if (!load_private_key(request.key_path, key, error) || !out_is_outside_source(request, error) ||
        !gather_sources(request, sources, error) || !make_out_folder(request.out, error) ||
        !choose_serial(request, error))
        return report_error(error, EXIT_FAILED);

    std::vector<PublishedFile> published;
    PieceTotals totals;
    if (!publish_pieces(sources, request.release.piece_size, request.out, published, totals, error))
        return report_error(error + " -- manifest not written", EXIT_FAILED);
    ReleaseDescription& release = request.release;
    if (release.has_launcher) {
        release.launcher = published.back();
        published.pop_back();
    }
    release.files = std::move(published);

    std::string text = render_manifest(release);
    std::string signature;
    if (!sign_manifest(key.get(), text, signature, error) ||
        !check_before_writing(key.get(), text, signature, error) ||
        !check_against_key_records(request.out, text, signature, release.serial, error) ||
        !write_manifest(request.out, text, signature, error))
        return report_error(error, EXIT_FAILED);

    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("published %zu files, %s, %llu pieces (%llu new, %s) in %.1f s, serial %llu\n",
                release.files.size(), format_bytes(totals.raw_bytes).c_str(),
                static_cast<unsigned long long>(totals.pieces),
                static_cast<unsigned long long>(totals.new_pieces),
                format_bytes(totals.new_bytes).c_str(), seconds,
                static_cast<unsigned long long>(release.serial));
    return EXIT_OK;
}
