#pragma once
// What the launcher last installed: ".twinstall.json" in the install folder.
#include "formats/document_refusal.h"
#include "formats/json.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct InstalledFile {
    int64_t size = 0;
    uint64_t write_time = 0;   // 64-bit FILETIME: 100-ns units since 1601
    std::string hash;          // 64 lowercase hex
};

// The newest release this install has accepted, as the release order needs
// it (update/release_order.h): its serial, when it had one, and the SHA-256 of
// its signed manifest's bytes (one serial cannot name two releases).
struct ReleaseMark {
    bool has_serial = false;
    int64_t serial = 0;
    std::string manifest_sha256;   // 64 lowercase hex; empty when unknown
    // The key that signed it (X then Y, lowercase hex); empty when unknown.
    // Key records that withdraw that key may lower the mark even when the
    // release itself was never installed.
    std::string signer;
};

struct InstallState {
    std::string version;
    std::string run_exe;
    std::string run_args;
    std::map<std::string, InstalledFile, JsonKeyLess> files;   // keyed by manifest path
    // Kept in the state file so that one atomic write keeps it with the
    // records; absent in files written before it was kept there.
    std::optional<ReleaseMark> release;
};

// The exact one-line text of the file. A release mark follows the records as
// ,"release":{"serial":N,"manifest":"<digest>","signer":"<key>"} (or
// ,"release":{} for a mark without a serial); readers that do not know it
// pass it over.
std::string install_state_to_text(const InstallState& state);

// The state a text describes; empty when the text is refused, with the rule in
// *reason when reason is given: it does not parse ("syntax"), or it names a
// game executable that could leave the install folder ("unsafe_run_exe"; an
// empty one stands for the default). Records whose path is not a safe
// relative path are dropped. The release mark survives a refusal that is not
// "syntax": a stricter reader must never reset it.
InstallState install_state_from_text(const std::string& text, DocumentRefusal* reason = nullptr);

// install_dir joined with ".twinstall.json"; implemented on the OS side. A
// missing or empty file reads as an empty state; a refused one too, after a
// log line naming the rule.
InstallState read_install_state(const std::wstring& install_dir);

enum class StateRead {
    read,         // the file's state (an empty file reads as an empty state)
    missing,      // no file: nothing recorded
    refused,      // there but damaged or refused: read as empty (its mark kept), the log names the rule
    unreadable,   // there but cannot be read (held, no rights); GetLastError() tells why
};
// The same, telling how it went: a run that took an unreadable or refused
// file for "nothing recorded" would never remove the files it names.
StateRead read_install_state_checked(const std::wstring& install_dir, InstallState& state);
// true unless the file is there and cannot be read.
bool read_install_state_if_readable(const std::wstring& install_dir, InstallState& state);
bool write_install_state(const std::wstring& install_dir, const InstallState& state);
std::wstring install_state_path(const std::wstring& install_dir);
