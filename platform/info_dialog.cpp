// A message box with an information icon, owned by the window. It does not
// hold the window's loop: the player goes on while it is shown, and it goes
// away when its button is pressed.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

void platform_show_information(void* window, const char* title, const char* text)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(w->toplevel), GTK_DIALOG_DESTROY_WITH_PARENT,
                                               GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    platform_dialog_show(w, dialog);
}
