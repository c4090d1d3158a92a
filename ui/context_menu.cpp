// The context menu: built on first use from the playlist, the chapters, the
// tracks and the options, cached in the player context until a change of
// item or list drops it, and shown at the pointer. Window thread.
#include "core/core.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/menu_internal.h"

namespace {

PlayerContext* player_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

void menu_closed(void* user)
{
    static_cast<PlayerContext*>(user)->menu_depth.fetch_sub(1, std::memory_order_acq_rel);
}

// The cached menu, built when there is none. A drop that comes while the
// menu is being built (the media thread has opened another item) may have
// described the old item: such a menu is built again, at most twice.
MenuTree* cached_menu(PlayerContext* ctx)
{
    MenuTree* tree = nullptr;
    for (int attempt = 0; attempt < 3; attempt++) {
        tree = static_cast<MenuTree*>(ctx->menu.load(std::memory_order_acquire));
        if (tree)
            return tree;
        uint32_t drops = ctx->menu_drops.load(std::memory_order_acquire);
        tree = menu_build(ctx);
        // Only this thread stores a menu; others only take it away.
        ctx->menu.store(tree, std::memory_order_release);
        if (ctx->menu_drops.load(std::memory_order_acquire) == drops)
            return tree;
        // Taken back unless the dropper already has it (it sends it here to be destroyed).
        MenuTree* mine = static_cast<MenuTree*>(ctx->menu.exchange(nullptr, std::memory_order_acq_rel));
        if (mine)
            menu_free(mine);
    }
    return tree;
}

int cool_menu_wanted()
{
    return settings.cool_menu.load(std::memory_order_relaxed) != 0;
}

} // namespace

void show_context_menu(MainWindow* w)
{
    PlayerContext* ctx = player_of(w);
    if (ctx->menu_stale && ctx->menu_depth.load(std::memory_order_acquire) == 0) {
        ctx->menu_stale = false;
        cancel_menu(ctx);
    }
    MenuTree* tree = cached_menu(ctx);
    menu_sync_marks(ctx, tree);
    stats_menu_shown(ctx, tree);
    if (!ctx->window)
        return; // headless: recorded, not drawn
    ctx->menu_depth.fetch_add(1, std::memory_order_acq_rel);
    if (!platform_menu_popup(ctx->window, tree, menu_closed, ctx))
        ctx->menu_depth.fetch_sub(1, std::memory_order_acq_rel);
}

void menu_set_check(PlayerContext* ctx, int command_id, int checked)
{
    auto* tree = static_cast<MenuTree*>(ctx->menu.load(std::memory_order_acquire));
    if (!tree)
        return;
    MenuItem* item = menu_find(&tree->items, command_id);
    if (!item || !item->checkable)
        return;
    item->checked = checked != 0;
    if (tree->native)
        platform_menu_update_marks(tree->native);
}

void install_cool_menu(MainWindow* w)
{
    if (w->handle)
        platform_menu_band_install(cool_menu_wanted);
}

intptr_t menu_cancel_mode(MainWindow* w, uintptr_t shown, intptr_t menu)
{
    if (shown)
        platform_menu_cancel_tracking(player_of(w)->window);
    menu_free(reinterpret_cast<MenuTree*>(menu));
    return 0;
}
