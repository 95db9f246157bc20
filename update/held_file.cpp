#include "update/held_file.h"

#include <windows.h>

namespace {

// About two seconds in all: long enough for a scanner to let go of a fresh
// file, short enough that a file held for good fails the install promptly.
constexpr DWORD PAUSES_MS[] = {10, 20, 40, 80, 160, 320, 500, 500, 500};

}  // namespace

bool held_by_another_program(unsigned long error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool retry_while_held(const std::function<bool()>& call)
{
    for (DWORD pause : PAUSES_MS) {
        if (call()) return true;
        const DWORD error = GetLastError();
        if (!held_by_another_program(error)) return false;
        Sleep(pause);
        SetLastError(error);
    }
    return call();
}
