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
//
// A double close can also succeed: when another thread was given the same
// handle value in between, the second close takes that thread's handle. So
// the test builds also record the owner of every handle (base/owner_table.h)
// and stop when a handle gets a second owner or an owner lets go of a handle
// recorded for another. An owner lets go before it closes, because the value
// may be handed out again the moment the close returns.
//
// Kernel handles come back from the API as null (CreateProcessW, OpenProcess,
// CreateEventW) or as INVALID_HANDLE_VALUE (CreateFileW, the toolhelp
// snapshot) when there is none. Their owners agree: neither value is ever
// owned or closed, whichever one an empty owner holds (KernelHandle holds
// null, FileHandle INVALID_HANDLE_VALUE, so that get() gives what the API
// that fills it would have given).
#include "base/test_hooks.h"

#include <windows.h>
#include <bcrypt.h>
#include <combaseapi.h>
#include <winhttp.h>
#include <wincred.h>
#include <tlhelp32.h>

#include <cstdint>
#include <utility>

template <typename T, typename Traits>
class Owned {
public:
    // What out() gives: a T* for the call that fills the owner, which records
    // the handle once the call's full expression has ended.
    class OutSlot {
    public:
        explicit OutSlot(Owned& owner) : owner_(owner) {}
        ~OutSlot() { owner_.took(); }
        OutSlot(const OutSlot&) = delete;
        OutSlot& operator=(const OutSlot&) = delete;
        operator T*() const { return &owner_.value_; }

    private:
        Owned& owner_;
    };

    Owned() = default;
    explicit Owned(T value) : value_(holds(value) ? value : Traits::invalid()) { took(); }
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, Traits::invalid())) { moved_from(other); }
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Traits::invalid());
            moved_from(other);
        }
        return *this;
    }

    T get() const { return value_; }
    // True for a value that is a handle: neither of the traits' no-handle values.
    static bool holds(T value)
    {
        if constexpr (requires { Traits::also_invalid(); })
            if (value == Traits::also_invalid()) return false;
        return value != Traits::invalid();
    }
    OutSlot out() { reset(); return OutSlot(*this); }   // for APIs that return through a pointer
    T release()
    {
        if (holds(value_)) owner_let_go(Traits::kind, key(), this, Traits::name);
        return std::exchange(value_, Traits::invalid());
    }
    explicit operator bool() const { return holds(value_); }
    void reset(T value = Traits::invalid())
    {
        if (holds(value_)) {
            owner_let_go(Traits::kind, key(), this, Traits::name);
            if (!Traits::close(value_)) owner_close_failed(Traits::name);
        }
        value_ = holds(value) ? value : Traits::invalid();
        took();
    }

private:
    uintptr_t key() const { return reinterpret_cast<uintptr_t>(value_); }
    void took()
    {
        if (holds(value_)) owner_took(Traits::kind, key(), this, Traits::name);
    }
    void moved_from(const Owned& other)
    {
        if (holds(value_)) owner_moved(Traits::kind, key(), &other, this, Traits::name);
    }

    T value_ = Traits::invalid();
};

