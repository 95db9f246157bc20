// The shipped launcher's test seams: none. A stray variable on a player's
// machine can neither refuse an update nor end the process.
#include "base/test_hooks.h"

bool test_free_bytes(int64_t&) { return false; }
void crash_point(const char*) {}
std::string test_hook_text(const char*) { return {}; }
void owner_close_failed(const char*) {}
bool test_launcher_handed_over() { return false; }
bool test_update_thread_refused() { return false; }
uint64_t test_handover_head_start_ms() { return 0; }
uint64_t test_slow_body_window_ms() { return 0; }
