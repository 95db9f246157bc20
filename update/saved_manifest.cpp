#include "update/saved_manifest.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/whole_file.h"
#include "net/server_paths.h"
#include "update/manifest_trust.h"

#include <windows.h>

namespace {

// Written by the update run's thread only, like the accepted manifest.
struct ReceivedManifest {
    std::string body;
    std::string signature;
};
ReceivedManifest received;

bool save_unless_same(const std::wstring& path, const std::string& bytes, size_t bound)
{
    std::string saved;
    if (read_whole_file_into(path, saved, bound) && saved == bytes) return true;
    return write_file_atomic(path, bytes);
}

}  // namespace

std::wstring saved_manifest_path() { return join_path(install_dir, L".twmanifest.json"); }
std::wstring saved_signature_path() { return join_path(install_dir, L".twmanifest.sig"); }

void keep_received_manifest(std::string body, std::string signature)
{
    received.body = std::move(body);
    received.signature = std::move(signature);
}

bool save_received_manifest()
{
    if (received.body.empty() || received.signature.empty()) return false;
    // The signature goes last: a cut between the two writes leaves a pair
    // that does not verify, which loading ignores.
    bool saved = save_unless_same(saved_manifest_path(), received.body, MANIFEST_MAX_BYTES) &&
                 save_unless_same(saved_signature_path(), received.signature, SIGNATURE_BYTES);
    if (!saved) log_line("could not save the installed manifest (error %lu)", GetLastError());
    return saved;
}

namespace {

bool load_saved_manifest_and_bytes(Manifest& manifest, std::string& body)
{
    std::string signature;
    if (!read_whole_file_into(saved_manifest_path(), body, MANIFEST_MAX_BYTES) ||
        !read_whole_file_into(saved_signature_path(), signature, SIGNATURE_BYTES))
        return false;
    if (!saved_manifest_signature_ok(body, signature)) {
        log_line("the saved manifest's signature does not verify -- ignoring it");
        return false;
    }
    Manifest loaded;
    if (!parse_manifest(body, loaded)) return false;
    manifest = std::move(loaded);
    return true;
}

}  // namespace

bool load_saved_manifest(Manifest& manifest)
{
    std::string body;
    return load_saved_manifest_and_bytes(manifest, body);
}

ReleaseMark installed_release_mark()
{
    Manifest manifest;
    std::string body;
    if (!load_saved_manifest_and_bytes(manifest, body)) return {};
    return release_mark(manifest, std::move(body));
}
