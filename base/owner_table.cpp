#include "base/owner_table.h"

bool OwnerTable::take(HandleKind kind, uintptr_t handle, const void* owner)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return owners_.emplace(std::make_pair(kind, handle), owner).second;
}

bool OwnerTable::let_go(HandleKind kind, uintptr_t handle, const void* owner)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = owners_.find({kind, handle});
    if (it == owners_.end() || it->second != owner) return false;
    owners_.erase(it);
    return true;
}

bool OwnerTable::move(HandleKind kind, uintptr_t handle, const void* from, const void* to)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = owners_.find({kind, handle});
    if (it == owners_.end() || it->second != from) return false;
    it->second = to;
    return true;
}

size_t OwnerTable::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return owners_.size();
}
