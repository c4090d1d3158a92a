// The twelve system-wide hot keys, Ctrl+Alt with a letter, a page key or an
// arrow, grabbed on the X server's root window. A press reaches the window
// procedure as MSG_HOTKEY with the key code of its row.
#include <gtk/gtk.h>
#include <keybinder.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

struct HotKey {
    const char* accelerator;
    uintptr_t key_code;
};

// In registration order.
const HotKey HOT_KEYS[PLATFORM_HOTKEY_COUNT] = {
    {"<Control><Alt>m", 'M'},         {"<Control><Alt>r", 'R'},      {"<Control><Alt>b", 'B'},
    {"<Control><Alt>Page_Up", 0x21},  {"<Control><Alt>n", 'N'},      {"<Control><Alt>Page_Down", 0x22},
    {"<Control><Alt>p", 'P'},         {"<Control><Alt>s", 'S'},      {"<Control><Alt>Left", 0x25},
    {"<Control><Alt>Right", 0x27},    {"<Control><Alt>Up", 0x26},    {"<Control><Alt>Down", 0x28},
};

PlatformWindow* bound_window;
bool bound[PLATFORM_HOTKEY_COUNT];

void on_hot_key(const char*, void* data)
{
    const HotKey* key = static_cast<const HotKey*>(data);
    if (bound_window)
        bound_window->procedure(bound_window->user, MSG_HOTKEY, key->key_code, 0);
}

void say_nothing(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool hot_keys_supported()
{
    static int state = -1;
    if (state < 0) {
        keybinder_init();
        state = keybinder_supported() ? 1 : 0;
    }
    return state == 1;
}

} // namespace

int platform_hotkeys_bind(void* window, int on)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !hot_keys_supported())
        return 0;
    int count = 0;
    bound_window = w;
    for (int i = 0; i < PLATFORM_HOTKEY_COUNT; i++) {
        if (on && !bound[i]) {
            // A key another program holds cannot be grabbed: it is simply
            // not available, without a word (the library would warn).
            GLogFunc previous = g_log_set_default_handler(say_nothing, nullptr);
            bound[i] = keybinder_bind(HOT_KEYS[i].accelerator, on_hot_key, const_cast<HotKey*>(&HOT_KEYS[i]));
            g_log_set_default_handler(previous, nullptr);
        } else if (!on && bound[i]) {
            keybinder_unbind(HOT_KEYS[i].accelerator, on_hot_key);
            bound[i] = false;
        }
        count += bound[i] ? 1 : 0;
    }
    // The grabs and releases are in place on the server when this returns.
    gdk_display_sync(gdk_display_get_default());
    return count;
}
