#pragma once
// Owners for every OS handle the launcher holds: each closes its handle in its
// destructor and cannot be copied, so no error path closes anything by hand.
//
// One traits type per close function. A close that reports failure means the
// handle was closed with the wrong function (a search handle given to
// CloseHandle, a bitmap deleted while still selected) or twice; Wine forgives
// most of these where Windows leaks or corrupts, so test builds stop the
// process on the spot (see owner_close_failed) and the tests under Wine catch
// the mistake. The shipped launcher carries on.
#include "base/test_hooks.h"

#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>
#include <tlhelp32.h>

#include <utility>

template <typename T, typename Traits>
class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, Traits::invalid())) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Traits::invalid());
        }
        return *this;
    }

    T get() const { return value_; }
    T* out() { reset(); return &value_; }   // for APIs that return through a pointer
    T release() { return std::exchange(value_, Traits::invalid()); }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    void reset(T value = Traits::invalid())
    {
        if (value_ != Traits::invalid() && !Traits::close(value_)) owner_close_failed(Traits::name);
        value_ = value;
    }

private:
    T value_ = Traits::invalid();
};

struct KernelHandleTraits {   // processes, threads, timers, events, mutexes
    static constexpr const char* name = "CloseHandle";
    static HANDLE invalid() { return nullptr; }
    static bool close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct FileHandleTraits {     // CreateFileW and the toolhelp snapshot use INVALID_HANDLE_VALUE
    static constexpr const char* name = "CloseHandle (file)";
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct FindHandleTraits {     // FindFirstFileExW: a search, not a kernel object
    static constexpr const char* name = "FindClose";
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return FindClose(h) != 0; }
};
struct WinHttpHandleTraits {
    static constexpr const char* name = "WinHttpCloseHandle";
    static HINTERNET invalid() { return nullptr; }
    static bool close(HINTERNET h) { return WinHttpCloseHandle(h) != 0; }
};
struct BcryptAlgorithmTraits {
    static constexpr const char* name = "BCryptCloseAlgorithmProvider";
    static BCRYPT_ALG_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_ALG_HANDLE h) { return BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(h, 0)); }
};
struct BcryptHashTraits {
    static constexpr const char* name = "BCryptDestroyHash";
    static BCRYPT_HASH_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_HASH_HANDLE h) { return BCRYPT_SUCCESS(BCryptDestroyHash(h)); }
};
struct BcryptKeyTraits {
    static constexpr const char* name = "BCryptDestroyKey";
    static BCRYPT_KEY_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_KEY_HANDLE h) { return BCRYPT_SUCCESS(BCryptDestroyKey(h)); }
};
struct GdiObjectTraits {      // fails while the object is still selected into a DC
    static constexpr const char* name = "DeleteObject";
    static HGDIOBJ invalid() { return nullptr; }
    static bool close(HGDIOBJ h) { return DeleteObject(h) != 0; }
};
struct MemoryDcTraits {       // CreateCompatibleDC; a GetDC context is released instead
    static constexpr const char* name = "DeleteDC";
    static HDC invalid() { return nullptr; }
    static bool close(HDC h) { return DeleteDC(h) != 0; }
};
struct ScreenDcTraits {       // GetDC(nullptr): released, never deleted
    static constexpr const char* name = "ReleaseDC";
    static HDC invalid() { return nullptr; }
    static bool close(HDC h) { return ReleaseDC(nullptr, h) == 1; }
};
struct IconTraits {           // LoadImageW without LR_SHARED; shared icons are never destroyed
    static constexpr const char* name = "DestroyIcon";
    static HICON invalid() { return nullptr; }
    static bool close(HICON h) { return DestroyIcon(h) != 0; }
};
struct RegKeyTraits {         // RegCreateKeyExW / RegOpenKeyExW
    static constexpr const char* name = "RegCloseKey";
    static HKEY invalid() { return nullptr; }
    static bool close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

using KernelHandle = Owned<HANDLE, KernelHandleTraits>;
using FileHandle = Owned<HANDLE, FileHandleTraits>;
using FindHandle = Owned<HANDLE, FindHandleTraits>;
using WinHttpHandle = Owned<HINTERNET, WinHttpHandleTraits>;
using BcryptAlgorithm = Owned<BCRYPT_ALG_HANDLE, BcryptAlgorithmTraits>;
using BcryptHash = Owned<BCRYPT_HASH_HANDLE, BcryptHashTraits>;
using BcryptKey = Owned<BCRYPT_KEY_HANDLE, BcryptKeyTraits>;
using GdiObject = Owned<HGDIOBJ, GdiObjectTraits>;
using MemoryDc = Owned<HDC, MemoryDcTraits>;
using ScreenDc = Owned<HDC, ScreenDcTraits>;
using IconHandle = Owned<HICON, IconTraits>;
using RegKey = Owned<HKEY, RegKeyTraits>;

// A COM interface pointer that releases its reference.
template <typename I>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept
    {
        if (this != &o) { reset(); p_ = std::exchange(o.p_, nullptr); }
        return *this;
    }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    I** out() { reset(); return &p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (p_) { p_->Release(); p_ = nullptr; } }

private:
    I* p_ = nullptr;
};
