#pragma once
// Path and text helpers at the OS boundary. Text inside the launcher is UTF-8;
// paths handed to the OS are UTF-16.
#include <string>

struct _GUID;

std::string to_utf8(const std::wstring& wide);
std::wstring to_utf16(const std::string& utf8);

// Filesystem path append: a relative b is joined with one '\'; an absolute b
// (leading slash, or drive letter and ':') replaces a.
std::wstring join_path(const std::wstring& a, const std::wstring& b);

std::wstring own_exe_path();
// The file of a loaded module (an HMODULE; null for the executable), whole
// however long; empty when it cannot be had.
std::wstring module_path(void* module);
std::wstring known_folder(const _GUID& id);   // empty when the lookup fails

// <install folder> \ "launcher" \ "tarnwick.exe"
std::wstring launcher_install_path(const std::wstring& install_folder);

// A folder (the install folder, the stage, "old") joined with a
// manifest-style relative path, every '/' turned into '\'.
std::wstring path_under(const std::wstring& folder, const std::string& relative);

// The game executable that a recorded run_exe names: path_under of the
// install folder and run_exe, or of DEFAULT_RUN_EXE when run_exe is empty.
std::wstring installed_game_exe(const std::wstring& install_folder, const std::string& run_exe);

// The folder part of a path (everything before the last '\' or '/').
std::wstring parent_folder(const std::wstring& path);

// Creates a folder and its missing parents; true when it exists afterwards.
bool create_folders(const std::wstring& path);
