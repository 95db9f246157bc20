#pragma once
// Whose signature a manifest carries, and whether this launcher takes it.
// The newest root it trusts may sign a manifest directly (every server
// published before release keys works so). Any other signature sends it to
// the key records on the same mirror (keys.json and keys.sig): they must
// reach forward from that root, be no older than the records kept, and name
// the manifest's key as valid for the manifest's serial. Newer records are
// kept before the manifest is judged by them.
#include <string>

class HttpClient;

// True when the studio signed this manifest as above; the log says which key
// did, or which record or rule refused it ("keys.json refused: ... (reason)").
bool manifest_signature_trusted(const std::wstring& install_folder, HttpClient& client, const std::string& body,
                                const std::string& signature);

// The saved manifest's signature: by the trusted root, or by any root or
// release key the kept records name, withdrawn ones included. Its release
// was judged when it was installed; this tells the studio's bytes from
// damaged ones, and keeps the mark of a release whose key was withdrawn since.
bool saved_manifest_signature_ok(const std::wstring& install_folder, const std::string& body,
                                 const std::string& signature);
