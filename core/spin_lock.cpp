#include "core/spin_lock.h"

#include "core/clock.h"

void spin_lock(SpinLock* lock)
{
    for (;;) {
        int32_t expected = 0;
        if (lock->compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        delay_100ns(SLEEP_1MS);
    }
}

void spin_unlock(SpinLock* lock)
{
    lock->store(0, std::memory_order_release);
}
