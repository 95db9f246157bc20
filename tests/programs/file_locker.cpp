// Holds a file open without sharing, so that nothing else can open, move or
// delete it, for tests of installs that meet a locked file.
//
//   file_locker.exe FILE [--ready READY] [--until RELEASE] [--seconds N]
//
// Opens FILE with share mode 0, then creates READY holding its process id
// (so the test knows the lock is held, and by whom), then waits until RELEASE exists or N seconds (default 60)
// have passed. Exit code 0 after holding the lock, 2 when FILE could not be
// opened.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    std::wstring ready, release;
    DWORD seconds = 60;
    for (int i = 2; i + 1 < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--ready") ready = argv[++i];
        else if (a == L"--until") release = argv[++i];
        else if (a == L"--seconds") seconds = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    if (!ready.empty()) {
        HANDLE marker = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE) {
            const std::string pid = std::to_string(GetCurrentProcessId());
            DWORD written = 0;
            WriteFile(marker, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
            CloseHandle(marker);
        }
    }
    for (DWORD waited = 0; waited < seconds * 1000; waited += 50) {
        if (!release.empty() && GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    CloseHandle(file);
    return 0;
}
