#include "app/whole_file.h"

#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

void (*before_atomic_move_hook)(const std::wstring& path) = nullptr;

bool write_file_atomic(const std::wstring& path, const std::string& bytes)
{
    const std::wstring part = path + L".part";
    FILE* f = _wfopen(part.c_str(), L"wb");
    if (!f) return false;
    size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fflush(f);
    FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))));
    std::fclose(f);
    if (written != bytes.size()) return false;   // the ".part" stays; the next write replaces it
    if (before_atomic_move_hook) before_atomic_move_hook(path);
    return MoveFileExW(part.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool read_whole_file_into(const std::wstring& path, std::string& data)
{
    data.clear();
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    // Read straight into a buffer of the file's size; the file may still
    // change under us, so read on in 64 KiB blocks until a read returns
    // nothing, and a read error simply ends the data.
    const long long length = _filelengthi64(_fileno(f));
    const size_t expected = length > 0 ? static_cast<size_t>(length) : 0;
    size_t filled = 0;
    for (;;) {
        if (data.size() < filled + 65536) data.resize(std::max(filled, expected) + 65536);
        size_t n = std::fread(data.data() + filled, 1, data.size() - filled, f);
        filled += n;
        if (n == 0) break;
    }
    data.resize(filled);
    std::fclose(f);
    return true;
}

std::string read_whole_file(const std::wstring& path)
{
    std::string data;
    read_whole_file_into(path, data);
    return data;
}
