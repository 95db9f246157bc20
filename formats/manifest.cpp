#include "formats/manifest.h"

#include "base/checked_arithmetic.h"
#include "formats/file_name_case.h"
#include "formats/json.h"
#include "formats/relative_path.h"

#include <cmath>
#include <map>
#include <set>

namespace {

ManifestFile read_file_entry(const JsonValue& entry)
{
    ManifestFile f;
    f.path = json_member(entry, "p").text;
    f.hash = json_member(entry, "h").text;
    f.size = double_to_int64(json_member(entry, "s").number);
    for (const JsonValue& piece : json_member(entry, "c").items) {
        PieceRef ref;
        ref.id = piece[0].text;
        ref.transfer_size = double_to_int64(piece[1].number);
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

bool is_or_below(const std::string& key, const std::string& folder)
{
    return key == folder || key.rfind(folder + "/", 0) == 0;
}

// The launcher's own files and folders in the install folder (the installed
// launcher lives in "launcher"); a game file of the same name would be
// overwritten by them, or hold them open, on every update. `key` is a
// file_name_key, so these are upper case.
bool is_launcher_owned(const std::string& key)
{
    return key == ".TWINSTALL.JSON" || key == ".TWINSTALL.JSON.PART" || key == "LAUNCHER.LOG" ||
           key == ".TWLOCK" || key.rfind(".TWKEYS", 0) == 0 ||
           key.rfind(".TWMANIFEST.", 0) == 0 || is_or_below(key, ".TWUPDATE") ||
           is_or_below(key, "LAUNCHER");
}

}  // namespace

// Windows ignores case in file names, over all of Unicode: two entries naming
// one place, or a file that is also another entry's folder, would overwrite
// each other.
std::string conflicting_path(const std::vector<std::string>& paths)
{
    std::map<std::string, const std::string*> names;
    std::set<std::string> folders;
    for (const std::string& path : paths) {
        std::string key = file_name_key(path);
        if (is_launcher_owned(key) || !names.emplace(key, &path).second) return path;
        for (size_t i = key.find('/'); i != std::string::npos; i = key.find('/', i + 1))
            folders.insert(key.substr(0, i));
    }
    for (const auto& [key, path] : names)
        if (folders.count(key)) return *path;
    return {};
}

bool parse_manifest(const std::string& text, Manifest& manifest, DocumentRefusal* reason)
{
    auto refuse = [reason](DocumentRefusal why) {
        if (reason) *reason = why;
        return false;
    };
    if (reason) *reason = DocumentRefusal::none;
    JsonValue root;
    if (!parse_json_document(text, root)) return refuse(DocumentRefusal::syntax);
    if (double_to_int64(json_member(root, "format").number) != 1) return refuse(DocumentRefusal::format);

    manifest.version = json_member(root, "version").text;
    manifest.build = json_member(root, "build").text;
    int64_t piece = double_to_int64(json_member(root, "piece").number);
    if (piece > 0) manifest.piece_size = piece;
    const JsonValue& run = json_member(root, "run");
    manifest.run_exe = json_member(run, "exe").text;
    manifest.run_args = json_member(run, "args").text;
    for (const JsonValue& entry : json_member(root, "files").items)
        manifest.files.push_back(read_file_entry(entry));
    const JsonValue& launcher = json_member(root, "launcher");
    manifest.launcher = read_file_entry(launcher);
    int64_t lv = double_to_int64(json_member(launcher, "version").number);
    manifest.launcher_version = static_cast<int32_t>(static_cast<uint32_t>(lv & 0xFFFFFFFF));
    const JsonValue& serial = json_member(root, "serial");
    manifest.has_serial = serial.kind == JsonValue::Number;
    manifest.serial = manifest.has_serial ? double_to_int64(serial.number) : 0;

    if (manifest.files.empty()) return refuse(DocumentRefusal::no_files);
    if (manifest.run_exe.empty()) return refuse(DocumentRefusal::no_exe);
    // These strings become file-system and request paths: refuse the whole
    // manifest when any of them could leave the install folder.
    if (!is_safe_run_exe(manifest.run_exe)) return refuse(DocumentRefusal::unsafe_run_exe);
    for (const ManifestFile& f : manifest.files) {
        if (!is_safe_relative_path(f.path)) return refuse(DocumentRefusal::unsafe_path);
        if (!pieces_are_safe(f)) return refuse(DocumentRefusal::bad_piece_id);
    }
    std::vector<std::string> paths;
    for (const ManifestFile& f : manifest.files) paths.push_back(f.path);
    if (!conflicting_path(paths).empty()) return refuse(DocumentRefusal::conflicting_path);
    if (!pieces_are_safe(manifest.launcher)) return refuse(DocumentRefusal::bad_piece_id);
    return true;
}
