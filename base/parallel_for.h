#pragma once
// Work on many independent items at once: file-system calls that each wait
// on Wine's server or the disk overlap on a few threads instead of queueing
// one behind the other.
#include <cstddef>
#include <functional>

// Hands out the indexes 0 .. count-1, in rising order, to up to `threads`
// threads (the calling thread is one of them and the others run at its
// priority; fewer when a thread cannot be started) and waits for all of them.
// Once work(i) returns false no further index is handed out; those already
// taken finish. True when work returned true for every index.
bool for_each_index(size_t count, size_t threads, const std::function<bool(size_t)>& work);
