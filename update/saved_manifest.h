#pragma once
// The manifest of the release last installed, kept in the install folder
// exactly as it was received, with its detached signature: ".twmanifest.json"
// and ".twmanifest.sig" beside the install state file. It tells a later update
// which pieces the installed files hold, so those need not be downloaded
// again, and lets the installed files be checked without the server. It is
// trusted only as the signed original: loading verifies the signature again,
// with the root or a key that the kept key records name.
#include "formats/manifest.h"
#include "update/release_order.h"

#include <string>

// Remembers the bodies of the manifest this run accepted, as received, until
// the install commits (or is found up to date).
void keep_received_manifest(std::string body, std::string signature);

// Writes the remembered bodies beside the install state file, each through
// its ".part" file. Skipped when the saved copy already holds those bytes.
// False when nothing was remembered or a write failed.
bool save_received_manifest();

// The saved manifest, when both files are there, within their size bounds,
// the signature verifies (saved_manifest_signature_ok) and the manifest is
// accepted.
// False (and manifest untouched) otherwise.
bool load_saved_manifest(Manifest& manifest);

// The installed release as the order check sees it: the saved manifest's
// serial and bytes when it loads as above, else a mark without a serial.
ReleaseMark installed_release_mark();

// install_dir joined with ".twmanifest.json" / ".twmanifest.sig".
std::wstring saved_manifest_path();
std::wstring saved_signature_path();
