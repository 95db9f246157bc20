#include "base/work_slots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Twelve threads through a bound of two: never more than two inside at once,
// every one gets through, and a bound of zero still lets one in.
TEST(WorkSlots, AdmitsAtMostTheBoundAndEveryoneInTurn)
{
    for (int bound : {2, 0}) {
        WorkSlots slots(bound);
        std::atomic<int> inside{0}, most{0}, done{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 12; ++i) {
            threads.emplace_back([&] {
                for (int k = 0; k < 20; ++k) {
                    WorkSlots::Held slot(slots);
                    const int now = ++inside;
                    int seen = most.load();
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {}
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    --inside;
                }
                ++done;
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(done.load(), 12);
        EXPECT_LE(most.load(), std::max(bound, 1));
    }
}
