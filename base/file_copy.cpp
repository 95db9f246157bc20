#include "base/file_copy.h"

#include "base/win_handles.h"

#include <windows.h>

#include <vector>

bool copy_file_replacing(const std::wstring& from, const std::wstring& to)
{
    const std::wstring part = to + L".part";
    if (CopyFileW(from.c_str(), part.c_str(), FALSE) &&
        MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(part.c_str());
    return false;
}

namespace {

bool copy_bytes(HANDLE from, HANDLE to)
{
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), got, &written, nullptr) || written != got) return false;
    }
}

}  // namespace

bool copy_open_file_replacing(void* from, const std::wstring& to)
{
    const std::wstring part = to + L".part";
    bool copied = false;
    {
        FileHandle out(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        // Flushed before the move: a power cut must not leave a launcher of
        // zeros under the real name.
        copied = out && copy_bytes(from, out.get()) && FlushFileBuffers(out.get());
    }
    if (copied &&
        MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(part.c_str());
    return false;
}
