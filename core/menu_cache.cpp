#include "core/menu_cache.h"

#include "core/bridge.h"
#include "core/messages.h"
#include "core/player_context.h"

void cancel_menu(PlayerContext* ctx)
{
    ctx->menu_drops.fetch_add(1, std::memory_order_acq_rel);
    void* menu = ctx->menu.exchange(nullptr, std::memory_order_acq_rel);
    if (!menu)
        return;
    // Menus belong to the window thread: a send, so that a shown menu is
    // closed before the caller goes on to change what it lists.
    intptr_t shown = ctx->menu_depth.load(std::memory_order_acquire) != 0;
    window_send(MSG_CANCEL_MODE, uintptr_t(shown), reinterpret_cast<intptr_t>(menu));
}
