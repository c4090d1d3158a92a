// The tray's balloon as a desktop notification, spoken over the player's own
// session-bus connection. Every call is asynchronous on the window thread: a
// slow, missing or silent notification service never holds up the window,
// and a balloon asked for while the last call still waits replaces the one
// that would have followed it. A click on the balloon (its default action)
// is posted to the window thread. A missing or silent service is told once.
#include <gio/gio.h>

#include <cstdio>
#include <cstring>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

struct BalloonState {
    PlatformWindow* window;
    GDBusConnection* bus;  // null until connected
    int bus_asked;
    int bus_gone;          // no bus, or it went away
    int capabilities_known;
    int markup;            // the service reads the body as markup
    int calling;           // a call to the service awaits its answer
    uint32_t id;           // the notification shown now; 0 none
    char* summary;         // the balloon still to be sent; null none
    char* body;
    int close_wanted;      // the shown one goes once the call in flight has answered
    int reported;
};

namespace {

constexpr const char* SERVICE = "org.freedesktop.Notifications";
constexpr const char* PATH = "/org/freedesktop/Notifications";
// The server takes the balloon away by itself a little after the player
// would, should the player's own close never come.
constexpr int SERVER_TIMEOUT_MS = 6500;
constexpr int CALL_TIMEOUT_MS = 5000;

void kick(BalloonState* b);

void report(BalloonState* b, GError* error)
{
    if (b->reported || !error)
        return;
    b->reported = 1;
    bool silent = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                  g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
                  g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT);
    g_dbus_error_strip_remote_error(error);
    fprintf(stderr, "moravista: %s (%s), so notices of the hidden window are not shown\n",
            silent ? "the notification service does not answer" : "no notification service on the session bus",
            error->message);
}

void drop_wanted(BalloonState* b)
{
    g_free(b->summary);
    g_free(b->body);
    b->summary = b->body = nullptr;
}

void on_capabilities(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* b = static_cast<BalloonState*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    b->calling = 0;
    if (reply) {
        const gchar** caps = nullptr;
        g_variant_get(reply, "(^a&s)", &caps);
        for (const gchar** c = caps; c && *c; c++)
            b->markup |= strcmp(*c, "body-markup") == 0;
        g_free(caps);
        g_variant_unref(reply);
        b->capabilities_known = 1;
    } else {
        report(b, error);
        g_clear_error(&error);
        drop_wanted(b); // asked again with the next notice
    }
    kick(b);
}

void on_notified(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* b = static_cast<BalloonState*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    b->calling = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &b->id);
        g_variant_unref(reply);
    } else {
        report(b, error);
        g_clear_error(&error);
    }
    kick(b);
}

void send_notify(BalloonState* b)
{
    // A file name with "<" or "&" must not be read as markup.
    gchar* body = b->markup ? g_markup_escape_text(b->body, -1) : g_strdup(b->body);
    const gchar* actions[] = {"default", "显示窗口", nullptr};
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    // Not kept in the desktop's list of past notifications.
    g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
    GVariant* args = g_variant_new("(susss^as@a{sv}i)", "Moravista", b->id, "dialog-information", b->summary, body,
                                   actions, g_variant_builder_end(&hints), SERVER_TIMEOUT_MS);
    g_free(body);
    drop_wanted(b);
    b->calling = 1;
    g_dbus_connection_call(b->bus, SERVICE, PATH, SERVICE, "Notify", args, G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, on_notified, b);
}

void send_close(BalloonState* b)
{
    b->close_wanted = 0;
    if (!b->id)
        return;
    g_dbus_connection_call(b->bus, SERVICE, PATH, SERVICE, "CloseNotification", g_variant_new("(u)", b->id), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_TIMEOUT_MS, nullptr, nullptr, nullptr);
    b->id = 0;
}

// The next step toward what is wanted, when nothing is in flight.
void kick(BalloonState* b)
{
    if (!b->bus || b->bus_gone || b->calling)
        return;
    if (b->close_wanted)
        send_close(b);
    if (!b->summary)
        return;
    if (!b->capabilities_known) {
        b->calling = 1;
        g_dbus_connection_call(b->bus, SERVICE, PATH, SERVICE, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
                               G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, on_capabilities, b);
        return;
    }
    send_notify(b);
}

void on_service_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                       GVariant* parameters, gpointer data)
{
    auto* b = static_cast<BalloonState*>(data);
    uint32_t id = 0;
    if (strcmp(name, "ActionInvoked") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        const gchar* action = "";
        g_variant_get(parameters, "(u&s)", &id, &action);
        if (id && id == b->id && strcmp(action, "default") == 0)
            platform_post_message(b->window, MSG_TRAY, 0, TRAY_EVENT_BALLOON_CLICK);
    } else if (strcmp(name, "NotificationClosed") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        g_variant_get(parameters, "(uu)", &id, nullptr);
        if (id && id == b->id)
            b->id = 0; // the next one is a new balloon, not a replacement
    }
}

void on_bus_lost(void* data)
{
    auto* b = static_cast<BalloonState*>(data);
    b->bus_gone = 1;
    b->calling = 0;
    drop_wanted(b);
    bus_say_stopped("notices of the hidden window are no longer shown as balloons");
}

void on_bus(GDBusConnection* bus, void* data)
{
    auto* b = static_cast<BalloonState*>(data);
    if (!bus) {
        b->bus_gone = 1; // no session bus is told once by whoever found it missing first
        drop_wanted(b);
        return;
    }
    b->bus = bus;
    g_dbus_connection_signal_subscribe(bus, SERVICE, SERVICE, nullptr, PATH, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       on_service_signal, b, nullptr);
    bus_when_lost(BUS_SESSION, on_bus_lost, b);
    kick(b);
}

BalloonState* balloon_of(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return nullptr;
    if (!w->balloon) {
        w->balloon = new BalloonState{};
        w->balloon->window = w;
    }
    BalloonState* b = w->balloon;
    if (!b->bus_asked) {
        b->bus_asked = 1;
        bus_when_ready(BUS_SESSION, on_bus, b);
    }
    return b;
}

} // namespace

void platform_balloon_show(void* window, const char* summary, const char* body)
{
    BalloonState* b = balloon_of(window);
    if (!b || b->bus_gone)
        return;
    drop_wanted(b);
    b->summary = g_utf8_make_valid(summary ? summary : "", -1);
    b->body = g_utf8_make_valid(body ? body : "", -1);
    b->close_wanted = 0;
    kick(b);
}

void platform_balloon_close(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !w->balloon)
        return;
    BalloonState* b = w->balloon;
    drop_wanted(b);
    b->close_wanted = 1;
    kick(b);
}

void platform_balloon_close_wait(void* window, int wait_ms)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !w->balloon)
        return;
    BalloonState* b = w->balloon;
    drop_wanted(b);
    if (!b->bus || b->bus_gone || !b->id)
        return;
    // The process ends right after this: the close must reach the service
    // first, but a service that does not answer holds the exit up only briefly.
    GVariant* reply = g_dbus_connection_call_sync(b->bus, SERVICE, PATH, SERVICE, "CloseNotification",
                                                  g_variant_new("(u)", b->id), nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, wait_ms, nullptr, nullptr);
    if (reply)
        g_variant_unref(reply);
    b->id = 0;
}
