// The open dialogs: the desktop's file chooser over the main window, for
// files (several at once, with named filters) or for one folder. Paths come
// back as the file system's own bytes, so names that are not UTF-8 stay
// exact. Window thread only; the loop keeps running while the dialog is open.
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

struct FilterPatterns {
    std::string patterns;
    int (*matches)(const char* name, const char* patterns);
};

gboolean filter_matches(const GtkFileFilterInfo* info, gpointer data)
{
    auto* f = static_cast<const FilterPatterns*>(data);
    const char* name = info->filename ? info->filename : info->display_name;
    if (!name)
        return FALSE;
    const char* slash = strrchr(name, '/');
    return f->matches(slash ? slash + 1 : name, f->patterns.c_str()) != 0;
}

void free_patterns(gpointer data)
{
    delete static_cast<FilterPatterns*>(data);
}

void add_filter(GtkFileChooser* chooser, const PlatformFileFilter* filter,
                int (*matches)(const char* name, const char* patterns))
{
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, filter->name);
    if (strcmp(filter->patterns, "*.*") == 0 || strcmp(filter->patterns, "*") == 0) {
        // Everything, names without an extension included.
        gtk_file_filter_add_pattern(f, "*");
    } else {
        auto* data = new FilterPatterns{filter->patterns, matches};
        gtk_file_filter_add_custom(f, GtkFileFilterFlags(GTK_FILE_FILTER_FILENAME | GTK_FILE_FILTER_DISPLAY_NAME),
                                   filter_matches, data, free_patterns);
    }
    gtk_file_chooser_add_filter(chooser, f);
}

} // namespace

int platform_choose_files(void* window, const char* title, int folder, const PlatformFileFilter* filters,
                          int filter_count, int (*matches)(const char* name, const char* patterns),
                          void (*chosen)(void* user, const char* path), void* user)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return 0;
    GtkFileChooserAction action = folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title, GTK_WINDOW(w->toplevel), action, "取消(_C)",
                                                    GTK_RESPONSE_CANCEL, "打开(_O)", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_create_folders(chooser, FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    if (!folder) {
        gtk_file_chooser_set_select_multiple(chooser, TRUE);
        for (int i = 0; i < filter_count; i++)
            add_filter(chooser, &filters[i], matches);
    }
    int count = 0;
    if (platform_dialog_run(w, dialog) == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* n = names; n; n = n->next) {
            auto* path = static_cast<const char*>(n->data);
            if (path && *path) {
                chosen(user, path);
                count++;
            }
        }
        g_slist_free_full(names, g_free);
    }
    gtk_widget_destroy(dialog);
    platform_window_take_focus(w);
    return count;
}
