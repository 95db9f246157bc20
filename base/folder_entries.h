#pragma once
// A walk over one folder's entries through the file-system seam, so that it
// works below long paths and its calls can be failed in test builds.
#include "base/file_calls.h"
#include "base/paths.h"
#include "base/win_handles.h"

#include <windows.h>

#include <string>

// Calls visit(path, attributes) for every entry of a folder but "." and "..".
// A folder that cannot be listed has no entries.
template <typename Visit>
void for_each_entry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW entry;
    FindHandle find(file_calls::FindFirstFileExW(join_path(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr, 0));
    if (!find) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        visit(join_path(folder, name), entry.dwFileAttributes);
    } while (file_calls::FindNextFileW(find.get(), &entry));
}
