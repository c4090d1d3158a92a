// Files dropped on the window: a drop target for URI lists whose local file
// URIs become the file system's own byte paths (names that are not UTF-8
// still open). Ctrl held at the drop asks for append mode.
#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

GtkTargetEntry uri_list_target = {const_cast<gchar*>("text/uri-list"), 0, 0};

// A file URI of this machine; other hosts and other schemes are skipped.
bool local_path_of(const char* uri, std::string* path)
{
    gchar* host = nullptr;
    gchar* native = g_filename_from_uri(uri, &host, nullptr);
    bool local = native && (!host || !*host || strcmp(host, "localhost") == 0 || strcmp(host, g_get_host_name()) == 0);
    if (local)
        *path = native;
    g_free(native);
    g_free(host);
    return local;
}

bool ctrl_held(GtkWidget* widget)
{
    GdkWindow* window = gtk_widget_get_window(widget);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!window || !pointer)
        return false;
    GdkModifierType mask{};
    gdk_window_get_device_position(window, pointer, nullptr, nullptr, &mask);
    return (mask & GDK_CONTROL_MASK) != 0;
}

gboolean on_drag_drop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time, gpointer)
{
    GdkAtom target = gtk_drag_dest_find_target(widget, context, nullptr);
    if (target == GDK_NONE) {
        gtk_drag_finish(context, FALSE, FALSE, time);
        return TRUE;
    }
    gtk_drag_get_data(widget, context, target, time);
    return TRUE;
}

void on_data_received(GtkWidget* widget, GdkDragContext* context, gint, gint, GtkSelectionData* data, guint,
                      guint time, gpointer user)
{
    auto* w = static_cast<PlatformWindow*>(user);
    std::vector<std::string> paths;
    gchar** uris = gtk_selection_data_get_uris(data);
    for (gchar** uri = uris; uri && *uri; uri++) {
        std::string path;
        if (local_path_of(*uri, &path))
            paths.push_back(path);
    }
    g_strfreev(uris);
    int append_mode = ctrl_held(widget) ? 1 : 0;
    // The source is released before the files are added: scanning a large
    // folder must not hold the other program's drag.
    gtk_drag_finish(context, !paths.empty(), FALSE, time);
    if (paths.empty())
        return;
    std::vector<const char*> list;
    for (const std::string& p : paths)
        list.push_back(p.c_str());
    DroppedFiles drop{list.data(), uint32_t(list.size()), append_mode};
    w->procedure(w->user, MSG_DROP_FILES, 0, reinterpret_cast<intptr_t>(&drop));
}

} // namespace

void platform_window_drop_install(PlatformWindow* w)
{
    gtk_drag_dest_set(w->toplevel, GTK_DEST_DEFAULT_MOTION, &uri_list_target, 1,
                      GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
    g_signal_connect(w->toplevel, "drag-drop", G_CALLBACK(on_drag_drop), w);
    g_signal_connect(w->toplevel, "drag-data-received", G_CALLBACK(on_data_received), w);
}
