#include "update/folder_removal.h"

#include "base/file_calls.h"
#include "base/folder_entries.h"
#include "base/paths.h"
#include "base/test_hooks.h"
#include "base/win_handles.h"

#include <windows.h>

namespace {

bool is_plain_folder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool nothing_at(const std::wstring& path)
{
    if (file_calls::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    return names_nothing(GetLastError());
}

}  // namespace

bool remove_tree(const std::wstring& folder, const char* point)
{
    for_each_entry(folder, [&](const std::wstring& path, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            file_calls::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (is_plain_folder(attributes)) remove_tree(path, point);
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY) file_calls::RemoveDirectoryW(path.c_str());
        else file_calls::DeleteFileW(path.c_str());
        if (point) crash_point(point);
    });
    file_calls::RemoveDirectoryW(folder.c_str());
    return nothing_at(folder);
}

bool remove_empty_folders(const std::wstring& folder)
{
    const DWORD attributes = file_calls::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return nothing_at(folder);
    if (!is_plain_folder(attributes)) return false;
    for_each_entry(folder, [](const std::wstring& path, DWORD entry) {
        if (is_plain_folder(entry)) remove_empty_folders(path);
    });
    file_calls::RemoveDirectoryW(folder.c_str());
    return nothing_at(folder);
}
