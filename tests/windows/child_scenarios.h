#pragma once
#include <string>

// Runs a named scenario in a child process; returns its exit code.
int run_child_scenario(const std::wstring& name, int argc, wchar_t** argv);

// Starts this test executable with "--child NAME ARGS" and waits for it;
// returns the child's exit code, or -1 when it could not start.
int run_child(const std::wstring& name, const std::wstring& args);

// A fresh empty folder under the temporary folder, unique per call.
std::wstring make_temp_folder(const std::wstring& tag);

// Sets the file-call fault and trace variables (base/file_call_hooks.h) for
// one scope and clears them after.
struct FileFaultScope {
    explicit FileFaultScope(const wchar_t* fault, const wchar_t* trace = nullptr);
    ~FileFaultScope();
    FileFaultScope(const FileFaultScope&) = delete;
    FileFaultScope& operator=(const FileFaultScope&) = delete;
};
