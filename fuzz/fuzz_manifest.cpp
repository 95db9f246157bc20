// Feeds arbitrary bytes to the manifest reader: whatever a server sends,
// reading it must neither crash nor accept a path that leaves the install
// folder, nor two paths that name one file on Windows.
#include "formats/file_name_case.h"
#include "formats/manifest.h"
#include "formats/relative_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Manifest manifest;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!parse_manifest(text, manifest)) return 0;
    std::set<std::string> keys;
    for (const ManifestFile& f : manifest.files) {
        if (!is_safe_relative_path(f.path) || !keys.insert(file_name_key(f.path)).second) std::abort();
        for (const PieceRef& p : f.pieces)
            if (!is_piece_id(p.id)) std::abort();
    }
    if (!is_safe_run_exe(manifest.run_exe)) std::abort();
    return 0;
}
