#pragma once
// What the launcher last installed: ".twinstall.json" in the install folder.
#include "formats/document_refusal.h"
#include "formats/json.h"

#include <cstdint>
#include <map>
#include <string>

struct InstalledFile {
    int64_t size = 0;
    uint64_t write_time = 0;   // 64-bit FILETIME: 100-ns units since 1601
    std::string hash;          // 64 lowercase hex
};

struct InstallState {
    std::string version;
    std::string run_exe;
    std::string run_args;
    std::map<std::string, InstalledFile, JsonKeyLess> files;   // keyed by manifest path
};

// The exact one-line text of the file.
std::string install_state_to_text(const InstallState& state);

// The state a text describes; empty when the text is refused, with the rule in
// *reason when reason is given: it does not parse ("syntax"), or it names a
// game executable that could leave the install folder ("unsafe_run_exe"; an
// empty one stands for the default). Records whose path is not a safe
// relative path are dropped.
InstallState install_state_from_text(const std::string& text, DocumentRefusal* reason = nullptr);

// install_dir joined with ".twinstall.json"; implemented on the OS side. A
// missing or empty file reads as an empty state; a refused one too, after a
// log line naming the rule.
InstallState read_install_state(const std::wstring& install_dir);
// The same, but false (GetLastError() tells why) when the file is there and
// cannot be read: a run that took it for "nothing recorded" would never
// remove the files it names.
bool read_install_state_if_readable(const std::wstring& install_dir, InstallState& state);
bool write_install_state(const std::wstring& install_dir, const InstallState& state);
