// What the menu's chosen items do: entries open, chapters seek, tracks
// switch, the list is shuffled or sorted, the program exits, the cool menu
// is switched. The option toggles belong to the command table of the input
// handling.
#include "core/core.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/menu_internal.h"

namespace {

void seek_to_chapter(PlayerContext* ctx, int32_t n)
{
    int32_t start = -1;
    {
        SpinGuard guard(&ctx->menu_source_lock);
        if (const MenuSource* source = ctx->menu_source)
            if (size_t(n) < source->chapters.size())
                start = source->chapters[size_t(n)].start_ms;
    }
    if (start < 0)
        return;
    stats_seek_asked(ctx);
    ctx->seek_forward.store(0, std::memory_order_relaxed);
    ctx->seek_target_ms.store(start, std::memory_order_release);
}

void toggle_cool_menu(MainWindow* w, PlayerContext* ctx)
{
    int32_t on = settings.cool_menu.load(std::memory_order_relaxed) == 0;
    settings.cool_menu.store(on, std::memory_order_relaxed);
    if (on)
        install_cool_menu(w);
    menu_set_check(ctx, CMD_COOL_MENU, on);
    show_notice(ctx, " %sCool菜单 ", on ? "启用" : "关闭");
}

} // namespace

intptr_t menu_command(MainWindow* w, int32_t id)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    if (id >= CMD_FIRST_ENTRY) {
        if (uint32_t(id - CMD_FIRST_ENTRY) < ctx->item_count.load(std::memory_order_relaxed))
            playlist_open_request(ctx, id - CMD_FIRST_ENTRY, 1, -1);
    } else if (id >= CMD_FIRST_CHAPTER) {
        seek_to_chapter(ctx, id - CMD_FIRST_CHAPTER);
    } else if (id >= CMD_FIRST_STREAM) {
        command_track(ctx, id);
    } else if (id == CMD_SHUFFLE) {
        playlist_shuffle(ctx);
    } else if (id == CMD_SORT) {
        playlist_sort(ctx);
    } else if (id == CMD_EXIT) {
        window_close(w, 0);
    } else if (id == CMD_COOL_MENU) {
        toggle_cool_menu(w, ctx);
    }
    request_redraw(ctx);
    return 0;
}
