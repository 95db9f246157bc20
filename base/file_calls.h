#pragma once
// The one place through which the launcher's file-system calls pass: the
// update, the install and its replay, the reuse of installed pieces, the
// file check, the self-install and the launcher swap. Each function takes the
// parameters of the Windows call it stands for and behaves as it does, with
// two additions:
//  - every path is handed to the system in its long form (base/long_path.h),
//    so a game's files work past 260 characters;
//  - test builds can make any call fail with a chosen error, and record
//    every call a run makes (base/test_hooks.h, "file calls"). The shipped
//    launcher's hooks are empty: one call that answers "go ahead".
// A read or write told to fail part way moves half its bytes first.
#include <windows.h>

namespace file_calls {

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, void* data, DWORD size, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method);
BOOL SetEndOfFile(HANDLE file);

DWORD GetFileAttributesW(const wchar_t* path);
BOOL GetFileAttributesExW(const wchar_t* path, GET_FILEEX_INFO_LEVELS level, void* information);
BOOL SetFileAttributesW(const wchar_t* path, DWORD attributes);
BOOL MoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags);
BOOL CopyFileW(const wchar_t* from, const wchar_t* to, BOOL fail_if_exists);
BOOL DeleteFileW(const wchar_t* path);
BOOL CreateHardLinkW(const wchar_t* link, const wchar_t* target, SECURITY_ATTRIBUTES* security);
BOOL CreateDirectoryW(const wchar_t* path, SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryW(const wchar_t* path);
HANDLE FindFirstFileExW(const wchar_t* pattern, FINDEX_INFO_LEVELS level, void* data, FINDEX_SEARCH_OPS search,
                        void* filter, DWORD flags);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL GetDiskFreeSpaceExW(const wchar_t* folder, ULARGE_INTEGER* available, ULARGE_INTEGER* total,
                         ULARGE_INTEGER* total_free);

}  // namespace file_calls

// True for the errors of a call whose path names nothing: the file is not
// there, or a folder on its way is not.
inline bool names_nothing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
