#pragma once
// Which owner holds each OS handle. The test builds keep one table for the
// whole process (base/test_hooks.cpp) and stop on the first broken rule: a
// handle closed twice usually fails its close, but not when another thread
// has been given the same value in between (twelve download threads, the
// move threads and the hashing workers all open files), and then the second
// close quietly takes that thread's handle away. Recording every owner turns
// that race into a certain stop: the reused value gets a second owner, or the
// stale owner lets go of a handle recorded for another.
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

// Handle values are unique only within their kind.
enum class HandleKind : uint8_t {
    kernel,        // CloseHandle: files, processes, threads, events, snapshots
    search,        // FindClose
    winhttp,       // WinHttpCloseHandle
    bcrypt,        // algorithm providers, hashes, keys
    gdi,           // GDI objects and device contexts
    user,          // icons
    local_memory,  // LocalFree
    task_memory,   // CoTaskMemFree
    registry,      // RegCloseKey
    global_memory, // GlobalFree
    credential,    // CredFree
};

class OwnerTable {
public:
    // Records `owner` for the handle. False, changing nothing, when the
    // handle already has an owner.
    bool take(HandleKind kind, uintptr_t handle, const void* owner);

    // Ends the record of `owner` for the handle (it is closed or given
    // away). False, changing nothing, when the handle is not recorded for
    // this owner.
    bool let_go(HandleKind kind, uintptr_t handle, const void* owner);

    // The handle passes from one owner to another (a move). False, changing
    // nothing, when it is not recorded for `from`.
    bool move(HandleKind kind, uintptr_t handle, const void* from, const void* to);

    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<HandleKind, uintptr_t>, const void*> owners_;
};
