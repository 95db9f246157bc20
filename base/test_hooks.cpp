#include "base/test_hooks.h"
#include "base/splash_hooks.h"
#include "base/rule_checks.h"

#include "base/log.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <string>

namespace {

struct CrashTarget {
    std::string point;   // empty: no crash requested
    long nth = 1;
    std::atomic<long> passes{0};   // the install passes its points on several threads
};

void read_crash_target(CrashTarget& target)
{
    std::string text = test_hook_text("TW_TEST_CRASH_AT");
    if (text.empty()) return;
    size_t colon = text.find(':');
    target.point = text.substr(0, colon);
    if (colon != std::string::npos) target.nth = std::strtol(text.c_str() + colon + 1, nullptr, 10);
}

}  // namespace

std::string test_hook_text(const char* name)
{
    char buffer[256] = {};
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return std::string(buffer, n);
}

bool test_free_bytes(int64_t& bytes)
{
    std::string text = test_hook_text("TW_TEST_FREE_BYTES");
    if (text.empty()) return false;
    bytes = static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10));
    return true;
}

void crash_point(const char* point)
{
    static CrashTarget target;
    static std::once_flag read;
    std::call_once(read, [] { read_crash_target(target); });
    if (target.point.empty() || target.point != point) return;
    if (++target.passes == target.nth) TerminateProcess(GetCurrentProcess(), 9);
}

void rule_broken(const char* rule)
{
    log_line("rule broken: %s", rule);
    std::fprintf(stderr, "rule broken: %s\n", rule);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 72);
}

bool rule_checks_on() { return true; }

void owner_close_failed(const char* close_function)
{
    const unsigned long error = GetLastError();
    log_line("owner close failed: %s (error %lu)", close_function, error);
    std::fprintf(stderr, "owner close failed: %s (error %lu) -- the handle was closed with the wrong "
                         "function or twice\n", close_function, error);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 70);
}

namespace {

// Never destroyed: owners of handles in objects with static storage may let
// go of them after every other static is gone.
OwnerTable& owner_table()
{
    static OwnerTable* table = new OwnerTable;
    return *table;
}

void stop_on_owner_fault(const char* fault, const char* close_function, uintptr_t handle)
{
    log_line("owner fault: %s (%s handle %#llx)", fault, close_function,
             static_cast<unsigned long long>(handle));
    std::fprintf(stderr, "owner fault: %s (%s handle %#llx) -- a handle closed twice or taken by two "
                         "owners\n", fault, close_function, static_cast<unsigned long long>(handle));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 71);
}

}  // namespace

void owner_took(HandleKind kind, uintptr_t handle, const void* owner, const char* close_function)
{
    if (!owner_table().take(kind, handle, owner))
        stop_on_owner_fault("a second owner for one handle", close_function, handle);
}

void owner_moved(HandleKind kind, uintptr_t handle, const void* from, const void* to, const char* close_function)
{
    if (!owner_table().move(kind, handle, from, to))
        stop_on_owner_fault("a move from an owner that does not hold the handle", close_function, handle);
}

void owner_let_go(HandleKind kind, uintptr_t handle, const void* owner, const char* close_function)
{
    if (!owner_table().let_go(kind, handle, owner))
        stop_on_owner_fault("an owner let go of a handle it does not hold", close_function, handle);
}

bool test_launcher_handed_over() { return !test_hook_text("TW_TEST_HANDED_OVER").empty(); }

bool test_update_thread_refused() { return !test_hook_text("TW_TEST_NO_UPDATE_THREAD").empty(); }

uint64_t test_handover_head_start_ms()
{
    return std::strtoull(test_hook_text("TW_TEST_HANDOVER_HEADSTART_MS").c_str(), nullptr, 10);
}

uint64_t test_slow_body_window_ms()
{
    return std::strtoull(test_hook_text("TW_TEST_SLOW_BODY_WINDOW_MS").c_str(), nullptr, 10);
}

bool test_video_may_open()
{
    const std::string text = test_hook_text("TW_TEST_VIDEO");
    if (text == "off") return false;
    if (text.empty()) return true;
    // Held at most ten minutes, so a test that dies cannot leave a launcher
    // that never ends.
    const std::wstring held(text.begin(), text.end());
    for (int waited = 0; waited < 30000 && GetFileAttributesW(held.c_str()) != INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(20);
    return true;
}
