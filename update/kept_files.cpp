#include "update/kept_files.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/test_hooks.h"
#include "base/win_handles.h"
#include "update/held_file.h"
#include "update/place_survey.h"

#include <windows.h>

#include <functional>

namespace {

using Wanted = std::function<bool(const std::string& relative)>;

// Moves one file without replacing anything: a name already taken at `to`
// sends the file to a free name beside it.
bool move_one(const std::wstring& from, const std::wstring& to)
{
    create_folders(parent_folder(to));
    const auto move = [&](const std::wstring& target) {
        return retry_while_held([&] { return file_calls::MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0; });
    };
    if (move(to)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    const std::wstring beside = free_name_beside(to);
    log_line("%s was there already -- kept the other one as %s", to_utf8(to).c_str(), to_utf8(beside).c_str());
    return move(beside);
}

// Moves the files below `from` (or `from` itself when it is a file) that
// `wanted` takes, by their relative paths (`relative` is from's), to the same
// relative places below `to`. Links are moved as they are, never followed.
bool move_files(const std::wstring& from, const std::wstring& to, const std::string& relative,
                const Wanted& wanted, size_t& moved)
{
    const DWORD attributes = file_calls::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {   // nothing there, or something not to be looked at
        return names_nothing(GetLastError());
    }
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
    // A listing cut short is not the end of the folder: what it did not list
    // has not been moved, and "old" goes with the commit.
    return GetLastError() == ERROR_NO_MORE_FILES && all;
}

bool everything(const std::string&) { return true; }

}  // namespace

bool keep_unmanaged_files(const InstallFolder& folder, const KeptPlace& place, const OwnedFiles& owned, size_t& moved)
{
    moved = 0;
    return move_files(folder.old_path_of(place.path), folder.place_of(place.kept), place.path,
                      [&](const std::string& relative) { return !owned.owns(relative); }, moved);
}

bool bring_kept_files_back(const InstallFolder& folder, const KeptPlace& place)
{
    size_t moved = 0;
    const std::wstring kept = folder.place_of(place.kept);
    const bool all = move_files(kept, folder.old_path_of(place.path), place.path, everything, moved);
    remove_empty_folders(kept);
    return all;
}

bool merge_folder(const std::wstring& from, const std::wstring& to)
{
    size_t moved = 0;
    return move_files(from, to, "", everything, moved) && remove_empty_folders(from);
}

bool keep_aside(const InstallFolder& folder, const std::string& path, const OwnedFiles& made)
{
    const std::string kept = free_kept_place(folder, path);
    size_t moved = 0;
    const bool all = move_files(folder.place_of(path), folder.place_of(kept), path,
                                [&](const std::string& relative) { return !made.owns(relative); }, moved);
    if (moved > 0)
        log_line("%s had to make way for the files put back: kept %zu file(s) the game does not manage in %s",
                 path.c_str(), moved, to_utf8(folder.place_of(kept)).c_str());
    return all && remove_empty_folders(folder.place_of(path));
}
