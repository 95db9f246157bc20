#include "base/thread_priority.h"

#include <windows.h>

void run_below_normal_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

int this_thread_priority()
{
    const int priority = GetThreadPriority(GetCurrentThread());
    return priority == THREAD_PRIORITY_ERROR_RETURN ? THREAD_PRIORITY_NORMAL : priority;
}

void set_this_thread_priority(int priority) { SetThreadPriority(GetCurrentThread(), priority); }
