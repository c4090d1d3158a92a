#include "core/core.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "ui/input_internal.h"
#include "ui/menu_internal.h"
#include "ui/services_internal.h"
#include "ui/ui_internal.h"

static intptr_t on_size(MainWindow* w, PlayerContext* ctx, uintptr_t kind)
{
    // A minimised window, or one covered by another, draws nothing.
    bool hidden = kind == SIZE_MINIMIZED || kind == SIZE_MAXHIDE;
    ctx->window_visible.store(hidden ? 0 : 1, std::memory_order_relaxed);
    if (kind == SIZE_MINIMIZED)
        trim_if_enabled();
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
        if (w->tray_flags.load(std::memory_order_relaxed) != 0)
            return 0; // it comes back with restore_from_tray
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

// Keys, the mouse, hot keys, commands, system commands and timers.
static intptr_t input_procedure(MainWindow* w, unsigned msg, uintptr_t a, intptr_t b)
{
    switch (msg) {
    case MSG_KEY_DOWN: return on_key_down(w, int32_t(a), b);
    case MSG_SYS_KEY_DOWN: return on_sys_key_down(w, int32_t(a), b);
    case MSG_MOUSE_MOVE: return on_mouse_move(w, a, b);
    case MSG_MOUSE_LEAVE: return on_mouse_leave(w);
    case MSG_LEFT_DOWN:
    case MSG_LEFT_UP:
    case MSG_LEFT_DOUBLE:
    case MSG_RIGHT_DOWN:
    case MSG_RIGHT_UP:
    case MSG_MIDDLE_DOWN: return on_mouse_button(w, msg, a, b);
    case MSG_MOUSE_WHEEL: return on_mouse_wheel(w, intptr_t(a));
    case MSG_HOTKEY: return on_hotkey(w, int32_t(a));
    case MSG_COMMAND: return on_command(w, int32_t(a), b);
    case MSG_SYS_COMMAND: return on_sys_command(w, a);
    default: return 0;
    }
}

intptr_t window_procedure(MainWindow* window, unsigned msg, uintptr_t a, intptr_t b)
{
    AppBlock* block = reinterpret_cast<AppBlock*>(window);
    PlayerContext* ctx = &block->player;
    intptr_t result = 0;
    if (window_modes_message(window, msg, a, b, &result))
        return result;
    switch (msg) {
    case MSG_CREATE:
        window_create(window, reinterpret_cast<const WindowCreation*>(a));
        return 0;
    case MSG_CLOSE:
        window_close(window, int(a));
        return 0;
    case MSG_QUERY_END_SESSION:
    case MSG_END_SESSION:
        window_close(window, 0);
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
        return menu_cancel_mode(window, a, b);
    case MSG_CONTEXT_MENU:
        show_context_menu(window);
        return 0;
    // ---- window geometry and file intake ----
    case MSG_HIT_TEST:
        return window_hit_test(window, int32_t(a), int32_t(b));
    case MSG_GET_MIN_SIZE:
        if (b)
            window_min_size(reinterpret_cast<WindowMinSize*>(b));
        return 0;
    case MSG_NC_LBUTTON_DOWN:
        window_begin_resize(window, intptr_t(a));
        return 0;
    case MSG_ENTER_SIZE_MOVE:
    case MSG_EXIT_SIZE_MOVE:
        window_drag_changed(window, msg == MSG_ENTER_SIZE_MOVE);
        return 0;
    case MSG_MOVING:
        if (b)
            window_moving(window, reinterpret_cast<WindowRect*>(b));
        return 1;
    case MSG_SIZING:
        if (b)
            window_sizing(window, a, reinterpret_cast<WindowRect*>(b));
        return 1;
    case MSG_DROP_FILES:
        window_drop_files(window, reinterpret_cast<const DroppedFiles*>(b));
        return 0;
    case MSG_COPY_DATA:
        return window_copy_data(window, reinterpret_cast<const CopyData*>(b));
    case MSG_INTAKE_LISTED:
        intake_listed(window);
        return 0;
    // Hot keys, screensaver and trimming.
    case MSG_MEDIA_STATE:
        media_state_changed(window, int(a));
        return 0;
    case MSG_TRIM_SOON:
        trim_soon(window);
        return 0;
    case MSG_ITEM_TAGS:
        platform_mpris_announce(window->handle);
        return 0;
    case MSG_TIMER:
        window_timer_elapsed(window, unsigned(a));
        return 0;
    default:
        return input_procedure(window, msg, a, b);
    }
}
