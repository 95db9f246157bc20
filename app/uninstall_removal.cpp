#include "app/uninstall_removal.h"

#include "base/file_calls.h"
#include "base/folder_entries.h"
#include "base/paths.h"
#include "base/win_handles.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr DWORD NO_ATTRIBUTES = INVALID_FILE_ATTRIBUTES;

bool is_link(DWORD attributes)
{
    return attributes != NO_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void collect_files(const std::wstring& folder, std::vector<std::wstring>& files)
{
    for_each_entry(folder, [&](const std::wstring& path, DWORD attributes) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(path);
        else if (!is_link(attributes))
            collect_files(path, files);
    });
}

}  // namespace

bool remove_file(const std::wstring& path)
{
    if (file_calls::DeleteFileW(path.c_str())) return true;
    DWORD error = GetLastError();
    if (names_nothing(error)) return true;
    const DWORD attributes = file_calls::GetFileAttributesW(path.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != NO_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        file_calls::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (file_calls::DeleteFileW(path.c_str())) return true;
        error = GetLastError();
    }
    return names_nothing(error);
}

bool passes_through_link(const std::wstring& root, const std::wstring& path)
{
    for (std::wstring folder = parent_folder(path); folder.size() > root.size(); folder = parent_folder(folder))
        if (is_link(file_calls::GetFileAttributesW(folder.c_str()))) return true;
    return false;
}

bool remove_tree(const std::wstring& folder)
{
    const DWORD attributes = file_calls::GetFileAttributesW(folder.c_str());
    if (attributes == NO_ATTRIBUTES) return names_nothing(GetLastError());
    if (!is_link(attributes)) {
        for_each_entry(folder, [](const std::wstring& path, DWORD entry) {
            if (!(entry & FILE_ATTRIBUTE_DIRECTORY))
                remove_file(path);
            else if (is_link(entry))
                file_calls::RemoveDirectoryW(path.c_str());   // the link goes, what it points at stays
            else
                remove_tree(path);
        });
    }
    return file_calls::RemoveDirectoryW(folder.c_str()) || names_nothing(GetLastError());
}

void remove_empty_folder(const std::wstring& folder)
{
    // RemoveDirectoryW refuses a folder that holds anything.
    if (!is_link(file_calls::GetFileAttributesW(folder.c_str()))) file_calls::RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> files_below(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    collect_files(folder, files);
    std::sort(files.begin(), files.end());
    return files;
}
