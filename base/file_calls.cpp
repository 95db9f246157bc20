#include "base/file_calls.h"

#include "base/long_path.h"
#include "base/file_call_hooks.h"

#include <string>

namespace file_calls {

namespace {

// Asks the test hooks whether this call is to fail; true (with the error set)
// when it is.
bool refused(const char* operation, const std::wstring& path)
{
    const unsigned long error = file_call_fault(operation, path);
    if (error == 0) return false;
    SetLastError(error);
    return true;
}

bool refused(const char* operation, HANDLE file)
{
    const unsigned long error = file_call_fault_on(operation, file);
    if (error == 0) return false;
    SetLastError(error);
    return true;
}

// Tells the test hooks which path a handle was opened with, keeping the
// error value the call left (CreateFileW sets one on success too).
void opened(HANDLE handle, const std::wstring& path)
{
    const DWORD error = GetLastError();
    file_call_opened(handle, path);
    SetLastError(error);
}

}  // namespace

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE template_file)
{
    const std::wstring full = extended_path(path);
    if (refused("open", full)) return INVALID_HANDLE_VALUE;
    HANDLE file = ::CreateFileW(full.c_str(), access, share, security, disposition, flags, template_file);
    if (file != INVALID_HANDLE_VALUE) opened(file, full);
    return file;
}

BOOL ReadFile(HANDLE file, void* data, DWORD size, DWORD* read, OVERLAPPED* overlapped)
{
    const unsigned long error = file_call_fault_on("read", file);
    if (error == 0) return ::ReadFile(file, data, size, read, overlapped);
    if (error == ERROR_CRC && size > 1) ::ReadFile(file, data, size / 2, read, overlapped);   // fails part way
    SetLastError(error);
    return FALSE;
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped)
{
    const unsigned long error = file_call_fault_on("write", file);
    if (error == 0) return ::WriteFile(file, data, size, written, overlapped);
    if (error == ERROR_CRC && size > 1) ::WriteFile(file, data, size / 2, written, overlapped);
    SetLastError(error);
    return FALSE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    return refused("flush", file) ? FALSE : ::FlushFileBuffers(file);
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size)
{
    return refused("size", file) ? FALSE : ::GetFileSizeEx(file, size);
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    return refused("size", file) ? FALSE : ::GetFileInformationByHandle(file, information);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method)
{
    return refused("seek", file) ? FALSE : ::SetFilePointerEx(file, distance, position, method);
}

BOOL SetEndOfFile(HANDLE file)
{
    return refused("truncate", file) ? FALSE : ::SetEndOfFile(file);
}

DWORD GetFileAttributesW(const wchar_t* path)
{
    const std::wstring full = extended_path(path);
    return refused("attributes", full) ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(full.c_str());
}

BOOL GetFileAttributesExW(const wchar_t* path, GET_FILEEX_INFO_LEVELS level, void* information)
{
    const std::wstring full = extended_path(path);
    return refused("size", full) ? FALSE : ::GetFileAttributesExW(full.c_str(), level, information);
}

BOOL SetFileAttributesW(const wchar_t* path, DWORD attributes)
{
    const std::wstring full = extended_path(path);
    return refused("set-attributes", full) ? FALSE : ::SetFileAttributesW(full.c_str(), attributes);
}

// Calls that name two paths are counted and traced under their first: the
// file moved, copied, or the link made.
BOOL MoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    const std::wstring source = extended_path(from);
    const std::wstring target = extended_path(to);
    if (refused("move", source) || refused("move-to", target)) return FALSE;
    return ::MoveFileExW(source.c_str(), target.c_str(), flags);
}

BOOL CopyFileW(const wchar_t* from, const wchar_t* to, BOOL fail_if_exists)
{
    const std::wstring source = extended_path(from);
    const std::wstring target = extended_path(to);
    if (refused("copy", target) || refused("copy-from", source)) return FALSE;
    return ::CopyFileW(source.c_str(), target.c_str(), fail_if_exists);
}

BOOL DeleteFileW(const wchar_t* path)
{
    const std::wstring full = extended_path(path);
    return refused("delete", full) ? FALSE : ::DeleteFileW(full.c_str());
}

BOOL CreateHardLinkW(const wchar_t* link, const wchar_t* target, SECURITY_ATTRIBUTES* security)
{
    const std::wstring name = extended_path(link);
    const std::wstring existing = extended_path(target);
    if (refused("link", name) || refused("link-from", existing)) return FALSE;
    return ::CreateHardLinkW(name.c_str(), existing.c_str(), security);
}

BOOL CreateDirectoryW(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    const std::wstring full = extended_path(path);
    return refused("make-folder", full) ? FALSE : ::CreateDirectoryW(full.c_str(), security);
}

BOOL RemoveDirectoryW(const wchar_t* path)
{
    const std::wstring full = extended_path(path);
    return refused("remove-folder", full) ? FALSE : ::RemoveDirectoryW(full.c_str());
}

HANDLE FindFirstFileExW(const wchar_t* pattern, FINDEX_INFO_LEVELS level, void* data, FINDEX_SEARCH_OPS search,
                        void* filter, DWORD flags)
{
    const std::wstring full = extended_path(pattern);
    if (refused("find", full)) return INVALID_HANDLE_VALUE;
    HANDLE find = ::FindFirstFileExW(full.c_str(), level, data, search, filter, flags);
    if (find != INVALID_HANDLE_VALUE) opened(find, full);
    return find;
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data)
{
    return refused("find-next", find) ? FALSE : ::FindNextFileW(find, data);
}

BOOL GetDiskFreeSpaceExW(const wchar_t* folder, ULARGE_INTEGER* available, ULARGE_INTEGER* total,
                         ULARGE_INTEGER* total_free)
{
    const std::wstring full = extended_path(folder);
    return refused("free-space", full) ? FALSE : ::GetDiskFreeSpaceExW(full.c_str(), available, total, total_free);
}

}  // namespace file_calls
