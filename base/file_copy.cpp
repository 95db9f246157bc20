#include "base/file_copy.h"

#include "base/file_calls.h"
#include "base/whole_file.h"
#include "base/win_handles.h"

#include <windows.h>

#include <vector>

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
        if (!write_to_handle(to, buffer.data(), got)) return false;
    }
}

}  // namespace

bool copy_file_replacing(const std::wstring& from, const std::wstring& to)
{
    // A running executable can be read while it runs: its loader shares it.
    FileHandle source(file_calls::CreateFileW(from.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return source && copy_open_file_replacing(source.get(), to);
}

bool copy_open_file_replacing(void* from, const std::wstring& to)
{
    return replace_file_through_part(to, [&](void* out) { return copy_bytes(from, out); });
}
