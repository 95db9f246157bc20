#include "update/crash_point.h"

#include "app/paths.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct CrashTarget {
    std::string point;   // empty: no crash requested
    long nth = 1;
    long passes = 0;
};

CrashTarget read_target()
{
    CrashTarget target;
    wchar_t buffer[128] = {};
    DWORD n = GetEnvironmentVariableW(L"TW_TEST_CRASH_AT", buffer, 128);
    if (n == 0 || n >= 128) return target;
    std::string text = to_utf8(std::wstring(buffer, n));
    size_t colon = text.find(':');
    target.point = text.substr(0, colon);
    if (colon != std::string::npos) target.nth = std::strtol(text.c_str() + colon + 1, nullptr, 10);
    return target;
}

}  // namespace

void crash_point(const char* point)
{
    static CrashTarget target = read_target();
    if (target.point.empty() || target.point != point) return;
    if (++target.passes == target.nth) TerminateProcess(GetCurrentProcess(), 9);
}
