#include "app/entry.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before any delay-loaded DLL (WinHTTP, CNG, GDI+, Media Foundation, ...)
    // is needed: they are looked for in System32 only, never beside the
    // launcher, wherever the player started it from.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return entry();
}
