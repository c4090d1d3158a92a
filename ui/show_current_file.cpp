// Middle button on the top bar: the current entry in the file manager.
#include "core/core.h"
#include "platform/platform.h"
#include "ui/input_internal.h"

namespace {
int (*show_file)(const char* path) = platform_show_file;
}

void show_file_set_handler(int (*handler)(const char* path))
{
    show_file = handler ? handler : platform_show_file;
}

void show_current_file(PlayerContext* ctx)
{
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    if (current >= ctx->item_count.load(std::memory_order_relaxed) || !ctx->playlist.items)
        return;
    const char* path = ctx->playlist.items[current].path;
    if (path && path[0])
        show_file(path);
}
