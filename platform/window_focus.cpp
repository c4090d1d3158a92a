// Giving the main window the keyboard. The window manager decides who is
// active; a request carries a time, and one older than the user's last
// action elsewhere is refused or only flagged. The player's own last input
// is no use when the user acted on a panel's tray icon or a hot key, or when
// a dialog just had the keys, so the X server's present time goes with the
// request. A window mapped just now is asked again once it is managed.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

bool can_take_focus(PlatformWindow* w)
{
    return w && w->toplevel && !w->quitting.load(std::memory_order_acquire) && !w->hidden_by_player &&
           gtk_widget_get_visible(w->toplevel);
}

} // namespace

void platform_window_take_focus(PlatformWindow* w)
{
    if (!can_take_focus(w))
        return;
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    if (!gdk_window)
        return;
    guint32 now = gdk_x11_get_server_time(gdk_window);
    // The time the window manager weighs against the user's last action.
    gdk_x11_window_set_user_time(gdk_window, now);
    gtk_window_present_with_time(GTK_WINDOW(w->toplevel), now);
    // Until the window has the focus, its next map asks again.
    w->focus_wanted = !gtk_window_has_toplevel_focus(GTK_WINDOW(w->toplevel));
}

void platform_window_focus_changed(PlatformWindow* w, int in)
{
    if (in)
        w->focus_wanted = 0;
}

void platform_window_mapped(PlatformWindow* w)
{
    if (w->focus_wanted)
        platform_window_take_focus(w);
}
