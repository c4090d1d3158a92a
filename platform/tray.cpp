// The tray icon: which form shows it, and whether any tray is there to show
// it. A StatusNotifierItem needs a StatusNotifierWatcher with a registered
// host (the panel that draws the items); an XEmbed icon needs an owner of
// the system tray selection of the screen. Both come and go with their
// panels: the icon moves to whichever is there, and when neither comes back
// within a moment the window is asked to come back (TRAY_EVENT_HOST_GONE),
// so that a hidden window is never lost with its tray.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <glib.h>

#include <cstdio>
#include <cstring>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/tray_internal.h"

namespace {

constexpr const char* WATCHER_NAME = "org.kde.StatusNotifierWatcher";
constexpr const char* WATCHER_PATH = "/StatusNotifierWatcher";
// A panel that restarts takes its names again within this; a host gone for
// longer is gone.
constexpr unsigned HOST_GRACE_MS = 1000;

TrayState* tray_of(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    return w ? w->tray : nullptr;
}

bool sni_usable(const TrayState* t)
{
    return t->bus && !t->bus_lost && t->watcher_present && t->sni_host;
}

// Asked of the server each time: the owner may have gone a moment ago and
// its event not have come yet.
bool xembed_usable(TrayState* t)
{
    Display* d = t->window->xdisplay;
    t->xembed_host = d && t->tray_selection && XGetSelectionOwner(d, t->tray_selection) != None;
    return t->xembed_host;
}

void show_form(TrayState* t, TrayForm form)
{
    if (t->shown == form)
        return;
    if (t->shown == TRAY_SNI)
        sni_hide(t);
    else if (t->shown == TRAY_XEMBED)
        xembed_hide(t);
    if (form == TRAY_SNI)
        sni_show(t);
    else if (form == TRAY_XEMBED)
        xembed_show(t);
    t->shown = form;
}

gboolean host_grace_over(gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->grace_timer = 0;
    bool seen = (t->shown == TRAY_SNI && sni_usable(t)) || (t->shown == TRAY_XEMBED && xembed_usable(t));
    if (t->shown != TRAY_NONE && !seen)
        tray_post_event(t, TRAY_EVENT_HOST_GONE);
    return G_SOURCE_REMOVE;
}

// The hosts changed: a shown icon goes where it can be seen, the item
// preferred; with no host at all the grace period starts.
void hosts_changed(TrayState* t)
{
    if (t->shown == TRAY_NONE)
        return;
    if (sni_usable(t)) {
        show_form(t, TRAY_SNI);
    } else if (xembed_usable(t)) {
        show_form(t, TRAY_XEMBED);
        xembed_show(t); // a new tray takes the icon again
    }
    bool seen = (t->shown == TRAY_SNI && sni_usable(t)) || (t->shown == TRAY_XEMBED && xembed_usable(t));
    if (seen && t->grace_timer) {
        g_source_remove(t->grace_timer);
        t->grace_timer = 0;
    } else if (!seen && !t->grace_timer) {
        t->grace_timer = g_timeout_add(HOST_GRACE_MS, host_grace_over, t);
    }
}

struct HostQuestion {
    TrayState* tray;
    unsigned number;
};

void on_host_property(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* question = static_cast<HostQuestion*>(data);
    TrayState* t = question->tray;
    bool latest = question->number == t->host_questions;
    delete question;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    int host = 0;
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        host = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        g_variant_unref(value);
        g_variant_unref(reply);
    }
    // Only the answer to the latest question counts.
    if (latest && t->watcher_present) {
        t->sni_host = host;
        hosts_changed(t);
    }
}

void ask_for_host(TrayState* t)
{
    auto* question = new HostQuestion{t, ++t->host_questions};
    g_dbus_connection_call(t->bus, WATCHER_NAME, WATCHER_PATH, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", WATCHER_NAME, "IsStatusNotifierHostRegistered"),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, on_host_property,
                           question);
}

void on_watcher_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant*,
                       gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    if (strcmp(name, "StatusNotifierHostRegistered") == 0 || strcmp(name, "StatusNotifierHostUnregistered") == 0)
        ask_for_host(t);
}

void watcher_appeared(GDBusConnection*, const gchar*, const gchar*, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->watcher_present = 1;
    if (t->shown == TRAY_SNI)
        sni_register_again(t);
    ask_for_host(t);
}

void watcher_vanished(GDBusConnection*, const gchar*, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->watcher_present = 0;
    t->sni_host = 0;
    hosts_changed(t);
}

void on_bus_lost(void* data)
{
    auto* t = static_cast<TrayState*>(data);
    t->bus_lost = 1;
    t->watcher_present = 0;
    t->sni_host = 0;
    bus_say_stopped("the tray icon can show only in an XEmbed tray");
    hosts_changed(t);
}

void on_bus(GDBusConnection* bus, void* data)
{
    auto* t = static_cast<TrayState*>(data);
    if (!bus)
        return;
    t->bus = bus;
    g_dbus_connection_signal_subscribe(bus, WATCHER_NAME, WATCHER_NAME, nullptr, WATCHER_PATH, nullptr,
                                       G_DBUS_SIGNAL_FLAGS_NONE, on_watcher_signal, t, nullptr);
    t->watcher_watch = g_bus_watch_name_on_connection(bus, WATCHER_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                      watcher_appeared, watcher_vanished, t, nullptr);
    bus_when_lost(BUS_SESSION, on_bus_lost, t);
}

// The XEmbed icon's own events, and the system tray selection changing
// owner (a tray came, went or was replaced).
GdkFilterReturn filter_selection(GdkXEvent* native, GdkEvent*, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    auto* e = static_cast<XEvent*>(native);
    if (xembed_event(t, e))
        return GDK_FILTER_REMOVE;
    if (t->xfixes_event_base && e->type == t->xfixes_event_base + XFixesSelectionNotify &&
        reinterpret_cast<XFixesSelectionNotifyEvent*>(e)->selection == t->tray_selection)
        hosts_changed(t);
    return GDK_FILTER_CONTINUE;
}

void watch_tray_selection(TrayState* t)
{
    Display* d = t->window->xdisplay;
    if (!d)
        return;
    char name[64];
    snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(d));
    t->tray_selection = XInternAtom(d, name, False);
    int error_base = 0;
    gdk_window_add_filter(nullptr, filter_selection, t);
    if (!XFixesQueryExtension(d, &t->xfixes_event_base, &error_base)) {
        t->xfixes_event_base = 0; // asked again at each hide instead
        return;
    }
    XFixesSelectSelectionInput(d, DefaultRootWindow(d), t->tray_selection,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
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
    watch_tray_selection(t);
    bus_when_ready(BUS_SESSION, on_bus, t);
}

int platform_tray_available(void* window)
{
    TrayState* t = tray_of(window);
    return t && (sni_usable(t) || xembed_usable(t));
}

void platform_tray_show(void* window, const char* tip)
{
    TrayState* t = tray_of(window);
    if (!t)
        return;
    set_tip(t, tip);
    if (t->shown != TRAY_NONE)
        return;
    show_form(t, sni_usable(t) ? TRAY_SNI : TRAY_XEMBED);
    hosts_changed(t);
}

void platform_tray_hide(void* window)
{
    TrayState* t = tray_of(window);
    if (!t)
        return;
    show_form(t, TRAY_NONE);
    if (t->grace_timer) {
        g_source_remove(t->grace_timer);
        t->grace_timer = 0;
    }
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
