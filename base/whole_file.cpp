#include "base/whole_file.h"

#include "base/file_calls.h"
#include "base/parallel_for.h"
#include "base/paths.h"
#include "base/win_handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

void (*before_atomic_move_hook)(const std::wstring& path) = nullptr;

namespace {

constexpr size_t READ_BLOCK = 65536;
constexpr size_t FLUSH_THREADS = 16;   // flushes wait on the disk, not on the processor

}  // namespace

bool write_to_handle(void* file, const void* bytes, size_t size)
{
    auto* data = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!file_calls::WriteFile(file, data, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

namespace {

bool create_and_write(const std::wstring& path, const void* data, size_t size, bool commit)
{
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return false;
    return write_to_handle(file.get(), data, size) && (!commit || file_calls::FlushFileBuffers(file.get()));
}

// Moves a positioned transfer through `step` in slices a DWORD can count.
template <typename Step>
bool transfer_at(int64_t offset, size_t size, Step step)
{
    size_t done = 0;
    while (done < size) {
        const uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD moved = 0;
        if (!step(done, static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30)), position, moved)) return false;
        if (moved == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        done += moved;
    }
    return true;
}

}  // namespace

bool write_new_file(const std::wstring& path, const void* data, size_t size, bool commit)
{
    bool written = create_and_write(path, data, size, commit);
    DWORD error = written ? 0 : GetLastError();
    if (error == ERROR_FILE_EXISTS) {
        if (!file_calls::DeleteFileW(path.c_str())) return false;
        written = create_and_write(path, data, size, commit);
    } else if (error == ERROR_PATH_NOT_FOUND) {
        create_folders(parent_folder(path));   // the first file of its folder
        written = create_and_write(path, data, size, commit);
    }
    if (written) return true;
    error = GetLastError();
    file_calls::DeleteFileW(path.c_str());   // what a failed write left holds no whole file
    SetLastError(error);
    return false;
}

bool file_size_and_time(const std::wstring& path, int64_t& size, uint64_t& write_time)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!file_calls::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    write_time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

int64_t file_size_of(const std::wstring& path)
{
    int64_t size = -1;
    uint64_t write_time = 0;
    return file_size_and_time(path, size, write_time) ? size : -1;
}

bool write_at(void* file, int64_t offset, const void* data, size_t size)
{
    auto* bytes = static_cast<const char*>(data);
    return transfer_at(offset, size, [&](size_t done, DWORD chunk, OVERLAPPED& at, DWORD& moved) {
        return file_calls::WriteFile(file, bytes + done, chunk, &moved, &at) != 0;
    });
}

bool read_at(void* file, int64_t offset, void* data, size_t size)
{
    auto* bytes = static_cast<char*>(data);
    return transfer_at(offset, size, [&](size_t done, DWORD chunk, OVERLAPPED& at, DWORD& moved) {
        return file_calls::ReadFile(file, bytes + done, chunk, &moved, &at) != 0;
    });
}

// The error of the first failing call survives in GetLastError(): the handle
// is closed, and a broken ".part" removed, before it is read back.
bool write_part_file(const std::wstring& path, const PartFill& fill)
{
    const std::wstring part = path + L".part";
    bool written = false;
    {
        FileHandle file(file_calls::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        written = fill(file.get()) && file_calls::FlushFileBuffers(file.get());
    }
    if (written) return true;
    const DWORD error = GetLastError();
    file_calls::DeleteFileW(part.c_str());
    SetLastError(error);
    return false;
}

bool move_part_into_place(const std::wstring& path)
{
    if (before_atomic_move_hook) before_atomic_move_hook(path);
    const std::wstring part = path + L".part";
    return file_calls::MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool replace_file_through_part(const std::wstring& path, const PartFill& fill)
{
    if (!write_part_file(path, fill)) return false;
    if (move_part_into_place(path)) return true;
    const DWORD error = GetLastError();
    file_calls::DeleteFileW((path + L".part").c_str());
    SetLastError(error);
    return false;
}

// The fill that writes bytes held in memory; bytes must outlive it.
static PartFill bytes_fill(const std::string& bytes)
{
    return [&bytes](void* file) { return write_to_handle(file, bytes.data(), bytes.size()); };
}

bool write_part_file(const std::wstring& path, const std::string& bytes)
{
    return write_part_file(path, bytes_fill(bytes));
}

bool write_file_atomic(const std::wstring& path, const std::string& bytes)
{
    return replace_file_through_part(path, bytes_fill(bytes));
}

bool read_whole_file_into(const std::wstring& path, std::string& data, size_t max_bytes)
{
    data.clear();
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    // Read straight into a buffer of the file's size; the file may still
    // change under us, so read on until a read returns nothing. A read error
    // fails the whole read: half a journal or state file read as the whole
    // would be believed.
    LARGE_INTEGER length{};
    size_t expected = file_calls::GetFileSizeEx(file.get(), &length) && length.QuadPart > 0
                          ? static_cast<size_t>(length.QuadPart) : 0;
    if (expected > max_bytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    size_t filled = 0;
    for (;;) {
        if (data.size() < filled + READ_BLOCK) data.resize(std::max(filled, expected) + READ_BLOCK);
        DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - filled, 1u << 30));
        DWORD got = 0;
        if (!file_calls::ReadFile(file.get(), data.data() + filled, want, &got, nullptr)) {
            data.clear();
            return false;
        }
        if (got == 0) break;
        filled += got;
        if (filled > max_bytes) {
            data.clear();
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
    }
    data.resize(filled);
    return true;
}

std::string read_whole_file(const std::wstring& path)
{
    std::string data;
    read_whole_file_into(path, data);
    return data;
}

unsigned long flush_files(const std::vector<std::wstring>& paths)
{
    std::atomic<unsigned long> first_error{0};
    for_each_index(paths.size(), FLUSH_THREADS, [&](size_t i) {
        FileHandle file(file_calls::CreateFileW(paths[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file && file_calls::FlushFileBuffers(file.get())) return true;
        const DWORD error = GetLastError();
        unsigned long none = 0;
        first_error.compare_exchange_strong(none, error ? error : ERROR_WRITE_FAULT);
        return true;   // the others are flushed all the same
    });
    return first_error.load();
}
