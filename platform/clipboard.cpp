// The desktop clipboard: pictures as images, subtitle text as UTF-8 text.
// Copies may come from any thread; GTK is only touched on the window thread.
#include <gtk/gtk.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

struct ClipboardCall {
    int format;
    const void* data;
    int result;
};

GdkPixbuf* pixbuf_from_bgrx(const ClipboardBitmap* bitmap)
{
    if (!bitmap->bgrx || bitmap->width < 1 || bitmap->height < 1 || bitmap->pitch < bitmap->width * 4)
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, bitmap->width, bitmap->height);
    if (!pixbuf)
        return nullptr;
    uint8_t* out = gdk_pixbuf_get_pixels(pixbuf);
    int out_stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < bitmap->height; y++) {
        const uint8_t* src = bitmap->bgrx + int64_t(y) * bitmap->pitch;
        uint8_t* dst = out + int64_t(y) * out_stride;
        for (int x = 0; x < bitmap->width; x++) {
            dst[3 * x] = src[4 * x + 2];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x];
        }
    }
    return pixbuf;
}

void give_text(GtkClipboard*, GtkSelectionData* selection, guint, gpointer text)
{
    gtk_selection_data_set_text(selection, static_cast<const gchar*>(text), -1);
}

void forget_text(GtkClipboard*, gpointer text)
{
    g_free(text);
}

// 1 when the clipboard took the text (the selection could be owned).
int set_text(GtkClipboard* clipboard, const char* text)
{
    gchar* valid = g_utf8_make_valid(text, -1);
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add_text_targets(list, 0);
    gint count = 0;
    GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
    gtk_target_list_unref(list);
    gboolean taken = gtk_clipboard_set_with_data(clipboard, targets, guint(count), give_text, forget_text, valid);
    gtk_target_table_free(targets, count);
    if (!taken) {
        g_free(valid);
        return 0;
    }
    // A clipboard manager may keep the text after the player has ended.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    return 1;
}

void set_on_window_thread(void* arg)
{
    auto* call = static_cast<ClipboardCall*>(arg);
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    if (call->format == CLIPBOARD_BITMAP) {
        GdkPixbuf* pixbuf = pixbuf_from_bgrx(static_cast<const ClipboardBitmap*>(call->data));
        if (!pixbuf)
            return;
        gtk_clipboard_set_image(clipboard, pixbuf);
        g_object_unref(pixbuf);
        call->result = 1;
    } else if (call->format == CLIPBOARD_TEXT) {
        call->result = set_text(clipboard, static_cast<const char*>(call->data));
    }
}

} // namespace

int platform_clipboard_set(void* window, int format, const void* data)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !data || w->quitting.load(std::memory_order_acquire))
        return 0;
    ClipboardCall call{format, data, 0};
    platform_run_on_window_thread(w, set_on_window_thread, &call);
    return call.result;
}
