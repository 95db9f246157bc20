#include "update/kept_files.h"

#include "base/file_calls.h"
#include "base/paths.h"
#include "base/test_hooks.h"
#include "base/win_handles.h"
#include "update/folder_removal.h"
#include "update/held_file.h"
#include "update/place_survey.h"
#include "update/update_folder.h"

#include <windows.h>

#include <functional>

namespace {

constexpr DWORD MOVE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
constexpr int KEPT_NAMES = 100;

using Wanted = std::function<bool(const std::string& relative)>;

bool move_one(const std::wstring& from, const std::wstring& to)
{
    create_folders(parent_folder(to));
    return retry_while_held([&] { return file_calls::MoveFileExW(from.c_str(), to.c_str(), MOVE_FLAGS) != 0; });
}

// Moves the files below `from` (or `from` itself when it is a file) that
// `wanted` takes, by their relative paths (`relative` is from's), to the same
// relative places below `to`. Links are moved as they are, never followed.
bool move_files(const std::wstring& from, const std::wstring& to, const std::string& relative,
                const Wanted& wanted, size_t& moved)
{
    const DWORD attributes = file_calls::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!wanted(relative)) return true;
        if (!move_one(from, to)) return false;
        ++moved;
        crash_point("kept");
        return true;
    }
    WIN32_FIND_DATAW entry;
    FindHandle find(file_calls::FindFirstFileExW(join_path(from, L"*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool all = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        all = move_files(join_path(from, name), join_path(to, name), relative + "/" + to_utf8(name), wanted,
                         moved) && all;
    } while (file_calls::FindNextFileW(find.get(), &entry));
    return all;
}

}  // namespace

std::string free_kept_place(const std::string& path)
{
    for (int n = 1; n <= KEPT_NAMES; ++n) {
        std::string name = path;
        name += " (kept files";
        if (n > 1) name.append(" ").append(std::to_string(n));
        name += ')';
        if (status_of(place_of(name)) == PlaceStatus::missing) return name;
    }
    std::string name = path;
    name.append(" (kept files ").append(std::to_string(GetTickCount64())).append(")");
    return name;
}

bool keep_unmanaged_files(const KeptPlace& place, const std::unordered_set<std::string>& dropped,
                          size_t& moved)
{
    moved = 0;
    return move_files(old_path_of(place.path), place_of(place.kept), place.path,
                      [&](const std::string& relative) { return !dropped.count(relative); }, moved);
}

bool bring_kept_files_back(const KeptPlace& place)
{
    size_t moved = 0;
    const std::wstring kept = place_of(place.kept);
    const bool all = move_files(kept, old_path_of(place.path), place.path,
                                [](const std::string&) { return true; }, moved);
    remove_empty_folders(kept);
    return all;
}
