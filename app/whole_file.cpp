#include "app/whole_file.h"

#include "app/win_handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

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
        if (!WriteFile(file, data, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// The error of the first failing call survives in GetLastError(): the handle
// is closed before it is read back.
bool write_file_atomic(const std::wstring& path, const std::string& bytes)
{
    const std::wstring part = path + L".part";
    bool written = false;
    DWORD error = 0;
    {
        FileHandle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        written = write_to_handle(file.get(), bytes.data(), bytes.size());
        if (!written) error = GetLastError();
        else FlushFileBuffers(file.get());   // its result is not looked at
    }
    if (!written) {   // the ".part" stays; the next write replaces it
        SetLastError(error);
        return false;
    }
    if (before_atomic_move_hook) before_atomic_move_hook(path);
    return MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool read_whole_file_into(const std::wstring& path, std::string& data, size_t max_bytes)
{
    data.clear();
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    // Read straight into a buffer of the file's size; the file may still
    // change under us, so read on until a read returns nothing, and a read
    // error simply ends the data.
    LARGE_INTEGER length{};
    size_t expected = GetFileSizeEx(file.get(), &length) && length.QuadPart > 0
                          ? static_cast<size_t>(length.QuadPart) : 0;
    if (expected > max_bytes) return false;
    size_t filled = 0;
    for (;;) {
        if (data.size() < filled + READ_BLOCK) data.resize(std::max(filled, expected) + READ_BLOCK);
        DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - filled, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file.get(), data.data() + filled, want, &got, nullptr) || got == 0) break;
        filled += got;
        if (filled > max_bytes) {
            data.clear();
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
    std::atomic<size_t> next{0};
    std::atomic<unsigned long> first_error{0};
    auto flush_some = [&] {
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
            FileHandle file(CreateFileW(paths[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file && FlushFileBuffers(file.get())) continue;
            const DWORD error = GetLastError();
            unsigned long none = 0;
            first_error.compare_exchange_strong(none, error ? error : ERROR_WRITE_FAULT);
        }
    };
    std::vector<std::thread> threads;
    const size_t count = std::min(FLUSH_THREADS, paths.size());
    for (size_t t = 1; t < count; ++t) {
        try {
            threads.emplace_back(flush_some);
        } catch (const std::system_error&) {
            break;   // fewer threads only make it slower
        }
    }
    flush_some();
    for (std::thread& t : threads) t.join();
    return first_error.load();
}
