#include "update/place_survey.h"

#include "base/file_calls.h"
#include "base/paths.h"
#include "base/win_handles.h"
#include "update/update_folder.h"

#include <windows.h>

#include <unordered_set>

namespace {

// Counts the files below a stage folder (walked recursively) when each is
// one of `expected` and every folder holds at least one of them; -1 as soon
// as anything else turns up, such as a ".part" or a file of another run.
long count_expected(const std::wstring& folder, const std::string& relative,
                    const std::unordered_set<std::string>& expected)
{
    WIN32_FIND_DATAW entry;
    FindHandle find(file_calls::FindFirstFileExW(join_path(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return -1;
    long found = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::string path = relative + "/" + to_utf8(name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return -1;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const long below = count_expected(join_path(folder, name), path, expected);
            if (below <= 0) return -1;
            found += below;
        } else {
            if (!expected.count(path)) return -1;
            ++found;
        }
    } while (file_calls::FindNextFileW(find.get(), &entry));
    return found;
}

bool stage_holds_exactly(const NewFolder& folder, const std::vector<StaleFile>& stale_files)
{
    std::unordered_set<std::string> expected;
    for (size_t i : folder.files) expected.insert(stale_files[i].file->path);
    return count_expected(stage_path_of(folder.path), folder.path, expected) ==
           static_cast<long>(expected.size());
}

}  // namespace

PlaceStatus status_of(const std::wstring& place, bool* is_folder)
{
    const DWORD attributes = file_calls::GetFileAttributesW(place.c_str());
    if (is_folder) *is_folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (attributes != INVALID_FILE_ATTRIBUTES) return PlaceStatus::present;
    DWORD error = GetLastError();
    if (names_nothing(error) || error == ERROR_DIRECTORY)
        return PlaceStatus::missing;
    return PlaceStatus::unknown;
}

PlaceStatus PlaceSurvey::folder_status(const std::string& folder)
{
    auto known = folders_.find(folder);
    if (known == folders_.end()) {
        bool is_folder = false;
        PlaceStatus status = status_of(place_of(folder), &is_folder);
        if (status == PlaceStatus::present && !is_folder) {
            files_in_the_way_.push_back(folder);
            status = PlaceStatus::missing;
        }
        known = folders_.emplace(folder, status).first;
    }
    return known->second;
}

std::string PlaceSurvey::missing_folder(const std::string& path)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        switch (folder_status(folder)) {
        case PlaceStatus::missing:
            return folder;
        case PlaceStatus::unknown:
            return {};
        case PlaceStatus::present:
            break;
        }
    }
    return {};
}

PlaceStatus PlaceSurvey::status(const std::string& path, bool* is_folder)
{
    if (is_folder) *is_folder = false;
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const PlaceStatus folder = folder_status(path.substr(0, slash));
        if (folder != PlaceStatus::present) return folder;
    }
    return status_of(place_of(path), is_folder);
}

std::vector<NewFolder> new_folders(const std::vector<StaleFile>& stale_files, PlaceSurvey& survey)
{
    std::vector<NewFolder> folders;
    std::unordered_map<std::string, size_t> index;
    for (size_t i = 0; i < stale_files.size(); ++i) {
        std::string folder = survey.missing_folder(stale_files[i].file->path);
        if (folder.empty()) continue;
        auto at = index.find(folder);
        if (at == index.end()) {
            at = index.emplace(folder, folders.size()).first;
            folders.push_back({std::move(folder), {}});
        }
        folders[at->second].files.push_back(i);
    }
    std::vector<NewFolder> whole;
    for (NewFolder& folder : folders)
        if (stage_holds_exactly(folder, stale_files)) whole.push_back(std::move(folder));
    return whole;
}
