#include "core/window_title.h"

#include <cstdio>
#include <cstring>

#include "core/bridge.h"
#include "core/main_window.h"
#include "core/messages.h"
#include "core/text_utf.h"

const char* title_base_text()
{
    return "Moravista 16.11.18.1022 64位";
}

void set_item_label(PlayerContext* ctx, int32_t entry_index, uint32_t count, const char* name)
{
    MainWindow* w = main_window_of(ctx);
    char formatted[sizeof w->item_label * 2];
    size_t length = 0;
    if (name) {
        int n = snprintf(formatted, sizeof formatted, "%lld/%u.%s", (long long)entry_index + 1, count, name);
        length = n < 0 ? 0 : strnlen(formatted, sizeof formatted);
    }
    SpinGuard guard(&w->label_lock);
    utf8_copy_units(w->item_label, sizeof w->item_label, formatted, length, 270);
}

size_t item_label_copy(PlayerContext* ctx, char* out, size_t out_size)
{
    if (out_size == 0)
        return 0;
    MainWindow* w = main_window_of(ctx);
    SpinGuard guard(&w->label_lock);
    size_t length = strnlen(w->item_label, sizeof w->item_label);
    if (length >= out_size)
        length = out_size - 1;
    memcpy(out, w->item_label, length);
    out[length] = 0;
    return length;
}

size_t format_window_title(PlayerContext* ctx, const char* display_name, char* out, size_t out_size)
{
    if (out_size == 0)
        return 0;
    if (!display_name || !*display_name)
        return utf8_copy_units(out, out_size, title_base_text(), strlen(title_base_text()), 780);
    char label[270 * 3 + 1];
    item_label_copy(ctx, label, sizeof label);
    size_t name_length = strlen(display_name);
    size_t room = strlen(label) + strlen(title_base_text()) + name_length + 8;
    char* joined = new char[room];
    int n = snprintf(joined, room, "%s / %s / %s", label, title_base_text(), display_name);
    size_t length = utf8_copy_units(out, out_size, joined, n < 0 ? 0 : strnlen(joined, room), 780);
    delete[] joined;
    return length;
}

void set_window_title(PlayerContext* ctx, const char* display_name)
{
    char title[781 * 3 + 1];
    format_window_title(ctx, display_name, title, sizeof title);
    // A send: the window thread has set the title before the text goes away.
    window_send(MSG_SET_TITLE, 0, reinterpret_cast<intptr_t>(title));
}
