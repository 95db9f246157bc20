#pragma once
// The signed description of one published release: files, their pieces, the
// game's command line and the launcher that goes with it.
#include "formats/document_refusal.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t DEFAULT_PIECE_SIZE = 16777216;   // 16 MiB

struct PieceRef {
    std::string id;              // SHA-256 of the raw piece, 64 lowercase hex
    int64_t transfer_size = 0;   // bytes on the server
    bool stored = false;         // the server holds the raw bytes
};

struct ManifestFile {
    std::string path;   // relative, '/'-separated, UTF-8
    std::string hash;   // SHA-256 of the whole file, 64 lowercase hex
    int64_t size = 0;
    std::vector<PieceRef> pieces;
};

struct Manifest {
    std::string version;
    std::string build;
    std::string run_exe;
    std::string run_args;
    int64_t piece_size = DEFAULT_PIECE_SIZE;
    std::vector<ManifestFile> files;
    ManifestFile launcher;
    int32_t launcher_version = 0;
    // The publisher numbers every release it signs, one higher each time; a
    // launcher that has installed a numbered release refuses older ones.
    bool has_serial = false;
    int64_t serial = 0;
};

// Reads the (already signature-checked) body of "manifest.json". True when the
// manifest is accepted; otherwise the rule that refused it is in *reason when
// reason is given. Besides the format rules, a manifest whose paths or ids
// could reach outside the install folder is refused as a whole.
bool parse_manifest(const std::string& text, Manifest& manifest, DocumentRefusal* reason = nullptr);

// The first of the paths that would share its place in the install folder
// with another one on Windows (names differing only in case, over all of
// Unicode; a file that is also another path's folder) or with the launcher's
// own files ("launcher", "launcher.log", ".twupdate", ...); empty when every
// path has a place of its own. The paths must be safe relative paths.
std::string conflicting_path(const std::vector<std::string>& paths);
