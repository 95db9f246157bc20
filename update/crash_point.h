#pragma once
// TEST HOOK, for the crash-safety tests only: when the environment variable
// TW_TEST_CRASH_AT is "<point>" or "<point>:<n>", the n-th (default first)
// pass through crash_point(<point>) ends the process at once with exit code 9,
// as a power cut would, without unwinding or flushing anything. Unset (the
// product's case) every call is a comparison against an empty name.
//
// Points in the install step: "journal-written", "moved-aside" (after each
// file or folder moved into "old"), "moved-in" (after each staged file moved
// into place), "journal-deleted", "state-written", "update-folder-removing"
// (after the first entry below the update folder was deleted), and in the
// replay "restored" (after each saved copy moved back).
void crash_point(const char* point);
