// The end of the desktop session. Where a session manager on the session
// bus (org.gnome.SessionManager, which GNOME, Cinnamon and MATE provide)
// takes clients, the player registers as one: the question before a log-off
// is answered yes, and the log-off itself runs the window's exit sequence.
// Elsewhere the session's end reaches the player as SIGTERM or as the loss
// of the display, which end it the same way.
#include <gio/gio.h>

#include <cstdlib>
#include <cstring>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

constexpr char MANAGER[] = "org.gnome.SessionManager";
constexpr char CLIENT_INTERFACE[] = "org.gnome.SessionManager.ClientPrivate";

struct SessionClient {
    PlatformWindow* window;
    GDBusConnection* bus;
    gchar* path; // the client object the manager gave us
};
SessionClient session; // window thread only

// Tells the manager the player is ready; waits briefly, as the exit follows.
void answer_yes()
{
    GVariant* reply =
        g_dbus_connection_call_sync(session.bus, MANAGER, session.path, CLIENT_INTERFACE, "EndSessionResponse",
                                    g_variant_new("(bs)", TRUE, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 1000, nullptr,
                                    nullptr);
    if (reply)
        g_variant_unref(reply);
}

void on_client_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant*,
                      gpointer)
{
    PlatformWindow* w = session.window;
    if (strcmp(name, "QueryEndSession") == 0) {
        answer_yes();
    } else if (strcmp(name, "EndSession") == 0) {
        answer_yes();
        w->procedure(w->user, MSG_END_SESSION, 1, 0);
    } else if (strcmp(name, "Stop") == 0) {
        w->procedure(w->user, MSG_END_SESSION, 1, 0);
    }
}

void on_bus_lost(void*)
{
    bus_say_stopped("the session manager's log-off no longer reaches the player (it still closes on SIGTERM)");
}

void on_registered(GObject* source, GAsyncResult* result, gpointer)
{
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply)
        return; // no session manager: nothing to listen to
    g_variant_get(reply, "(o)", &session.path);
    g_variant_unref(reply);
    g_dbus_connection_signal_subscribe(session.bus, MANAGER, CLIENT_INTERFACE, nullptr, session.path, nullptr,
                                       G_DBUS_SIGNAL_FLAGS_NONE, on_client_signal, nullptr, nullptr);
    bus_when_lost(BUS_SESSION, on_bus_lost, nullptr);
}

void on_bus(GDBusConnection* bus, void*)
{
    session.bus = bus;
    if (!session.bus)
        return;
    // The manager passes the id of an application it started itself.
    GVariant* args = g_variant_new("(ss)", "moravista", platform_autostart_id());
    g_dbus_connection_call(session.bus, MANAGER, "/org/gnome/SessionManager", MANAGER, "RegisterClient", args,
                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, on_registered,
                           nullptr);
}

} // namespace

void platform_watch_session_end(PlatformWindow* w)
{
    session.window = w;
    bus_when_ready(BUS_SESSION, on_bus, nullptr);
}
