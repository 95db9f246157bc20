#pragma once
// Process-wide settings. Written by the entry on the main thread before any
// other thread exists; read-only afterwards, so they need no lock.
#include <cstdint>
#include <string>

// This launcher's own version number (5 unless the build sets
// TW_LAUNCHER_VERSION). Defined alone in app/launcher_version.cpp, so that a
// newer launcher for the tests and the demo links the same library with its
// own number.
extern const int LAUNCHER_VERSION;

// The product word: install subfolder, game executable, swap leftover,
// shortcut and message box caption all derive from it.
inline constexpr const char* PRODUCT_NAME = "tarnwick";

// The game's executable when nothing names another: an empty "exe" in the
// state file, an install made by other means. The product word plus ".exe".
inline constexpr const char* DEFAULT_RUN_EXE = "tarnwick.exe";

extern bool headless;
extern bool no_install;
extern bool no_self_update;
extern bool verify_files;   // --verify: hash every installed file while planning
extern bool console_attached;
extern std::wstring server_url;   // base URL(s): one, or mirrors separated by spaces
extern std::wstring install_dir;
// The download limit in bytes a second for every piece thread together; 0:
// none. Set once from the policy, the command line or the player's value.
extern uint64_t max_download_rate;

// The limit as a --max-rate value for a launcher this one starts (bytes a
// second); empty when there is none.
std::wstring max_rate_option();

// The built-in default base URL and the host named in the "can't reach" text.
const std::wstring& default_server_url();
std::string default_server_host();
