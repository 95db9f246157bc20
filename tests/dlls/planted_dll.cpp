// A DLL that only records being loaded: it creates "<its own path>.loaded".
// The DLL search test plants copies of it, named like the launcher's
// imports, beside the launcher.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(self, path, 32768);
    if (n == 0 || n >= 32768) return TRUE;
    const std::wstring marker = std::wstring(path, n) + L".loaded";
    CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return TRUE;
}
