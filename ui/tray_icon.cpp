// Hidden in the tray: the window goes, an icon stays (its tip the item
// label), notices become the icon's balloons, and a click on the icon or the
// balloon brings the window back as it was, a screen mode included. Window
// thread only; notices reach it as posted MSG_BALLOON messages.
#include <cstring>

#include "core/core.h"
#include "settings/settings.h"
#include "ui/ui_internal.h"

namespace {

constexpr int TIP_UNITS = 128;
constexpr int BALLOON_UNITS = 256;

PlayerContext* context_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

// The item label, or the title base text while no item is open.
void tray_tip(MainWindow* w, char* out, size_t out_size)
{
    PlayerContext* ctx = context_of(w);
    char label[sizeof w->item_label];
    size_t length = ctx->format.load(std::memory_order_acquire) ? item_label_copy(ctx, label, sizeof label) : 0;
    const char* text = length ? label : title_base_text();
    utf8_copy_units(out, out_size, text, strlen(text), TIP_UNITS);
}

bool keeps_above(MainWindow* w)
{
    return settings.always_on_top.load(std::memory_order_relaxed) && w->screen_mode >= 0;
}

} // namespace

int window_in_tray(MainWindow* w)
{
    return w->tray_flags.load(std::memory_order_acquire) != 0;
}

void hide_to_tray(MainWindow* w)
{
    if (w->tray_flags.load(std::memory_order_acquire) != 0)
        return;
    // Without a tray the window would be gone for good: it is minimised as
    // the minimise button does, in the task list (off the top band, which
    // keeps it out of there), and its notices stay on the OSD.
    if (!desktop_tray_available(w)) {
        if (!w->minimised_for_tray) {
            w->minimised_for_tray = 1;
            if (settings.always_on_top.load(std::memory_order_relaxed))
                desktop_set_band(w, 0);
            desktop_minimize(w);
        }
        return;
    }
    if (context_of(w)->clock_shown.load(std::memory_order_relaxed))
        hide_clock_overlay(w);
    desktop_hide(w);
    w->tray_flags.store(TRAY_ICON_SHOWN, std::memory_order_release);
    char tip[TIP_UNITS * 3 + 1];
    tray_tip(w, tip, sizeof tip);
    desktop_tray_show(w, tip);
    trim_if_enabled();
}

void restore_from_tray(MainWindow* w)
{
    if (w->tray_flags.exchange(0, std::memory_order_acq_rel) == 0) {
        // Not in the tray (a raise from outside): to the front.
        desktop_show(w);
        desktop_raise(w, keeps_above(w));
        return;
    }
    desktop_tray_hide(w);
    desktop_balloon_close(w);
    desktop_show(w);
    // The window comes back where it was, and a screen mode with it.
    if (w->screen_mode != 0)
        reapply_screen_mode(w);
    else
        desktop_move_resize(w, &w->normal_rect);
    desktop_raise(w, keeps_above(w));
    if (w->screen_mode != 0 && settings.show_clock.load(std::memory_order_relaxed))
        show_clock_overlay(w);
}

void restored_from_minimised(MainWindow* w)
{
    if (!w->minimised_for_tray)
        return;
    w->minimised_for_tray = 0;
    if (keeps_above(w))
        set_topmost_band(w, 1);
}

void tray_event(MainWindow* w, intptr_t event)
{
    if (w->tray_flags.load(std::memory_order_acquire) == 0)
        return;
    if (event == TRAY_EVENT_LEFT_UP || event == TRAY_EVENT_BALLOON_CLICK || event == TRAY_EVENT_HOST_GONE)
        restore_from_tray(w);
    else if (event == TRAY_EVENT_RIGHT_UP)
        show_context_menu(w); // the window stays hidden
}

void tray_balloon(MainWindow* w, int show)
{
    if (!show) {
        desktop_balloon_close(w);
        return;
    }
    if (w->tray_flags.load(std::memory_order_acquire) == 0)
        return;
    char text[sizeof context_of(w)->notice_text];
    size_t length = notice_copy(context_of(w), text, sizeof text);
    if (length == 0)
        return; // its time ran out before it got here
    char body[BALLOON_UNITS * 3 + 1];
    utf8_copy_units(body, sizeof body, text, length, BALLOON_UNITS);
    desktop_balloon_show(w, title_base_text(), body);
}

void tray_title_changed(MainWindow* w)
{
    if (w->tray_flags.load(std::memory_order_acquire) == 0)
        return;
    char tip[TIP_UNITS * 3 + 1];
    tray_tip(w, tip, sizeof tip);
    desktop_tray_set_tip(w, tip);
}

void remove_tray_icon(PlayerContext* ctx, int)
{
    MainWindow* w = main_window_of(ctx);
    int32_t flags = w->tray_flags.exchange(0, std::memory_order_acq_rel);
    if (flags != 0)
        desktop_tray_hide(w);
    // A balloon would outlive the player for the rest of its time.
    if (flags == TRAY_BALLOON_SHOWN)
        desktop_balloon_close_wait(w, 300);
}
