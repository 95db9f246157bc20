#include "base/thread_priority.h"

#include <windows.h>

BelowNormalPriority::BelowNormalPriority() : previous_(this_thread_priority())
{
    set_this_thread_priority(THREAD_PRIORITY_BELOW_NORMAL);
}

BelowNormalPriority::~BelowNormalPriority() { set_this_thread_priority(previous_); }

int this_thread_priority()
{
    const int priority = GetThreadPriority(GetCurrentThread());
    return priority == THREAD_PRIORITY_ERROR_RETURN ? THREAD_PRIORITY_NORMAL : priority;
}

void set_this_thread_priority(int priority) { SetThreadPriority(GetCurrentThread(), priority); }
