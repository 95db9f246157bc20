#pragma once
// The install folder: where a start takes it from, whether a folder the
// player chose can hold a game, and the per-user memory of that choice
// (InstallDir under HKCU\Software\tarnwick).
#include <optional>
#include <string>

enum class InstallFolderSource { command_line, environment, launcher_place, remembered, default_place };

struct InstallFolderChoice {
    std::wstring folder;
    InstallFolderSource source = InstallFolderSource::default_place;
};

// The first of: --install-dir (made absolute), TW_INSTALL_DIR (development
// and tests, taken as it is), the folder an installed launcher runs in
// (<install>\launcher\tarnwick.exe), the remembered choice,
// %LOCALAPPDATA%\tarnwick.
InstallFolderChoice choose_install_folder(const std::optional<std::wstring>& command_line,
                                          const std::optional<std::wstring>& environment);

// Whether the folder came from the player (on the command line or
// remembered from an earlier start) rather than from the launcher's own
// place, the default or a developer's variable.
bool chosen_by_player(InstallFolderSource source);

// Empty when the folder can hold the game: it is not inside the Windows or
// Program Files folders (every later update would need an administrator),
// and it can be made and written. Otherwise the message for the player,
// naming the folder. Makes the folder when it is missing.
std::string install_folder_problem(const std::wstring& folder);

// The player's choice, kept for later starts; forgotten (by the uninstall)
// only while it still names `folder`.
void remember_install_folder(const std::wstring& folder);
void forget_install_folder(const std::wstring& folder);

// One folder, as the file system compares names: case ignored, trailing
// separators ignored.
bool same_folder(const std::wstring& a, const std::wstring& b);