struct KernelHandleTraits {   // processes, threads, timers, events, mutexes
    static constexpr const char* name = "CloseHandle";
    static constexpr HandleKind kind = HandleKind::kernel;
    static HANDLE invalid() { return nullptr; }
    static HANDLE also_invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct FileHandleTraits {     // CreateFileW and the toolhelp snapshot use INVALID_HANDLE_VALUE
    static constexpr const char* name = "CloseHandle (file)";
    static constexpr HandleKind kind = HandleKind::kernel;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static HANDLE also_invalid() { return nullptr; }
    static bool close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct FindHandleTraits {     // FindFirstFileExW: a search, not a kernel object
    static constexpr const char* name = "FindClose";
    static constexpr HandleKind kind = HandleKind::search;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return FindClose(h) != 0; }
};
struct WinHttpHandleTraits {
    static constexpr const char* name = "WinHttpCloseHandle";
    static constexpr HandleKind kind = HandleKind::winhttp;
    static HINTERNET invalid() { return nullptr; }
    static bool close(HINTERNET h) { return WinHttpCloseHandle(h) != 0; }
};
struct BcryptAlgorithmTraits {
    static constexpr const char* name = "BCryptCloseAlgorithmProvider";
    static constexpr HandleKind kind = HandleKind::bcrypt;
    static BCRYPT_ALG_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_ALG_HANDLE h) { return BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(h, 0)); }
};
struct BcryptHashTraits {
    static constexpr const char* name = "BCryptDestroyHash";
    static constexpr HandleKind kind = HandleKind::bcrypt;
    static BCRYPT_HASH_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_HASH_HANDLE h) { return BCRYPT_SUCCESS(BCryptDestroyHash(h)); }
};
struct BcryptKeyTraits {
    static constexpr const char* name = "BCryptDestroyKey";
    static constexpr HandleKind kind = HandleKind::bcrypt;
    static BCRYPT_KEY_HANDLE invalid() { return nullptr; }
    static bool close(BCRYPT_KEY_HANDLE h) { return BCRYPT_SUCCESS(BCryptDestroyKey(h)); }
};
struct GdiObjectTraits {      // fails while the object is still selected into a DC
    static constexpr const char* name = "DeleteObject";
    static constexpr HandleKind kind = HandleKind::gdi;
    static HGDIOBJ invalid() { return nullptr; }
    static bool close(HGDIOBJ h) { return DeleteObject(h) != 0; }
};
struct MemoryDcTraits {       // CreateCompatibleDC; a GetDC context is released instead
    static constexpr const char* name = "DeleteDC";
    static constexpr HandleKind kind = HandleKind::gdi;
    static HDC invalid() { return nullptr; }
    static bool close(HDC h) { return DeleteDC(h) != 0; }
};
struct ScreenDcTraits {       // GetDC(nullptr): released, never deleted
    static constexpr const char* name = "ReleaseDC";
    static constexpr HandleKind kind = HandleKind::gdi;
    static HDC invalid() { return nullptr; }
    static bool close(HDC h) { return ReleaseDC(nullptr, h) == 1; }
};
struct LocalMemoryTraits {    // what the shell allocates for the caller (CommandLineToArgvW)
    static constexpr const char* name = "LocalFree";
    static constexpr HandleKind kind = HandleKind::local_memory;
    static HLOCAL invalid() { return nullptr; }
    static bool close(HLOCAL h) { return LocalFree(h) == nullptr; }
};
struct TaskMemoryTraits {     // what COM allocates for the caller (SHGetKnownFolderPath)
    static constexpr const char* name = "CoTaskMemFree";
    static constexpr HandleKind kind = HandleKind::task_memory;
    static void* invalid() { return nullptr; }
    static bool close(void* p) { CoTaskMemFree(p); return true; }
};
struct IconTraits {           // LoadImageW without LR_SHARED; shared icons are never destroyed
    static constexpr const char* name = "DestroyIcon";
    static constexpr HandleKind kind = HandleKind::user;
    static HICON invalid() { return nullptr; }
    static bool close(HICON h) { return DestroyIcon(h) != 0; }
};
struct RegKeyTraits {         // RegCreateKeyExW / RegOpenKeyExW
    static constexpr const char* name = "RegCloseKey";
    static constexpr HandleKind kind = HandleKind::registry;
    static HKEY invalid() { return nullptr; }
    static bool close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
struct GlobalMemoryTraits {   // what WinHTTP's proxy queries allocate for the caller
    static constexpr const char* name = "GlobalFree";
    static constexpr HandleKind kind = HandleKind::global_memory;
    static HGLOBAL invalid() { return nullptr; }
    static bool close(HGLOBAL h) { return GlobalFree(h) == nullptr; }
};
struct CredentialTraits {     // CredReadW
    static constexpr const char* name = "CredFree";
    static constexpr HandleKind kind = HandleKind::credential;
    static PCREDENTIALW invalid() { return nullptr; }
    static bool close(PCREDENTIALW c) { CredFree(c); return true; }
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
using LocalMemory = Owned<HLOCAL, LocalMemoryTraits>;
using TaskMemory = Owned<void*, TaskMemoryTraits>;
using RegKey = Owned<HKEY, RegKeyTraits>;
using GlobalMemory = Owned<HGLOBAL, GlobalMemoryTraits>;
using Credential = Owned<PCREDENTIALW, CredentialTraits>;

// A window's device context from GetDC: released to that window, never
// deleted. Used within one function, so it neither copies nor moves.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window))
    {
        if (dc_) owner_took(HandleKind::gdi, key(), this, NAME);
    }
    ~WindowDc()
    {
        if (!dc_) return;
        owner_let_go(HandleKind::gdi, key(), this, NAME);
        if (ReleaseDC(window_, dc_) != 1) owner_close_failed(NAME);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    static constexpr const char* NAME = "ReleaseDC (window)";
    uintptr_t key() const { return reinterpret_cast<uintptr_t>(dc_); }

    HWND window_;
    HDC dc_;
};

// An object selected into a device context: the context's previous object
// is selected back when this ends, so that the object (a bitmap that is
// still selected cannot be deleted) and the context can then be deleted.
// Declare it after the owners of both.
class SelectedObject {
public:
    SelectedObject() = default;
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() { restore(); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    SelectedObject(SelectedObject&& o) noexcept : dc_(o.dc_), previous_(std::exchange(o.previous_, nullptr)) {}
    SelectedObject& operator=(SelectedObject&& o) noexcept
    {
        if (this != &o) {
            restore();
            dc_ = o.dc_;
            previous_ = std::exchange(o.previous_, nullptr);
        }
        return *this;
    }

    // False when the selection failed.
    explicit operator bool() const { return previous_ != nullptr; }

private:
    void restore()
    {
        if (previous_ && !SelectObject(dc_, previous_)) owner_close_failed("SelectObject (restore)");
        previous_ = nullptr;
    }

    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

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
