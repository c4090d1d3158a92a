#include "core/bridge.h"

#include <atomic>

static std::atomic<const WindowLoop*> installed_loop{nullptr};

void window_bridge_install(const WindowLoop* loop)
{
    installed_loop.store(loop, std::memory_order_release);
}

intptr_t window_send(unsigned msg, uintptr_t a, intptr_t b)
{
    const WindowLoop* loop = installed_loop.load(std::memory_order_acquire);
    return loop ? loop->send(loop->loop, msg, a, b) : 0;
}

void window_post(unsigned msg, uintptr_t a, intptr_t b)
{
    const WindowLoop* loop = installed_loop.load(std::memory_order_acquire);
    if (loop)
        loop->post(loop->loop, msg, a, b);
}
