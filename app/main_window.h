// The window header that sits in front of the player context in the one
// block the program allocates at start-up.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/player_context.h"

struct MainWindow {
    void* handle;                      // the platform window, null headless
    std::atomic<int32_t> cursor_hidden;
    std::atomic<int32_t> mouse_tracking;
    std::atomic<int32_t> idle_ticks;
    int32_t client_width;
    int32_t client_height;
    int32_t exit_code;
};

// The block: header first, then the context.
struct AppBlock {
    MainWindow window;
    PlayerContext player;
};

MainWindow* main_window_of(PlayerContext* ctx);
