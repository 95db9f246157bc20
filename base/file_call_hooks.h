#pragma once
// The test seam of the file calls (base/file_calls.cpp), beside the others of
// base/test_hooks.h: the shipped launcher links the empty variant
// (base/test_hooks_off.cpp), the test launcher and the unit tests
// base/file_faults.cpp, which reads these variables:
//   TW_TEST_FILE_TRACE  a file to which every call adds a line
//                       "<operation>\t<path>"
//   TW_TEST_FILE_FAULT  "<operation>|<path end>|<n>|<error>[|<k>]": the n-th
//                       call of that operation on a path ending so (case
//                       folded, without the long prefix) fails with that
//                       Windows error number, and so do the k-1 matching
//                       calls after it (k = 0: all that follow; no k: one);
//                       the error "kill" ends the process at that call
//                       instead (exit code 9, as a crash point does);
//                       several such faults are separated by ';'
#include <string>

// Asked before each call: 0 lets it go, anything else is the error it fails
// with. Calls on an open handle are named by the path it was opened with.
// Counting per operation and path (rather than one count over all calls)
// reaches the same call in every run although the install's threads
// interleave differently each time. The test builds also refuse, as Windows
// does, a path of 260 characters or more that is not in the long form.
unsigned long file_call_fault(const char* operation, const std::wstring& path);
unsigned long file_call_fault_on(const char* operation, void* handle);
void file_call_opened(void* handle, const std::wstring& path);

// Reads the two variables again (they are read once, at the first call);
// for unit tests that change them.
void reread_file_faults();
