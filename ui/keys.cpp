// Keys: the key table of the window, the Alt keys and the global hot keys.
#include "core/core.h"
#include "decode/decode.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/input_internal.h"
#include "ui/ui_internal.h"

namespace {

bool has_video(PlayerContext* ctx)
{
    return ctx->format.load(std::memory_order_acquire) != nullptr &&
           ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
}

// A held arrow key repeats faster than seeks finish: a key that finds a
// seek still pending waits 100 ms and is dropped, so seeks never pile up.
bool dropped_while_seeking(PlayerContext* ctx)
{
    if (ctx->seek_target_ms.load(std::memory_order_acquire) < 0)
        return false;
    delay_100ns(-1000000);
    return true;
}

// The media and browser keys act as the keys they stand for.
int32_t key_meaning(int32_t key)
{
    switch (key) {
    case KEY_MEDIA_NEXT: return KEY_PAGE_DOWN;
    case KEY_MEDIA_PREVIOUS: return KEY_PAGE_UP;
    case KEY_MEDIA_STOP:
    case KEY_MEDIA_PLAY_PAUSE:
    case KEY_BROWSER_STOP: return KEY_SPACE;
    case KEY_BROWSER_BACK: return KEY_LEFT;
    case KEY_BROWSER_FORWARD: return KEY_RIGHT;
    default: return key;
    }
}

void escape(MainWindow* w, PlayerContext* ctx)
{
    if (w->screen_mode != 0) {
        toggle_screen_mode(w, w->screen_mode == -1 ? 1 : 0);
    } else if (settings.always_on_top.load(std::memory_order_relaxed)) {
        if (!window_in_tray(w))
            hide_to_tray(w);
    } else {
        if (has_video(ctx))
            command_play_pause(ctx, 0);
        desktop_minimize(w);
    }
}

void arrow(MainWindow* w, PlayerContext* ctx, int forward, bool ctrl)
{
    if (dropped_while_seeking(ctx))
        return;
    if (ctrl) {
        action_frame_step(ctx, forward ? 1 : -1, 1);
        action_wake_pointer(w);
    } else {
        action_seek_by(ctx, forward ? 5 : -5);
    }
}

void page(MainWindow* w, PlayerContext* ctx, int forward, bool ctrl, bool shift)
{
    if (shift) {
        action_chapter_step(w, forward);
    } else if (ctrl) {
        if (!dropped_while_seeking(ctx))
            action_seek_by(ctx, forward ? 30 : -30);
    } else if (forward) {
        playlist_next(ctx);
    } else {
        playlist_previous(ctx);
    }
}

} // namespace

intptr_t on_key_down(MainWindow* w, int32_t key, intptr_t modifiers)
{
    PlayerContext* ctx = context_of(w);
    bool ctrl = modifiers & KEY_MOD_CTRL;
    bool shift = modifiers & KEY_MOD_SHIFT;
    action_wake_pointer(w);
    key = key_meaning(key);
    switch (key) {
    case KEY_TAB: on_command(w, 1004, 0); return 0;
    case 'O': open_files_dialog(w, ctrl, (modifiers & KEY_MOD_ALT) != 0); break;
    case 'C':
        if (ctrl)
            ctx->copy_request.store(2, std::memory_order_release);
        else
            copy_subtitle_text(ctx);
        break;
    case 'R': playlist_shuffle(ctx); break;
    case 'S': playlist_sort(ctx); break;
    case '1': case '2': case '3': case '4': case '5':
        if (has_video(ctx))
            size_window_to_video(w, key - '0');
        break;
    case KEY_RETURN: toggle_screen_mode(w, 0); break;
    case KEY_ESCAPE: escape(w, ctx); break;
    case KEY_SPACE: action_play_pause(w); break;
    case 'F': command_step(ctx); break;
    case 'D': action_frame_step(ctx, -1, 0); break;
    case KEY_HOME:
        if (ctrl)
            action_seek_to(ctx, 0);
        break;
    case KEY_UP: action_volume_step(ctx, 1); break;
    case KEY_DOWN: action_volume_step(ctx, 0); break;
    case KEY_LEFT: arrow(w, ctx, 0, ctrl); break;
    case KEY_RIGHT: arrow(w, ctx, 1, ctrl); break;
    case KEY_PAGE_UP: page(w, ctx, 0, ctrl, shift); break;
    case KEY_PAGE_DOWN: page(w, ctx, 1, ctrl, shift); break;
    default: break;
    }
    request_redraw(ctx);
    return 0;
}

intptr_t on_sys_key_down(MainWindow* w, int32_t key, intptr_t modifiers)
{
    PlayerContext* ctx = context_of(w);
    action_wake_pointer(w);
    if (key == 'O') {
        open_files_dialog(w, (modifiers & KEY_MOD_CTRL) != 0, 1);
        request_redraw(ctx);
    } else if (key == 'C') {
        ctx->copy_request.store(3, std::memory_order_release);
    }
    return 0;
}

intptr_t on_hotkey(MainWindow* w, int32_t key)
{
    PlayerContext* ctx = context_of(w);
    switch (key) {
    case 'M':
        if (window_in_tray(w) || w->minimised_for_tray)
            restore_from_tray(w);
        else
            hide_to_tray(w);
        break;
    case 'R': playlist_shuffle(ctx); break;
    case 'B': case KEY_PAGE_UP: playlist_previous(ctx); break;
    case 'N': case KEY_PAGE_DOWN: playlist_next(ctx); break;
    case 'P': action_play_pause(w); break;
    case 'S': command_stop(ctx); break;
    case KEY_LEFT: action_seek_by(ctx, -5); break;
    case KEY_RIGHT: action_seek_by(ctx, 5); break;
    case KEY_UP: action_volume_step(ctx, 1); break;
    case KEY_DOWN: action_volume_step(ctx, 0); break;
    default: break;
    }
    request_redraw(ctx);
    return 0;
}
