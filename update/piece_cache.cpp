#include "update/piece_cache.h"

#include "app/paths.h"
#include "app/whole_file.h"
#include "app/win_handles.h"
#include "update/update_folder.h"

#include <windows.h>


namespace {

bool write_new_file(const std::wstring& path, const void* data, size_t size)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return false;
    return write_to_handle(file.get(), data, size);
}

}  // namespace

// Written straight under its final name: a piece cut short by a crash fails
// its check on the next use and is fetched again. A name already there is
// removed first instead of being written over, because its bytes may be
// another name's too: the assembly links single-piece files to the cache.
bool store_piece(const std::string& id, const void* data, size_t size)
{
    const std::wstring path = piece_cache_path(id);
    bool stored = write_new_file(path, data, size);
    DWORD error = stored ? 0 : GetLastError();
    if (error == ERROR_FILE_EXISTS) {
        if (!DeleteFileW(path.c_str())) return false;
        stored = write_new_file(path, data, size);
    } else if (error == ERROR_PATH_NOT_FOUND) {
        create_folders(parent_folder(path));   // the first piece of its folder
        stored = write_new_file(path, data, size);
    }
    if (stored) return true;
    error = GetLastError();
    DeleteFileW(path.c_str());   // what a failed write left holds no whole piece
    SetLastError(error);
    return false;
}

int64_t cached_piece_size(const std::string& id)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(piece_cache_path(id).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}
