// The engine's two spin locks: compare-and-exchange 0 -> 1, 1 ms sleep between tries.
#pragma once
#include <atomic>
#include <cstdint>

using SpinLock = std::atomic<int32_t>;

void spin_lock(SpinLock* lock);
void spin_unlock(SpinLock* lock);

// Holds a spin lock for one scope.
struct SpinGuard {
    SpinLock* lock;
    explicit SpinGuard(SpinLock* l) : lock(l) { spin_lock(lock); }
    ~SpinGuard() { spin_unlock(lock); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;
};
