#include "formats/manifest.h"

#include "formats/json.h"
#include "formats/relative_path.h"

#include <cmath>
#include <set>

namespace {

int64_t truncate_to_int64(double v)
{
    if (std::isnan(v)) return 0;
    if (v >= 9.2233720368547758e18) return INT64_MAX;
    if (v <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(v);
}

ManifestFile read_file_entry(const JsonValue& entry)
{
    ManifestFile f;
    f.path = json_member(entry, "p").text;
    f.hash = json_member(entry, "h").text;
    f.size = truncate_to_int64(json_member(entry, "s").number);
    for (const JsonValue& piece : json_member(entry, "c").items) {
        PieceRef ref;
        ref.id = piece[0].text;
        ref.transfer_size = truncate_to_int64(piece[1].number);
        double stored = piece[2].number;
        ref.stored = stored != 0 || std::isnan(stored);
        f.pieces.push_back(std::move(ref));
    }
    return f;
}

bool pieces_are_safe(const ManifestFile& f)
{
    for (const PieceRef& p : f.pieces)
        if (!is_piece_id(p.id)) return false;
    return true;
}

std::string ascii_lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The launcher's own files in the install folder; a game file of the same
// name would be overwritten by them, or hold them open, on every update.
bool is_launcher_owned(const std::string& lower)
{
    return lower == ".twinstall.json" || lower == ".twinstall.json.part" ||
           lower.rfind(".twmanifest.", 0) == 0 ||
           lower == "launcher.log" || lower == ".twupdate" || lower.rfind(".twupdate/", 0) == 0 ||
           lower == "launcher/tarnwick.exe";
}

// Windows ignores ASCII case in file names: two entries naming one place, or
// a file that is also another entry's folder, would overwrite each other.
bool places_are_distinct(const std::vector<ManifestFile>& files)
{
    std::set<std::string> names, folders;
    for (const ManifestFile& f : files) {
        std::string lower = ascii_lower(f.path);
        if (is_launcher_owned(lower) || !names.insert(lower).second) return false;
        for (size_t i = lower.find('/'); i != std::string::npos; i = lower.find('/', i + 1))
            folders.insert(lower.substr(0, i));
    }
    for (const std::string& name : names)
        if (folders.count(name)) return false;
    return true;
}

}  // namespace

bool parse_manifest(const std::string& text, Manifest& manifest)
{
    JsonValue root;
    if (!parse_json_document(text, root)) return false;
    double format = json_member(root, "format").number;
    if (std::isnan(format) || std::trunc(format) != 1) return false;

    manifest.version = json_member(root, "version").text;
    manifest.build = json_member(root, "build").text;
    int64_t piece = truncate_to_int64(json_member(root, "piece").number);
    if (piece > 0) manifest.piece_size = piece;
    const JsonValue& run = json_member(root, "run");
    manifest.run_exe = json_member(run, "exe").text;
    manifest.run_args = json_member(run, "args").text;
    for (const JsonValue& entry : json_member(root, "files").items)
        manifest.files.push_back(read_file_entry(entry));
    const JsonValue& launcher = json_member(root, "launcher");
    manifest.launcher = read_file_entry(launcher);
    int64_t lv = truncate_to_int64(json_member(launcher, "version").number);
    manifest.launcher_version = static_cast<int32_t>(static_cast<uint32_t>(lv & 0xFFFFFFFF));

    if (manifest.files.empty() || manifest.run_exe.empty()) return false;
    // These strings become file-system and request paths: refuse the whole
    // manifest when any of them could leave the install folder.
    if (!is_safe_run_exe(manifest.run_exe)) return false;
    for (const ManifestFile& f : manifest.files)
        if (!is_safe_relative_path(f.path) || !pieces_are_safe(f)) return false;
    return places_are_distinct(manifest.files) && pieces_are_safe(manifest.launcher);
}
