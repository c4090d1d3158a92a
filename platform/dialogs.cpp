// The dialogs and message boxes over the main window. The window knows each
// one while it is up, so that a close of the player (its close button,
// SIGTERM, the media-player interface's Quit, the session's log-off) ends
// them with it, a dialog's own loop included, and the player exits at once
// instead of when the dialog is dismissed. When one goes, the main window is
// given the keyboard again: some window managers leave it nowhere when the
// dialog of a window kept above others closes.
#include <gtk/gtk.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

void forget(PlatformWindow* w, GtkWidget* dialog)
{
    auto& open = w->dialogs;
    open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
}

void on_response(GtkDialog* dialog, gint, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    forget(w, GTK_WIDGET(dialog));
    gtk_widget_destroy(GTK_WIDGET(dialog));
    platform_window_take_focus(w);
}

} // namespace

void platform_dialog_show(PlatformWindow* w, GtkWidget* dialog)
{
    w->dialogs.push_back(dialog);
    g_signal_connect(dialog, "response", G_CALLBACK(on_response), w);
    gtk_widget_show(dialog);
}

int platform_dialog_run(PlatformWindow* w, GtkWidget* dialog)
{
    w->dialogs.push_back(dialog);
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    forget(w, dialog);
    // A close of the player came while the dialog was up: nothing was chosen.
    if (w->quitting.load(std::memory_order_acquire))
        response = GTK_RESPONSE_NONE;
    return response;
}

void platform_dialogs_end(PlatformWindow* w)
{
    // A dialog's own loop ends with its answer; the others simply go.
    std::vector<GtkWidget*> open;
    open.swap(w->dialogs);
    for (GtkWidget* dialog : open)
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE);
}
