// The tray icon: which form shows it, and the watch for the desktop's
// StatusNotifierWatcher (it comes and goes with the panel that shows the
// items, so the icon registers again when a panel restarts).
#include <gio/gio.h>
#include <glib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/tray_internal.h"

namespace {

constexpr const char* WATCHER_NAME = "org.kde.StatusNotifierWatcher";

// GLib would start a bus of its own (and leave it running) for a session
// that has none; only a bus the session already has is used.
bool session_bus_exists()
{
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

TrayState* tray_of(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    return w ? w->tray : nullptr;
}

void watcher_appeared(GDBusConnection*, const gchar*, const gchar*, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->watcher_present = 1;
    if (t->shown == TRAY_SNI) {
        sni_register_again(t);
    } else if (t->shown == TRAY_XEMBED) {
        // A panel that shows items has come: the icon moves there.
        xembed_hide(t);
        sni_show(t);
        t->shown = TRAY_SNI;
    }
}

void watcher_vanished(GDBusConnection*, const gchar*, gpointer data)
{
    // A shown item stays on the bus and registers again when a watcher comes.
    static_cast<TrayState*>(data)->watcher_present = 0;
}

void bus_ready(GObject*, GAsyncResult* result, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->bus = g_bus_get_finish(result, nullptr);
    if (!t->bus)
        return;
    t->watcher_watch = g_bus_watch_name_on_connection(t->bus, WATCHER_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                      watcher_appeared, watcher_vanished, t, nullptr);
}

void set_tip(TrayState* t, const char* tip)
{
    // The desktop takes only valid UTF-8.
    gchar* valid = g_utf8_make_valid(tip ? tip : "", -1);
    g_free(t->tip);
    t->tip = valid;
}

} // namespace

void tray_post_event(TrayState* t, intptr_t event)
{
    platform_post_message(t->window, MSG_TRAY, 0, event);
}

void platform_tray_start(PlatformWindow* w)
{
    auto* t = new TrayState{};
    t->window = w;
    t->tip = g_strdup("");
    w->tray = t;
    if (session_bus_exists())
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, bus_ready, t);
}

void platform_tray_show(void* window, const char* tip)
{
    TrayState* t = tray_of(window);
    if (!t)
        return;
    set_tip(t, tip);
    if (t->shown != TRAY_NONE)
        return;
    if (t->bus && t->watcher_present) {
        sni_show(t);
        t->shown = TRAY_SNI;
    } else {
        xembed_show(t);
        t->shown = TRAY_XEMBED;
    }
}

void platform_tray_hide(void* window)
{
    TrayState* t = tray_of(window);
    if (!t)
        return;
    if (t->shown == TRAY_SNI)
        sni_hide(t);
    else if (t->shown == TRAY_XEMBED)
        xembed_hide(t);
    t->shown = TRAY_NONE;
}

void platform_tray_set_tip(void* window, const char* tip)
{
    TrayState* t = tray_of(window);
    if (!t)
        return;
    set_tip(t, tip);
    if (t->shown == TRAY_SNI)
        sni_tip_changed(t);
    else if (t->shown == TRAY_XEMBED)
        xembed_tip_changed(t);
}
