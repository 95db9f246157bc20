#include "base/parallel_for.h"

#include "base/thread_priority.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

bool for_each_index(size_t count, size_t threads, const std::function<bool(size_t)>& work)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto run = [&] {
        for (size_t i; !failed.load() && (i = next.fetch_add(1)) < count;)
            if (!work(i)) failed.store(true);
    };
    // The helpers work at their caller's priority, as its own share does.
    const int priority = this_thread_priority();
    auto helper = [&] {
        set_this_thread_priority(priority);
        run();
    };
    std::vector<std::thread> helpers;
    const size_t wanted = std::min(std::max<size_t>(threads, 1), count);
    for (size_t t = 1; t < wanted; ++t) {
        try {
            helpers.emplace_back(helper);
        } catch (const std::system_error&) {
            break;   // fewer threads only make it slower
        }
    }
    run();
    for (std::thread& t : helpers) t.join();
    return !failed.load();
}
