#include "base/work_slots.h"

void WorkSlots::wait_for_slot()
{
    std::unique_lock<std::mutex> held(slot_mutex_);
    slot_freed_.wait(held, [this] { return slots_free_ > 0; });
    --slots_free_;
}

void WorkSlots::free_slot()
{
    {
        std::lock_guard<std::mutex> held(slot_mutex_);
        ++slots_free_;
    }
    slot_freed_.notify_one();
}
