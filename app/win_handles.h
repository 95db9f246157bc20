#pragma once
// Owners for every OS handle the launcher holds: each closes its handle in its
// destructor and cannot be copied, so no error path closes anything by hand.
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
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = value;
    }

private:
    T value_ = Traits::invalid();
};

struct KernelHandleTraits {   // processes, threads, timers, events, snapshots
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {     // CreateFileW and toolhelp use INVALID_HANDLE_VALUE
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct WinHttpHandleTraits {
    static HINTERNET invalid() { return nullptr; }
    static void close(HINTERNET h) { WinHttpCloseHandle(h); }
};
struct BcryptAlgorithmTraits {
    static BCRYPT_ALG_HANDLE invalid() { return nullptr; }
    static void close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptHashTraits {
    static BCRYPT_HASH_HANDLE invalid() { return nullptr; }
    static void close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};
struct BcryptKeyTraits {
    static BCRYPT_KEY_HANDLE invalid() { return nullptr; }
    static void close(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ invalid() { return nullptr; }
    static void close(HGDIOBJ h) { DeleteObject(h); }
};
struct MemoryDcTraits {
    static HDC invalid() { return nullptr; }
    static void close(HDC h) { DeleteDC(h); }
};
struct IconTraits {
    static HICON invalid() { return nullptr; }
    static void close(HICON h) { DestroyIcon(h); }
};

using KernelHandle = Owned<HANDLE, KernelHandleTraits>;
using FileHandle = Owned<HANDLE, FileHandleTraits>;
using WinHttpHandle = Owned<HINTERNET, WinHttpHandleTraits>;
using BcryptAlgorithm = Owned<BCRYPT_ALG_HANDLE, BcryptAlgorithmTraits>;
using BcryptHash = Owned<BCRYPT_HASH_HANDLE, BcryptHashTraits>;
using BcryptKey = Owned<BCRYPT_KEY_HANDLE, BcryptKeyTraits>;
using GdiObject = Owned<HGDIOBJ, GdiObjectTraits>;
using MemoryDc = Owned<HDC, MemoryDcTraits>;
using IconHandle = Owned<HICON, IconTraits>;

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
