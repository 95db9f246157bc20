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

// The product word: install subfolder, game executable, launcher file, swap
// leftover, shortcuts, registry keys and message box caption all derive from
// it. A macro only so that the names below join it at compile time.
#define TW_PRODUCT_WORD "tarnwick"
inline constexpr const char* PRODUCT_NAME = TW_PRODUCT_WORD;
inline constexpr const wchar_t* PRODUCT_NAME_W = L"" TW_PRODUCT_WORD;

// The game's executable when nothing names another: an empty "exe" in the
// state file, an install made by other means. The product word plus ".exe".
inline constexpr const char* DEFAULT_RUN_EXE = TW_PRODUCT_WORD ".exe";

// The installed launcher's file name (in the install folder's "launcher"),
// and the newer launcher a self-update leaves beside the running one.
inline constexpr const wchar_t* LAUNCHER_FILE_NAME = L"" TW_PRODUCT_WORD ".exe";
inline constexpr const wchar_t* SWAP_LEFTOVER_NAME = L"" TW_PRODUCT_WORD ".new.exe";

// The player's settings under HKCU, and an administrator's policies under
// HKLM or HKCU.
inline constexpr const wchar_t* SETTINGS_KEY = L"Software\\" TW_PRODUCT_WORD;
inline constexpr const wchar_t* POLICIES_KEY = L"Software\\Policies\\" TW_PRODUCT_WORD;

extern bool headless;
extern bool no_install;
extern bool no_self_update;
extern bool verify_files;   // --verify: hash every installed file while planning
extern bool console_attached;
extern std::wstring server_url;   // base URL(s): one, or mirrors separated by spaces
// The download limit in bytes a second for every piece thread together; 0:
// none. Set once from the policy, the command line or the player's value.
extern uint64_t max_download_rate;

// The limit as a --max-rate value for a launcher this one starts (bytes a
// second); empty when there is none.
std::wstring max_rate_option();

// The built-in default base URL and the host named in the "can't reach" text.
const std::wstring& default_server_url();
std::string default_server_host();
