// The mouse: region tracking, the buttons by the region under the pointer,
// the wheel.
#include "core/core.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/input_internal.h"
#include "ui/ui_internal.h"

int32_t screen_region(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (y <= 26 && x > width - 26)
        return REGION_CLOSE;
    if (y <= 26 && x >= width - 50 && x <= width - 26)
        return REGION_MAXIMIZE;
    if (y <= 26 && x >= width - 76 && x <= width - 51)
        return REGION_MINIMIZE;
    if (y <= 30)
        return REGION_TOP_BAR;
    if (y >= height - 30)
        return REGION_PROGRESS;
    if (x < 50)
        return REGION_LEFT_STRIP;
    if (x > width - 50)
        return REGION_RIGHT_STRIP;
    return REGION_PICTURE;
}

int32_t progress_position_ms(int32_t duration_ms, int32_t x, int32_t width)
{
    if (duration_ms <= 0)
        return 0;
    // A window narrower than the bar's margins has no bar to point into.
    int64_t span = int64_t(width) - 8;
    int64_t position = span > 0 ? (int64_t(duration_ms) - 1) * (int64_t(x) - 4) / span : 0;
    if (position < 0)
        return 0;
    return position > duration_ms - 1 ? duration_ms - 1 : int32_t(position);
}

namespace {

bool has_video(PlayerContext* ctx)
{
    return ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
}

// Left or right button on the progress bar: the position under the click.
void seek_to_pointer(MainWindow* w, intptr_t position, bool right)
{
    PlayerContext* ctx = context_of(w);
    int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    if (duration <= 100 || !ctx->format.load(std::memory_order_acquire))
        return;
    int32_t at = progress_position_ms(duration, mouse_x(position), w->client_width);
    ctx->hover_position_ms.store(at, std::memory_order_relaxed);
    action_seek_to(ctx, at, right ? (has_video(ctx) ? 0 : 1) : SEEK_KEEP_FORWARD);
}

void hide_to_tray_once(MainWindow* w)
{
    if (!window_in_tray(w))
        hide_to_tray(w);
}

void left_down(MainWindow* w, int32_t region, intptr_t position)
{
    PlayerContext* ctx = context_of(w);
    switch (region) {
    case REGION_PICTURE:
        if (w->screen_mode == 0)
            window_begin_move(w);
        break;
    case REGION_LEFT_STRIP: playlist_previous(ctx); break;
    case REGION_RIGHT_STRIP: playlist_next(ctx); break;
    case REGION_PROGRESS: seek_to_pointer(w, position, false); break;
    case REGION_TOP_BAR: action_play_pause(w); break;
    default: break;
    }
}

void left_up(MainWindow* w, int32_t region)
{
    switch (region) {
    case REGION_CLOSE: action_exit(w); break;
    case REGION_MAXIMIZE: toggle_screen_mode(w, 1); break;
    case REGION_MINIMIZE:
        if (settings.always_on_top.load(std::memory_order_relaxed) && w->screen_mode >= 0)
            hide_to_tray_once(w);
        else
            desktop_minimize(w);
        break;
    default: break;
    }
}

void right_up(MainWindow* w, int32_t region, uintptr_t state)
{
    PlayerContext* ctx = context_of(w);
    switch (region) {
    case REGION_PICTURE: show_context_menu(w); break;
    case REGION_LEFT_STRIP: action_seek_by(ctx, -5); break;
    case REGION_RIGHT_STRIP: action_seek_by(ctx, 5); break;
    case REGION_TOP_BAR: open_files_dialog(w, (state & MOUSE_CTRL) != 0, (state & MOUSE_ALT) != 0); break;
    case REGION_CLOSE: command_stop(ctx); break;
    case REGION_MAXIMIZE: toggle_screen_mode(w, 0); break;
    case REGION_MINIMIZE: hide_to_tray_once(w); break;
    default: break;
    }
}

void middle_down(MainWindow* w, int32_t region)
{
    PlayerContext* ctx = context_of(w);
    switch (region) {
    case REGION_LEFT_STRIP: action_seek_by(ctx, -30); break;
    case REGION_RIGHT_STRIP: action_seek_by(ctx, 30); break;
    case REGION_TOP_BAR: show_current_file(ctx); break;
    default: toggle_screen_mode(w, 0); break;
    }
}

} // namespace

intptr_t on_mouse_move(MainWindow* w, uintptr_t state, intptr_t position)
{
    PlayerContext* ctx = context_of(w);
    ctx->mouse_buttons.store(int32_t(state & (MOUSE_LEFT | MOUSE_RIGHT)), std::memory_order_relaxed);
    int32_t x = mouse_x(position), y = mouse_y(position);
    int32_t region = screen_region(x, y, w->client_width, w->client_height);
    if (region == REGION_PROGRESS) {
        int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
        ctx->hover_position_ms.store(progress_position_ms(duration, x, w->client_width), std::memory_order_relaxed);
        request_redraw(ctx);
    }
    if (region != ctx->hover_region.load(std::memory_order_relaxed)) {
        ctx->hover_region.store(region, std::memory_order_relaxed);
        ctx->clock_ticks.store(0, std::memory_order_relaxed);
        request_redraw(ctx);
    }
    // The desktop reports every leave; tracking only marks the pointer inside.
    w->mouse_tracking.store(1, std::memory_order_relaxed);
    if (int64_t(position) == w->last_mouse_pos)
        return 0;
    w->last_mouse_pos = int64_t(position);
    action_wake_pointer(w);
    return 0;
}

intptr_t on_mouse_leave(MainWindow* w)
{
    PlayerContext* ctx = context_of(w);
    ctx->hover_region.store(REGION_PICTURE, std::memory_order_relaxed);
    w->mouse_tracking.store(0, std::memory_order_relaxed);
    ctx->clock_ticks.store(0, std::memory_order_relaxed);
    request_redraw(ctx);
    action_wake_pointer(w);
    return 0;
}

intptr_t on_mouse_button(MainWindow* w, unsigned msg, uintptr_t state, intptr_t position)
{
    PlayerContext* ctx = context_of(w);
    int32_t region = ctx->hover_region.load(std::memory_order_relaxed);
    if (msg == MSG_MIDDLE_DOWN) {
        middle_down(w, region);
        return 0;
    }
    ctx->mouse_buttons.store(int32_t(state & (MOUSE_LEFT | MOUSE_RIGHT)), std::memory_order_relaxed);
    request_redraw(ctx);
    switch (msg) {
    case MSG_LEFT_DOUBLE:
        if (region == REGION_PICTURE)
            toggle_screen_mode(w, 0);
        else
            left_down(w, region, position);
        break;
    case MSG_LEFT_DOWN: left_down(w, region, position); break;
    case MSG_LEFT_UP: left_up(w, region); break;
    case MSG_RIGHT_DOWN:
        if (region == REGION_PROGRESS)
            seek_to_pointer(w, position, true);
        break;
    case MSG_RIGHT_UP: right_up(w, region, state); break;
    default: break;
    }
    return 0;
}

intptr_t on_mouse_wheel(MainWindow* w, intptr_t turn)
{
    if (!w->mouse_tracking.load(std::memory_order_relaxed) || turn == 0)
        return 0;
    action_volume_step(context_of(w), turn > 0);
    return 0;
}
