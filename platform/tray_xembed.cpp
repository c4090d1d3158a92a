// The tray icon for desktops without a StatusNotifierWatcher: a status icon
// embedded in an XEmbed system tray. A left click restores the window, a
// right click shows the player's context menu. Without any tray the icon is
// simply not seen; the window still comes back through the hot key or the
// media-player interface.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/tray_internal.h"

// The status icon is the toolkit's only XEmbed tray client, kept though
// marked as outdated.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace {

void on_activate(GtkStatusIcon*, gpointer data)
{
    tray_post_event(static_cast<TrayState*>(data), TRAY_EVENT_LEFT_UP);
}

void on_popup_menu(GtkStatusIcon*, guint, guint, gpointer data)
{
    tray_post_event(static_cast<TrayState*>(data), TRAY_EVENT_RIGHT_UP);
}

} // namespace

void xembed_show(TrayState* t)
{
    if (!t->status_icon) {
        GdkPixbuf* icon = platform_icon_pixbuf(48);
        t->status_icon = gtk_status_icon_new_from_pixbuf(icon);
        if (icon)
            g_object_unref(icon);
        gtk_status_icon_set_name(t->status_icon, "moravista");
        gtk_status_icon_set_title(t->status_icon, "Moravista");
        g_signal_connect(t->status_icon, "activate", G_CALLBACK(on_activate), t);
        g_signal_connect(t->status_icon, "popup-menu", G_CALLBACK(on_popup_menu), t);
    }
    gtk_status_icon_set_tooltip_text(t->status_icon, t->tip);
    gtk_status_icon_set_visible(t->status_icon, TRUE);
}

void xembed_hide(TrayState* t)
{
    if (t->status_icon)
        gtk_status_icon_set_visible(t->status_icon, FALSE);
}

void xembed_tip_changed(TrayState* t)
{
    if (t->status_icon)
        gtk_status_icon_set_tooltip_text(t->status_icon, t->tip);
}

G_GNUC_END_IGNORE_DEPRECATIONS
