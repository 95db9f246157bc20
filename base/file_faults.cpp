// The test builds' side of the file-call seam: the trace of every call, the
// injected faults, and the refusal of over-long short-form paths. Linked only
// into the test launcher and the unit tests, beside base/test_hooks.cpp.
#include "base/file_call_hooks.h"
#include "base/long_path.h"
#include "base/log.h"
#include "base/paths.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct FileFault {
    std::string operation;   // empty: none asked for
    std::wstring path_end;   // case folded
    long first = 1;          // the first failing call, counted from 1
    long count = 1;          // how many fail from there; 0: all
    unsigned long error = 0;
    bool kill = false;       // the process ends at the call instead, like a power cut
    long seen = 0;           // matching calls so far
};

struct FileWatch {
    std::mutex mutex;
    std::atomic<bool> on{false};
    FILE* trace = nullptr;
    std::vector<FileFault> faults;
    std::unordered_map<void*, std::wstring> open_paths;   // handles opened through the seam
};

std::wstring environment_text(const wchar_t* name)
{
    wchar_t buffer[4096] = {};
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n == 0 || n >= 4096 ? std::wstring() : std::wstring(buffer, n);
}

std::wstring folded(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c == L'/') c = L'\\';
    }
    return text;
}

std::wstring without_prefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// One fault: "<operation>|<path end>|<n>|<error>[|<k>]".
bool read_fault(const std::wstring& text, FileFault& fault)
{
    std::wstring fields[5];
    size_t at = 0;
    for (int i = 0; i < 5 && at <= text.size(); ++i) {
        const size_t bar = text.find(L'|', at);
        fields[i] = text.substr(at, bar == std::wstring::npos ? std::wstring::npos : bar - at);
        at = bar == std::wstring::npos ? text.size() + 1 : bar + 1;
    }
    if (fields[0].empty() || fields[3].empty()) return false;
    fault.operation = to_utf8(fields[0]);
    fault.path_end = folded(fields[1]);
    fault.first = std::wcstol(fields[2].c_str(), nullptr, 10);
    fault.kill = fields[3] == L"kill";
    fault.error = fault.kill ? ERROR_GEN_FAILURE : std::wcstoul(fields[3].c_str(), nullptr, 10);
    if (!fields[4].empty()) fault.count = std::wcstol(fields[4].c_str(), nullptr, 10);
    return true;
}

// Several faults, separated by ';' (a fault during the rollback that the
// first one caused, say).
std::vector<FileFault> read_faults()
{
    const std::wstring text = environment_text(L"TW_TEST_FILE_FAULT");
    std::vector<FileFault> faults;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t semicolon = std::min(text.find(L';', at), text.size());
        FileFault fault;
        if (read_fault(text.substr(at, semicolon - at), fault)) faults.push_back(fault);
        at = semicolon + 1;
    }
    return faults;
}

void read_variables(FileWatch& w)
{
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.trace) std::fclose(w.trace);
    w.faults = read_faults();
    const std::wstring trace = environment_text(L"TW_TEST_FILE_TRACE");
    w.trace = trace.empty() ? nullptr : _wfopen(trace.c_str(), L"ab");
    w.on = w.trace || !w.faults.empty();
}

FileWatch& watch()
{
    static FileWatch* instance = [] {
        auto* w = new FileWatch;   // lives as long as the process: calls come from every thread
        read_variables(*w);
        return w;
    }();
    return *instance;
}

bool ends_with(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

unsigned long decide(FileWatch& w, const char* operation, const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(w.mutex);
    const std::wstring plain = without_prefix(path);
    if (w.trace) {
        const std::string line = std::string(operation) + "\t" + to_utf8(plain) + "\n";
        std::fwrite(line.data(), 1, line.size(), w.trace);
        std::fflush(w.trace);
    }
    unsigned long error = 0;
    for (FileFault& f : w.faults) {
        if (f.operation != operation || !ends_with(folded(plain), f.path_end)) continue;
        const long n = ++f.seen;
        if (error || n < f.first || (f.count > 0 && n >= f.first + f.count)) continue;
        error = f.error;
        if (f.kill) {
            log_line("test: the process ends at %s of %s (call %ld)", operation, to_utf8(plain).c_str(), n);
            TerminateProcess(GetCurrentProcess(), 9);
        }
        // On standard error too: some calls come before the log is open.
        log_line("test: %s of %s fails with error %lu (call %ld)", operation, to_utf8(plain).c_str(), error, n);
        std::fprintf(stderr, "test: %s of %s fails with error %lu (call %ld)\n", operation,
                     to_utf8(plain).c_str(), error, n);
        std::fflush(stderr);
    }
    return error;
}

}  // namespace

unsigned long file_call_fault(const char* operation, const std::wstring& path)
{
    if (too_long_for_short_form(path)) {
        log_line("test: refused a %u-character path without the long prefix (%s)",
                 static_cast<unsigned>(path.size()), operation);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    FileWatch& w = watch();
    return w.on ? decide(w, operation, path) : 0;
}

unsigned long file_call_fault_on(const char* operation, void* handle)
{
    FileWatch& w = watch();
    if (!w.on) return 0;
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        auto found = w.open_paths.find(handle);
        if (found == w.open_paths.end()) return 0;
        path = found->second;
    }
    return decide(w, operation, path);
}

void file_call_opened(void* handle, const std::wstring& path)
{
    FileWatch& w = watch();
    if (!w.on) return;
    std::lock_guard<std::mutex> lock(w.mutex);
    w.open_paths[handle] = path;
}

void reread_file_faults() { read_variables(watch()); }
