#include "base/file_copy.h"

#include "base/file_calls.h"

#include <windows.h>

bool copy_file_replacing(const std::wstring& from, const std::wstring& to)
{
    const std::wstring part = to + L".part";
    if (file_calls::CopyFileW(from.c_str(), part.c_str(), FALSE) &&
        file_calls::MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    file_calls::DeleteFileW(part.c_str());
    return false;
}
