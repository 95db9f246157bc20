#include "update/deletion_gate.h"

#include "base/file_calls.h"
#include "base/folder_entries.h"
#include "base/paths.h"
#include "base/test_hooks.h"
#include "formats/file_name_case.h"
#include "update/held_file.h"
#include "update/saved_manifest.h"

#include <windows.h>

namespace {

constexpr int KEPT_NAMES = 100;

bool is_link(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool is_plain_folder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !is_link(attributes);
}

bool nothing_at(const std::wstring& path)
{
    return file_calls::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && names_nothing(GetLastError());
}

// One entry of a tree the launcher owns: a folder link goes as a link.
void remove_entry(const std::wstring& path, DWORD attributes, const char* point)
{
    if (attributes & FILE_ATTRIBUTE_READONLY)
        file_calls::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (is_plain_folder(attributes))
        remove_owned_tree(path, point);
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        file_calls::RemoveDirectoryW(path.c_str());
    else
        file_calls::DeleteFileW(path.c_str());
    if (point) crash_point(point);
}

}  // namespace

OwnedFiles::OwnedFiles(const InstallState& state)
{
    for (const auto& [path, record] : state.files) add(path);
}

void OwnedFiles::add(const std::string& relative) { keys_.insert(file_name_key(relative)); }

bool OwnedFiles::owns(const std::string& relative) const { return keys_.count(file_name_key(relative)) != 0; }

InstallState recorded_files(const InstallFolder& folder, const InstallState& state, bool& stood_in)
{
    stood_in = false;
    Manifest saved;
    if (!state.files.empty() || !load_saved_manifest(folder.root(), saved)) return state;
    InstallState records;
    for (const ManifestFile& file : saved.files) records.files[file.path] = {file.size, 0, file.hash};
    records.version = saved.version;
    stood_in = true;
    return records;
}

OwnedFiles owned_files(const InstallFolder& folder, const InstallState& state)
{
    bool stood_in = false;
    return OwnedFiles(recorded_files(folder, state, stood_in));
}

bool move_into_old(const InstallFolder& folder, const std::string& path, unsigned long& error, bool folder_made,
                   bool only_a_file)
{
    error = 0;
    const std::wstring place = folder.place_of(path);
    switch (place_kind(place)) {
    case PlaceKind::missing:
        return true;
    case PlaceKind::unknown:
        error = GetLastError();
        return false;
    case PlaceKind::folder:
        if (only_a_file) {   // not what the journal was told: "old" would take it to its end
            error = ERROR_DIRECTORY;
            return false;
        }
        break;
    case PlaceKind::file:
        break;
    }
    const std::wstring copy = folder.old_path_of(path);
    if (!folder_made) create_folders(parent_folder(copy));
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (retry_while_held([&] { return file_calls::MoveFileExW(place.c_str(), copy.c_str(), flags) != 0; })) return true;
    error = GetLastError();
    return false;
}

AsideAction aside_action(PlaceKind kind, bool owned, bool place_needed)
{
    switch (kind) {
    case PlaceKind::missing:
        return AsideAction::nothing;
    case PlaceKind::file:
        return owned ? AsideAction::owned_file : AsideAction::keep;
    case PlaceKind::folder:
        return place_needed ? AsideAction::keep : AsideAction::leave;
    case PlaceKind::unknown:
        break;
    }
    return AsideAction::keep;
}

FileRemoval remove_owned_file(const std::wstring& place)
{
    const DWORD attributes = file_calls::GetFileAttributesW(place.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && names_nothing(GetLastError())) return FileRemoval::gone;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return FileRemoval::not_ours;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        file_calls::SetFileAttributesW(place.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (retry_while_held([&] { return file_calls::DeleteFileW(place.c_str()) != 0 || names_nothing(GetLastError()); }))
        return FileRemoval::gone;
    return FileRemoval::failed;
}

bool remove_owned_tree(const std::wstring& folder, const char* point)
{
    const DWORD attributes = file_calls::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return names_nothing(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;   // a file is not a tree
    if (!is_link(attributes))
        for_each_entry(folder, [&](const std::wstring& path, DWORD entry) { remove_entry(path, entry, point); });
    file_calls::RemoveDirectoryW(folder.c_str());
    return nothing_at(folder);
}

bool remove_empty_folders(const std::wstring& folder)
{
    const DWORD attributes = file_calls::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return names_nothing(GetLastError());
    if (!is_plain_folder(attributes)) return false;
    for_each_entry(folder, [](const std::wstring& path, DWORD entry) {
        if (is_plain_folder(entry)) remove_empty_folders(path);
    });
    file_calls::RemoveDirectoryW(folder.c_str());   // refused while anything is left in it
    return nothing_at(folder);
}

void remove_folder_if_empty(const std::wstring& folder)
{
    // RemoveDirectoryW refuses a folder that holds anything.
    if (is_plain_folder(file_calls::GetFileAttributesW(folder.c_str()))) file_calls::RemoveDirectoryW(folder.c_str());
}

bool passes_through_link(const std::wstring& root, const std::wstring& path)
{
    for (std::wstring folder = parent_folder(path); folder.size() > root.size(); folder = parent_folder(folder))
        if (is_link(file_calls::GetFileAttributesW(folder.c_str()))) return true;
    return false;
}

std::wstring free_name_beside(const std::wstring& path)
{
    for (int n = 1; n <= KEPT_NAMES; ++n) {
        const std::wstring name = path + L" (kept files" + (n > 1 ? L" " + std::to_wstring(n) : L"") + L")";
        if (place_kind(name) == PlaceKind::missing) return name;
    }
    return path + L" (kept files " + std::to_wstring(GetTickCount64()) + L")";
}

std::string free_kept_place(const InstallFolder& folder, const std::string& relative)
{
    const std::wstring place = folder.place_of(relative);
    return relative + to_utf8(free_name_beside(place).substr(place.size()));
}
