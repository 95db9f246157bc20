#pragma once
// Seams for the test programs. The launcher that ships is linked with the
// empty variant of these (base/test_hooks_off.cpp), so neither the behaviour
// nor the names of the variables below exist in it; the test launcher
// "tarnwick_test.exe" and the unit tests link base/test_hooks.cpp, which reads
// them from the environment.
//
// Variables read by the test launcher:
//   TW_TEST_FREE_BYTES  stands in for the install volume's free space
//   TW_TEST_CRASH_AT    "<point>" or "<point>:<n>": the n-th pass through
//                       crash_point(<point>) ends the process (exit code 9)
//   TW_TEST_HANDED_OVER     set: the windowed run's update ends at once in
//                           the launcher-update phase, as after a launcher self-update
//   TW_TEST_NO_UPDATE_THREAD  set: the windowed run's update thread cannot be
//                           created
//   TW_TEST_HANDOVER_HEADSTART_MS  the wait for the game's loading window
//                           starts as if this many ms had already passed
//   TW_TEST_SLOW_BODY_WINDOW_MS  the window over which a response body must
//                           keep up its floor speed, instead of a minute
#include "base/owner_table.h"

#include <cstdint>
#include <string>

// True, with the value, when a test stands in for the free disk space.
bool test_free_bytes(int64_t& bytes);

// Ends the process at once, like a power cut, on the requested pass through
// the named point. Points in the install step: "journal-written",
// "moved-aside" (after each file or folder moved into "old"), "moved-in"
// (after each staged file moved into place), "journal-deleted",
// "state-written", "update-folder-removing" (after the first entry below the
// update folder was deleted), "kept" (after each file moved between "old" and
// its kept place, in the install and in the replay), and in the replay
// "restored" (after each saved copy moved back).
void crash_point(const char* point);

// A handle owner's close function reported failure (base/win_handles.h). The
// test builds log it, print it on standard error and end the process with
// exit code 70; the shipped launcher ignores it.
void owner_close_failed(const char* close_function);

// The owners of base/win_handles.h report every handle they take, pass on by
// a move, and let go of (to close it or give it away). The test builds keep
// them in one OwnerTable and, when a handle gets a second owner or an owner
// lets go of a handle it does not hold, log it, print it on standard error
// and end the process with exit code 71; the shipped launcher records
// nothing.
void owner_took(HandleKind kind, uintptr_t handle, const void* owner, const char* close_function);
void owner_moved(HandleKind kind, uintptr_t handle, const void* from, const void* to, const char* close_function);
void owner_let_go(HandleKind kind, uintptr_t handle, const void* owner, const char* close_function);

// The windowed run's seams (see the variables above).
bool test_launcher_handed_over();
bool test_update_thread_refused();
uint64_t test_handover_head_start_ms();

// The slow-body window in ms a test asks for; 0 when none.
uint64_t test_slow_body_window_ms();

// New seams go here as functions of their own, read in base/test_hooks.cpp,
// so that their variable names stay out of the shipped file as well.

// The value of a test-only environment variable (ASCII name), or empty;
// always empty in the shipped launcher.
std::string test_hook_text(const char* name);
