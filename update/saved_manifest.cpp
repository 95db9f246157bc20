#include "update/saved_manifest.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "net/server_paths.h"
#include "update/key_store.h"
#include "update/manifest_trust.h"

#include <windows.h>

namespace {

bool holds(const std::wstring& path, const std::string& bytes, size_t bound)
{
    std::string saved;
    return read_whole_file_into(path, saved, bound) && saved == bytes;
}

bool parse_verified(const std::wstring& install_folder, const std::string& body, const std::string& signature,
                    Manifest& manifest)
{
    if (!saved_manifest_signature_ok(install_folder, body, signature)) return false;
    Manifest loaded;
    if (!parse_manifest(body, loaded)) return false;
    manifest = std::move(loaded);
    return true;
}

// A save cut between the two names leaves the new manifest beside the old
// signature, the new one still in its ".part": when those two verify, the
// save is finished here.
bool finish_cut_save(const std::wstring& install_folder, const std::string& body, Manifest& manifest)
{
    std::string signature;
    const std::wstring part = saved_signature_path(install_folder) + L".part";
    if (!read_whole_file_into(part, signature, SIGNATURE_BYTES) ||
        !parse_verified(install_folder, body, signature, manifest))
        return false;
    if (move_part_into_place(saved_signature_path(install_folder))) log_line("finished saving the installed manifest");
    return true;
}

bool load_saved_manifest_and_bytes(const std::wstring& install_folder, Manifest& manifest, std::string& body)
{
    std::string signature;
    if (!read_whole_file_into(saved_manifest_path(install_folder), body, MANIFEST_MAX_BYTES)) return false;
    if (read_whole_file_into(saved_signature_path(install_folder), signature, SIGNATURE_BYTES) &&
        parse_verified(install_folder, body, signature, manifest))
        return true;
    if (finish_cut_save(install_folder, body, manifest)) return true;
    log_line("the saved manifest's signature does not verify -- ignoring it");
    return false;
}

}  // namespace

std::wstring saved_manifest_path(const std::wstring& install_folder)
{
    return join_path(install_folder, L".twmanifest.json");
}

std::wstring saved_signature_path(const std::wstring& install_folder)
{
    return join_path(install_folder, L".twmanifest.sig");
}

ReleaseMark received_release_mark(const std::wstring& install_folder, const Manifest& manifest,
                                  const ReceivedManifest& received)
{
    ReleaseMark mark = release_mark(manifest, sha256_bytes(received.body.data(), received.body.size()));
    mark.signer = manifest_signer_key(install_folder, received.body, received.signature);
    return mark;
}

bool save_received_manifest(const std::wstring& install_folder, const ReceivedManifest& received)
{
    if (received.body.empty() || received.signature.empty()) return false;
    const std::wstring manifest_path = saved_manifest_path(install_folder);
    const std::wstring signature_path = saved_signature_path(install_folder);
    if (holds(manifest_path, received.body, MANIFEST_MAX_BYTES) &&
        holds(signature_path, received.signature, SIGNATURE_BYTES))
        return true;
    // Both halves are whole on the disk before either takes its name, the
    // manifest first: loading finishes a save cut between the two.
    Manifest check;
    const bool saved = write_part_file(manifest_path, received.body) &&
                       write_part_file(signature_path, received.signature) &&
                       move_part_into_place(manifest_path) && move_part_into_place(signature_path) &&
                       load_saved_manifest(install_folder, check);
    if (!saved) log_line("could not save the installed manifest (error %lu)", GetLastError());
    return saved;
}

bool load_saved_manifest(const std::wstring& install_folder, Manifest& manifest)
{
    std::string body;
    return load_saved_manifest_and_bytes(install_folder, manifest, body);
}

ReleaseMark installed_release_mark(const std::wstring& install_folder, const InstallState& state)
{
    if (state.release) return *state.release;
    Manifest manifest;
    std::string body;
    if (!load_saved_manifest_and_bytes(install_folder, manifest, body)) return {};
    return release_mark(manifest, sha256_bytes(body.data(), body.size()));
}
