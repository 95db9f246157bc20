#include "base/file_copy.h"

#include "base/file_calls.h"
#include "base/win_handles.h"

#include <windows.h>

#include <vector>

namespace {

// The copy's bytes reach the disk before its name does: moved over the
// target first, a power cut could leave the launcher's name on a file whose
// bytes were never written (zeros).
bool commit_to_disk(const std::wstring& path)
{
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && file_calls::FlushFileBuffers(file.get());
}

}  // namespace

bool copy_file_replacing(const std::wstring& from, const std::wstring& to)
{
    const std::wstring part = to + L".part";
    if (file_calls::CopyFileW(from.c_str(), part.c_str(), FALSE) && commit_to_disk(part) &&
        file_calls::MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    file_calls::DeleteFileW(part.c_str());
    return false;
}

namespace {

bool copy_bytes(HANDLE from, HANDLE to)
{
    LARGE_INTEGER start{};
    if (!file_calls::SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!file_calls::ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        DWORD written = 0;
        if (!file_calls::WriteFile(to, buffer.data(), got, &written, nullptr) || written != got) return false;
    }
}

}  // namespace

bool copy_open_file_replacing(void* from, const std::wstring& to)
{
    const std::wstring part = to + L".part";
    bool copied = false;
    {
        FileHandle out(file_calls::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        // Flushed before the move: a power cut must not leave a launcher of
        // zeros under the real name.
        copied = out && copy_bytes(from, out.get()) && file_calls::FlushFileBuffers(out.get());
    }
    if (copied &&
        file_calls::MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    file_calls::DeleteFileW(part.c_str());
    return false;
}
