#pragma once
// What this launcher trusts to sign releases: its built-in root, walked
// forward through the newest key records it has verified. Those records are
// kept in ".twkeys" in the install folder (their 64-byte signature, then
// their text), written whole through a ".part" file that is committed and
// moved into place with write-through before anything relies on them: a cut
// leaves the older or the newer edition, never neither, so the newest root
// reached is not lost and a replayed older edition stays refused.
//
// The same records may lower the release mark: a launcher whose installed
// release was signed by a key they no longer accept (a leaked key withdrawn,
// a root changed away from) takes their "lower_mark" as its mark, so that a
// release numbered absurdly high by the key's thief does not freeze it.
#include "formats/key_records.h"
#include "update/release_order.h"

#include <string>

struct TrustedKeys {
    std::string root;          // the newest root reached (X then Y)
    size_t root_number = 0;    // its number in the records' chain; 0 for the built-in root alone
    bool has_records = false;  // the kept records verified and reach `root`
    KeyRecords records;
    std::string text;          // their exact bytes
};

// The built-in root walked forward through the kept records, when they name
// it and verify; the built-in root alone otherwise (nothing kept yet, or a
// launcher built with a root newer than the records reach; damaged records
// are logged). Never an older root than the built-in one.
TrustedKeys load_trusted_keys(const std::wstring& install_folder);

// Keeps records that verified (their text and signature) as the newest ones.
// False, with GetLastError() telling why, when they could not be written.
bool keep_key_records(const std::wstring& install_folder, const std::string& text, const std::string& signature);

// The release mark for the order check: `installed` itself, unless the kept
// records name a lower mark and no longer accept the key that signed the
// marked release (seen in the saved manifest pair when that is the release,
// else the signer the mark names); then a mark at that serial, so that
// releases numbered above it install.
ReleaseMark release_mark_after_withdrawals(const std::wstring& install_folder, const ReleaseMark& installed);

// The key (hex, as ReleaseMark::signer) of the trusted root or of the
// release key of the kept records that signed these bytes; empty for none.
std::string manifest_signer_key(const std::wstring& install_folder, const std::string& body,
                                const std::string& signature);

// The install folder joined with ".twkeys".
std::wstring kept_keys_path(const std::wstring& install_folder);
