#include "splash/handover_stamp.h"

#include "base/paths.h"
#include "splash/splash_assets.h"

#include <windows.h>

#include <cstdio>

int64_t unix_time_ms()
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // FILETIME counts 100-ns units since 1601-01-01.
    constexpr uint64_t FROM_1601_TO_1970 = 116444736000000000ull;
    return static_cast<int64_t>((ticks.QuadPart - FROM_1601_TO_1970) / 10000);
}

bool write_handover_stamp(const std::wstring& cache_folder)
{
    if (cache_folder.empty()) return false;
    create_folders(cache_folder);
    FILE* file = _wfopen(join_path(cache_folder, L"presplash.txt").c_str(), L"w");   // text mode: CR LF
    if (!file) return false;
    bool ok = std::fprintf(file, "%lld\n", static_cast<long long>(unix_time_ms())) > 0;
    std::fclose(file);
    return ok;
}

bool write_handover_stamp() { return write_handover_stamp(splash_cache_folder()); }
