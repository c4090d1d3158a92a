#include "core/core.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "ui/ui_internal.h"

static intptr_t on_size(MainWindow* w, PlayerContext* ctx, uintptr_t kind)
{
    // A minimised window, or one covered by another, draws nothing.
    bool hidden = kind == SIZE_MINIMIZED || kind == SIZE_MAXHIDE;
    ctx->window_visible.store(hidden ? 0 : 1, std::memory_order_relaxed);
    request_redraw(ctx);
    return 0;
}

static intptr_t on_activate(PlayerContext* ctx, uintptr_t active)
{
    int32_t state = active ? -1 : (ctx->playing.load(std::memory_order_relaxed) ? 0 : 1);
    ctx->focus_state.store(state, std::memory_order_relaxed);
    request_redraw(ctx);
    return active ? 0 : 1;
}

static intptr_t on_playlist(MainWindow* w, PlayerContext* ctx, uintptr_t sub_code, intptr_t b)
{
    switch (sub_code) {
    case PLAYLIST_SHOW_WINDOW:
        desktop_show(w);
        desktop_raise(w, b != 0);
        return 0;
    case PLAYLIST_HIDE_POINTER:
        ctx->clock_ticks.store(0, std::memory_order_relaxed);
        w->cursor_hidden.store(1, std::memory_order_relaxed);
        desktop_set_pointer_visible(w, 0);
        request_redraw(ctx);
        return 0;
    default:
        return playlist_handle_message(ctx, uint32_t(sub_code), b);
    }
}

intptr_t window_procedure(MainWindow* window, unsigned msg, uintptr_t a, intptr_t b)
{
    AppBlock* block = reinterpret_cast<AppBlock*>(window);
    PlayerContext* ctx = &block->player;
    switch (msg) {
    case MSG_CREATE:
        window_create(window, reinterpret_cast<const WindowCreation*>(a));
        return 0;
    case MSG_CLOSE:
        window_close(window, int(a));
        return 0;
    case MSG_SIZE:
        return on_size(window, ctx, a);
    case MSG_ERASE_BACKGROUND:
        request_redraw(ctx);
        return 1;
    case MSG_SHOW_WINDOW:
        ctx->window_visible.store(a ? 1 : 0, std::memory_order_relaxed);
        return 0;
    case MSG_SETTING_CHANGE:
    case MSG_DISPLAY_CHANGE:
        window_track_work_area(window);
        return 0;
    case MSG_POSITION_CHANGED:
        if (b)
            window_position_changed(window, a, reinterpret_cast<const WindowRect*>(b));
        return 0;
    case MSG_ACTIVATE:
        return on_activate(ctx, a);
    case MSG_SET_TITLE:
        if (b)
            desktop_set_title(window, reinterpret_cast<const char*>(b));
        return 1;
    case MSG_PLAYLIST:
        return on_playlist(window, ctx, a, b);
    case MSG_ERROR_BOX:
        platform_message_box(ctx->window, reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
        return 0;
    case MSG_CANCEL_MODE:
        if (a)
            platform_menu_cancel_tracking(ctx->window);
        platform_menu_destroy(reinterpret_cast<void*>(b));
        return 0;
    default:
        return 0;
    }
}
