#include "app/whole_file.h"

#include <windows.h>
#include <io.h>

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

std::string read_whole_file(const std::wstring& path)
{
    std::string data;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return data;
    char block[65536];
    for (;;) {
        size_t n = std::fread(block, 1, sizeof block, f);
        if (n == 0) break;
        data.append(block, n);
    }
    std::fclose(f);
    return data;
}
