#include "core/main_window.h"

#include <cstddef>

MainWindow* main_window_of(PlayerContext* ctx)
{
    // The context always lives inside an AppBlock, right behind its header.
    return reinterpret_cast<MainWindow*>(reinterpret_cast<char*>(ctx) - offsetof(AppBlock, player));
}
