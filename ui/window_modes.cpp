// Window modes: full screen, maximised to the work area, always on top, and
// the clock overlay shown in a screen mode. The geometry is the player's own:
// full screen covers the monitor holding the window, the work-area mode that
// monitor's work area, and leaving a mode puts back the windowed rectangle
// exactly. The window manager's maximise and full-screen requests become the
// player's own toggles. Window thread only.
#include "core/core.h"
#include "settings/settings.h"
#include "ui/ui_internal.h"

namespace {

PlayerContext* context_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

bool same_rect(const WindowRect& a, const WindowRect& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool usable(const WindowRect& r)
{
    return r.right > r.left && r.bottom > r.top;
}

// The monitor holding the window and its work area; without an answer from
// the desktop, the primary screen as last tracked.
void monitor_of(MainWindow* w, WindowRect* monitor, WindowRect* work_area)
{
    *monitor = WindowRect{0, 0, w->screen_width, w->screen_height};
    *work_area = w->work_area;
    WindowRect m, work;
    if (!desktop_query_monitor(w, &m, &work) || !usable(m))
        return;
    *monitor = m;
    *work_area = usable(work) ? work : m;
}

void apply_mode_rect(MainWindow* w)
{
    WindowRect monitor, work_area;
    monitor_of(w, &monitor, &work_area);
    if (w->screen_mode == 1) {
        desktop_set_fullscreen_hint(w, 1);
        desktop_move_resize(w, &monitor);
    } else if (w->screen_mode == -1) {
        desktop_move_resize(w, &work_area);
    }
}

void enter_screen_mode(MainWindow* w, int32_t mode)
{
    w->saved_placement = w->normal_rect;
    // A window filling the work area does not stay above the others.
    if (mode == -1 && settings.always_on_top.load(std::memory_order_relaxed))
        set_topmost_band(w, 0);
    w->screen_mode = mode;
    apply_mode_rect(w);
    if (settings.show_clock.load(std::memory_order_relaxed))
        show_clock_overlay(w);
    trim_if_enabled();
}

void leave_screen_mode(MainWindow* w)
{
    int32_t mode = w->screen_mode;
    if (mode == -1 && settings.always_on_top.load(std::memory_order_relaxed))
        set_topmost_band(w, 1);
    w->screen_mode = 0;
    if (mode == 1)
        desktop_set_fullscreen_hint(w, 0);
    if (context_of(w)->clock_shown.load(std::memory_order_relaxed))
        hide_clock_overlay(w);
    w->normal_rect = w->saved_placement;
    desktop_move_resize(w, &w->saved_placement);
    trim_if_enabled();
}

// The window manager's maximise: the work-area toggle instead, and the
// window manager's own maximised state taken back.
void maximise_request(MainWindow* w)
{
    desktop_unmaximize(w);
    if (w->screen_mode == 0) {
        // A window manager that resized the window before it said so has
        // already made the work area the windowed rectangle.
        WindowRect monitor, work_area;
        monitor_of(w, &monitor, &work_area);
        if (same_rect(w->normal_rect, work_area) && usable(w->previous_normal_rect))
            w->normal_rect = w->previous_normal_rect;
    }
    toggle_screen_mode(w, 1);
}

void fullscreen_request(MainWindow* w, uintptr_t on)
{
    if (!on) {
        if (w->screen_mode == 1)
            leave_screen_mode(w);
        return;
    }
    if (w->screen_mode == 1)
        return;
    if (w->screen_mode == -1)
        leave_screen_mode(w);
    enter_screen_mode(w, 1);
}

void remember_rect(MainWindow* w, const WindowRect* r)
{
    if (w->screen_mode == 0 && usable(*r) && !same_rect(*r, w->normal_rect))
        w->previous_normal_rect = w->normal_rect;
}

} // namespace

void toggle_screen_mode(MainWindow* w, int maximise)
{
    if (w->screen_mode != 0) {
        leave_screen_mode(w);
        return;
    }
    enter_screen_mode(w, maximise || desktop_ctrl_held(w) ? -1 : 1);
}

void reapply_screen_mode(MainWindow* w)
{
    if (w->screen_mode == 0)
        return;
    apply_mode_rect(w);
    move_clock_overlay(w);
}

// On X11 the hints change on the shown window: hiding it first, as a
// tool-window style change needs elsewhere, would only make the window
// manager place it anew and drop its states.
void set_topmost_band(MainWindow* w, int on)
{
    desktop_set_band(w, on);
    window_post(MSG_PLAYLIST, PLAYLIST_SHOW_WINDOW, on ? 1 : 0);
}

void toggle_always_on_top(MainWindow* w, int silent)
{
    int32_t on = settings.always_on_top.load(std::memory_order_relaxed) ? 0 : 1;
    if (on && w->screen_mode == 1)
        leave_screen_mode(w);
    settings.always_on_top.store(on, std::memory_order_relaxed);
    // In the work-area mode the band stays normal until the mode is left.
    if (w->screen_mode >= 0)
        set_topmost_band(w, on);
    if (silent)
        return;
    PlayerContext* ctx = context_of(w);
    menu_set_check(ctx, 1003, on);
    show_notice(ctx, " %s窗口总在最前面 ", on ? "开启" : "关闭");
}

void apply_always_on_top_setting(PlayerContext* ctx)
{
    // Loading has stored the option already; the command turns it on.
    settings.always_on_top.store(0, std::memory_order_relaxed);
    toggle_always_on_top(main_window_of(ctx), 1);
}

void show_clock_overlay(MainWindow* w)
{
    PlayerContext* ctx = context_of(w);
    if (ctx->clock_shown.load(std::memory_order_relaxed))
        return;
    ctx->clock_shown.store(1, std::memory_order_relaxed);
    // The presentation thread shows the time within two ticks.
    ctx->clock_ticks.store(1, std::memory_order_relaxed);
}

void hide_clock_overlay(MainWindow* w)
{
    // The presentation thread takes the overlay off the screen at its next pass.
    context_of(w)->clock_shown.store(0, std::memory_order_relaxed);
}

void move_clock_overlay(MainWindow* w)
{
    PlayerContext* ctx = context_of(w);
    if (ctx->clock_shown.load(std::memory_order_relaxed))
        ctx->clock_ticks.store(0, std::memory_order_relaxed);
}

bool window_modes_message(MainWindow* w, unsigned msg, uintptr_t a, intptr_t b, intptr_t* result)
{
    *result = 0;
    bool in_tray = w->tray_flags.load(std::memory_order_relaxed) != 0;
    switch (msg) {
    case MSG_TRAY:
        tray_event(w, b);
        return true;
    case MSG_BALLOON:
        tray_balloon(w, a != 0);
        return true;
    case MSG_FULLSCREEN_REQUEST:
        fullscreen_request(w, a);
        return true;
    case MSG_SIZE:
        // Hidden in the tray, the window's size states mean nothing.
        if (in_tray)
            return true;
        if (a == SIZE_MAXIMIZED) {
            maximise_request(w);
            return true;
        }
        // Always on top, the window has no task-bar button to come back
        // from: minimising sends it to the tray instead.
        if (a == SIZE_MINIMIZED && settings.always_on_top.load(std::memory_order_relaxed) && w->screen_mode >= 0) {
            hide_to_tray(w);
            if (window_in_tray(w))
                return true; // else minimised after all, where no tray is
        }
        if (a == SIZE_RESTORED)
            restored_from_minimised(w);
        // The time goes and comes with a minimised screen-mode window.
        if (a == SIZE_MINIMIZED && context_of(w)->clock_shown.load(std::memory_order_relaxed))
            hide_clock_overlay(w);
        else if (a == SIZE_RESTORED && w->screen_mode != 0 && settings.show_clock.load(std::memory_order_relaxed))
            show_clock_overlay(w);
        return false;
    case MSG_POSITION_CHANGED:
        if (b)
            remember_rect(w, reinterpret_cast<const WindowRect*>(b));
        move_clock_overlay(w);
        return false;
    case MSG_SET_TITLE:
        tray_title_changed(w);
        return false;
    default:
        return false;
    }
}
