#pragma once
// The manifest of the release last installed, kept in the install folder
// exactly as it was received, with its detached signature: ".twmanifest.json"
// and ".twmanifest.sig" beside the install state file. It tells a later update
// which pieces the installed files hold, so those need not be downloaded
// again, lets the installed files be checked without the server, and stands
// in for an install state that cannot be used. It is trusted only as the
// signed original: loading verifies the signature again, with the root or a
// key that the kept key records name.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/release_order.h"

#include <string>

// The bodies of the manifest a run accepted, exactly as received, kept by the
// run until the install commits (or is found up to date).
struct ReceivedManifest {
    std::string body;
    std::string signature;
};

// The mark of the release a run accepted (manifest, parsed from received),
// with the key that signed it.
ReleaseMark received_release_mark(const std::wstring& install_folder, const Manifest& manifest,
                                  const ReceivedManifest& received);

// Writes the received bodies beside the install state file, both through
// their ".part" files before either takes its name, then checks that the
// pair loads. A cut between the two names leaves the new manifest with the
// new signature still in its ".part", which loading completes. Skipped when
// the saved pair already holds those bytes. False when nothing was
// received, a write failed or the pair does not load back.
bool save_received_manifest(const std::wstring& install_folder, const ReceivedManifest& received);

// The saved manifest, when both files are there, within their size bounds,
// the signature verifies (saved_manifest_signature_ok) and the manifest is
// accepted.
// False (and manifest untouched) otherwise.
bool load_saved_manifest(const std::wstring& install_folder, Manifest& manifest);

// The installed release's mark: the one the install state keeps; for a state
// written before it kept one, the saved manifest's (no serial when that does
// not load).
ReleaseMark installed_release_mark(const std::wstring& install_folder, const InstallState& state);

// The install folder joined with ".twmanifest.json" / ".twmanifest.sig".
std::wstring saved_manifest_path(const std::wstring& install_folder);
std::wstring saved_signature_path(const std::wstring& install_folder);
