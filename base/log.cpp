#include "base/log.h"

#include "base/settings.h"

#include <windows.h>
#include <share.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex log_mutex;
FILE* log_file = nullptr;   // never closed before the process ends
}

void open_log(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file) std::fclose(log_file);
    log_file = _wfsopen(path.c_str(), L"w", _SH_DENYNO);
}

void open_log_appending(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file) std::fclose(log_file);
    log_file = _wfsopen(path.c_str(), L"a", _SH_DENYNO);
}

void log_line(const char* format, ...)
{
    std::lock_guard<std::mutex> lock(log_mutex);
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    SYSTEMTIME t;
    GetLocalTime(&t);
    if (log_file) {
        std::string line = format_log_line(t.wHour, t.wMinute, t.wSecond,
                                           t.wMilliseconds, message);
        std::fwrite(line.data(), 1, line.size(), log_file);
        std::fflush(log_file);
    }
    if (console_attached) {
        std::fprintf(stdout, "%s\n", message);
        std::fflush(stdout);
    }
}
