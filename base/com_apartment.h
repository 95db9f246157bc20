#pragma once
// COM for the calling thread in a scope, undone at its end when this scope
// was the one to set it up. The splash thread and the video decode thread
// both join the multithreaded apartment, in which the splash thread creates
// the video's source reader and the decode thread then calls it directly,
// without marshalling; the update run and the uninstall take a single-threaded
// one for the shell's shortcut objects. A thread that already chose another
// apartment keeps it (and this owner then does nothing).
#include <objbase.h>

class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};
