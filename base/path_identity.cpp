#include "base/path_identity.h"

#include "base/file_calls.h"
#include "base/win_handles.h"

#include <cstring>

namespace {

struct FileIdentity {
    ULONGLONG volume = 0;
    unsigned char id[16] = {};
};

// The 128-bit file id where the volume offers one (ReFS needs all of it),
// else the classic volume serial number and 64-bit file index.
bool read_identity(HANDLE file, FileIdentity& identity)
{
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info)) {
        identity.volume = info.VolumeSerialNumber;
        std::memcpy(identity.id, info.FileId.Identifier, sizeof identity.id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION classic{};
    if (!file_calls::GetFileInformationByHandle(file, &classic)) return false;
    identity.volume = classic.dwVolumeSerialNumber;
    const DWORD index[2] = {classic.nFileIndexLow, classic.nFileIndexHigh};
    std::memcpy(identity.id, index, sizeof index);
    return true;
}

bool read_identity(const std::wstring& path, FileIdentity& identity)
{
    // Attribute access only: it is granted even while another process holds
    // the file open without sharing (a running launcher, for one).
    FileHandle file(file_calls::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && read_identity(file.get(), identity);
}

bool same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

}  // namespace

bool same_path_text(std::wstring_view a, std::wstring_view b)
{
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view part)
{
    return text.size() >= part.size() && same_path_text(text.substr(0, part.size()), part);
}

bool ends_with_ignoring_case(std::wstring_view text, std::wstring_view part)
{
    return text.size() >= part.size() && same_path_text(text.substr(text.size() - part.size()), part);
}

bool same_file(const std::wstring& a, const std::wstring& b)
{
    FileIdentity first, second;
    return read_identity(a, first) && read_identity(b, second) && same_identity(first, second);
}

bool same_file(void* open_file, const std::wstring& path)
{
    FileIdentity first, second;
    return read_identity(static_cast<HANDLE>(open_file), first) && read_identity(path, second) &&
           same_identity(first, second);
}
