// The shipped launcher's test seams: none. A stray variable on a player's
// machine can neither refuse an update nor end the process.
#include "base/file_call_hooks.h"
#include "base/rule_checks.h"
#include "base/test_hooks.h"
#include "base/splash_hooks.h"

bool test_free_bytes(int64_t&) { return false; }
void crash_point(const char*) {}
std::string test_hook_text(const char*) { return {}; }
void owner_close_failed(const char*) {}
void rule_broken(const char*) {}
bool rule_checks_on() { return false; }
void owner_took(HandleKind, uintptr_t, const void*, const char*) {}
void owner_moved(HandleKind, uintptr_t, const void*, const void*, const char*) {}
void owner_let_go(HandleKind, uintptr_t, const void*, const char*) {}
bool test_launcher_handed_over() { return false; }
bool test_update_thread_refused() { return false; }
uint64_t test_handover_head_start_ms() { return 0; }
unsigned long file_call_fault(const char*, const std::wstring&) { return 0; }
unsigned long file_call_fault_on(const char*, void*) { return 0; }
void file_call_opened(void*, const std::wstring&) {}
void reread_file_faults() {}
uint64_t test_slow_body_window_ms() { return 0; }
bool test_video_may_open() { return true; }
