// The message bridge between the engine threads and the window thread.
// Whoever runs the window thread's loop (the desktop window, or the headless
// loop) installs its send and post functions; the engine only calls
// window_send and window_post.
#pragma once
#include <cstdint>

struct PlayerContext;

struct WindowLoop {
    // Runs the window procedure on the window thread and blocks the caller
    // until it returns; a call from the window thread itself runs directly.
    intptr_t (*send)(void* loop, unsigned msg, uintptr_t a, intptr_t b);
    // Queues the message for the window thread and returns at once.
    void (*post)(void* loop, unsigned msg, uintptr_t a, intptr_t b);
    void* loop;
};

// Installed once by the loop before the engine can send anything.
void window_bridge_install(const WindowLoop* loop);
// 0 when no loop is installed (tests that drive handlers directly).
intptr_t window_send(unsigned msg, uintptr_t a, intptr_t b);
void window_post(unsigned msg, uintptr_t a, intptr_t b);
