// The window's states on the desktop: the monitor it is on, the full-screen
// hint, keeping it above others and off the task bar, hiding it to the tray.
// The geometry of the screen modes is the player's own; the hints only tell
// the window manager and the panels what the window is.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

bool platform_window_query_monitor(void* window, WindowRect* monitor, WindowRect* work_area)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return false;
    GdkDisplay* display = gtk_widget_get_display(w->toplevel);
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    // The monitor that holds most of the window, or the nearest one when its
    // own monitor has gone away.
    GdkMonitor* m = gdk_window ? gdk_display_get_monitor_at_window(display, gdk_window) : nullptr;
    if (!m)
        m = gdk_display_get_primary_monitor(display);
    if (!m)
        m = gdk_display_get_monitor(display, 0);
    if (!m)
        return false;
    GdkRectangle geometry, work;
    gdk_monitor_get_geometry(m, &geometry);
    gdk_monitor_get_workarea(m, &work);
    *monitor = WindowRect{geometry.x, geometry.y, geometry.x + geometry.width, geometry.y + geometry.height};
    *work_area = WindowRect{work.x, work.y, work.x + work.width, work.y + work.height};
    return true;
}

void platform_window_set_fullscreen_hint(void* window, int on)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    on = on ? 1 : 0;
    // The desktop answers a change of the state, and only on a shown window.
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    int now = gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_FULLSCREEN) ? 1 : 0;
    w->fullscreen_echo_pending = on != now && gtk_widget_get_mapped(w->toplevel) && !w->hidden_by_player;
    w->fullscreen_asked = on;
    if (on)
        gtk_window_fullscreen(GTK_WINDOW(w->toplevel));
    else
        gtk_window_unfullscreen(GTK_WINDOW(w->toplevel));
}

void platform_window_fullscreen_changed(PlatformWindow* w, int fullscreen)
{
    // Hidden in the tray the window manager drops the state; it comes back
    // with the window.
    if (w->hidden_by_player || !gtk_widget_get_mapped(w->toplevel))
        return;
    // States on their way from an earlier request of ours are not requests:
    // only the one matching the latest hint ends the wait.
    if (w->fullscreen_echo_pending) {
        if (fullscreen == w->fullscreen_asked)
            w->fullscreen_echo_pending = 0;
        return;
    }
    if (fullscreen != w->fullscreen_asked)
        w->procedure(w->user, MSG_FULLSCREEN_REQUEST, uintptr_t(fullscreen), 0);
}

void platform_window_unmaximize(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (w)
        gtk_window_unmaximize(GTK_WINDOW(w->toplevel));
}

void platform_window_set_band(void* window, int on)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    gtk_window_set_keep_above(GTK_WINDOW(w->toplevel), on ? TRUE : FALSE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(w->toplevel), on ? TRUE : FALSE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(w->toplevel), on ? TRUE : FALSE);
}

void platform_window_hide(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    w->hidden_by_player = 1;
    gtk_widget_hide(w->toplevel);
    // A window hidden while minimised would come back minimised.
    if (w->iconified)
        gtk_window_deiconify(GTK_WINDOW(w->toplevel));
}

int platform_ctrl_held(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(w->toplevel));
    return (gdk_keymap_get_modifier_state(keymap) & GDK_CONTROL_MASK) != 0;
}
