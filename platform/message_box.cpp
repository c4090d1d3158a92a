// The error box: a modal message dialog over the main window. It runs no
// loop of its own: the window's loop, and with it every message of the
// engine, goes on while it is shown.
#include <gtk/gtk.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/window_internal.h"

void platform_message_box(void* window, const char* caption, const char* text)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!caption || !text)
        return;
    if (!w || !w->toplevel) {
        fprintf(stderr, "moravista: %s: %s\n", caption, text);
        return;
    }
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(w->toplevel), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    platform_dialog_show(w, dialog);
}
