#include "update/place_survey.h"

#include "base/file_calls.h"
#include "base/paths.h"
#include "base/win_handles.h"

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

bool stage_holds_exactly(const InstallFolder& install, const NewFolder& folder,
                         const std::vector<StaleFile>& stale_files)
{
    std::unordered_set<std::string> expected;
    for (size_t i : folder.files) expected.insert(stale_files[i].file->path);
    return count_expected(install.stage_path_of(folder.path), folder.path, expected) ==
           static_cast<long>(expected.size());
}

}  // namespace

PlaceKind place_kind(const std::wstring& place)
{
    const DWORD attributes = file_calls::GetFileAttributesW(place.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? PlaceKind::folder : PlaceKind::file;
    const DWORD error = GetLastError();
    if (names_nothing(error) || error == ERROR_DIRECTORY)
        return PlaceKind::missing;
    return PlaceKind::unknown;
}

PlaceKind PlaceSurvey::folder_kind(const std::string& folder)
{
    auto known = folders_.find(folder);
    if (known == folders_.end()) {
        PlaceKind kind = place_kind(folder_.place_of(folder));
        if (kind == PlaceKind::file) {
            files_in_the_way_.push_back(folder);
            kind = PlaceKind::missing;
        }
        known = folders_.emplace(folder, kind).first;
    }
    return known->second;
}

std::string PlaceSurvey::missing_folder(const std::string& path)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        switch (folder_kind(folder)) {
        case PlaceKind::missing:
            return folder;
        case PlaceKind::unknown:
            return {};
        case PlaceKind::file:
        case PlaceKind::folder:
            break;
        }
    }
    return {};
}

PlaceKind PlaceSurvey::kind(const std::string& path)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const PlaceKind folder = folder_kind(path.substr(0, slash));
        if (folder != PlaceKind::folder) return folder;
    }
    return place_kind(folder_.place_of(path));
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
        if (stage_holds_exactly(survey.folder(), folder, stale_files)) whole.push_back(std::move(folder));
    return whole;
}
