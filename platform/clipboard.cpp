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
        gchar* valid = g_utf8_make_valid(static_cast<const char*>(call->data), -1);
        gtk_clipboard_set_text(clipboard, valid, -1);
        g_free(valid);
        call->result = 1;
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
