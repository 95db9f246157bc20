#pragma once
// COM for the calling thread's lifetime in a scope: the splash thread and the
// video decode thread both join the multithreaded apartment, in which the
// splash thread creates the video's source reader and the decode thread then
// calls it directly, without marshalling. A thread that already chose a
// single-threaded apartment keeps it (and this owner then does nothing).
#include <objbase.h>

class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};
