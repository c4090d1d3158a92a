// Holding the screensaver, display power-off and idle sleep off while a
// video plays, in three ways at once: the desktop's screensaver service on
// the session bus, a logind "sleep:idle" block inhibitor on the system bus,
// and the X server's own screensaver. Nothing of the user's configuration is
// changed: each hold belongs to this process and dies with it.
//
// Window thread only. The bus calls never wait: their answers come later on
// the window thread, and an answer that arrives after the hold is no longer
// wanted is let go at once.
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cstdio>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

constexpr const char* APPLICATION = "Moravista";
constexpr const char* REASON = "Playing a video";
constexpr int CALL_TIMEOUT_MS = 5000;
constexpr int EXIT_TIMEOUT_MS = 500;

struct ScreenSaverHold {
    int wanted;
    int calling; // an Inhibit awaits its answer
    int held;
    uint32_t cookie;
    int reported;
};

struct SleepHold {
    int wanted;
    int calling;
    int fd; // the inhibitor; -1 when none is held
    int reported;
};

struct XServerHold {
    int suspended;
    int checked; // whether the server has the extension was asked
    int present;
};

ScreenSaverHold screensaver{0, 0, 0, 0, 0};
SleepHold sleep_hold{0, 0, -1, 0};
XServerHold x_server{0, 0, 0};

void sync_screensaver(GDBusConnection* bus);
void sync_sleep(GDBusConnection* bus);

void on_session_bus_lost(void*)
{
    // The service drops a hold whose client has gone; the X server's own stays.
    screensaver.held = 0;
    screensaver.calling = 0;
    bus_say_stopped("the screensaver is held off only by the X server while a video plays");
}

void on_session_bus(GDBusConnection* bus, void*)
{
    // No bus at all is told once by whoever found it missing first.
    static int watching = 0;
    if (!bus)
        return;
    if (!watching) {
        watching = 1;
        bus_when_lost(BUS_SESSION, on_session_bus_lost, nullptr);
    }
    sync_screensaver(bus);
}

void on_system_bus(GDBusConnection* bus, void*)
{
    if (bus) {
        sync_sleep(bus);
        return;
    }
    if (sleep_hold.wanted && !sleep_hold.reported) {
        sleep_hold.reported = 1;
        fputs("moravista: no system bus, so sleep is not held off while a video plays\n", stderr);
    }
}

// ---- the screensaver service ----

void on_inhibited(GObject* source, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    screensaver.calling = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &screensaver.cookie);
        g_variant_unref(reply);
        screensaver.held = 1;
    } else {
        if (!screensaver.reported) {
            screensaver.reported = 1;
            if (error)
                g_dbus_error_strip_remote_error(error);
            fprintf(stderr, "moravista: no screensaver service on the session bus (%s); only the X server's own "
                            "screensaver is held off\n", error ? error->message : "no answer");
        }
        g_clear_error(&error);
        screensaver.wanted = 0; // asked again with the next video
    }
    if (GDBusConnection* bus = bus_if_connected(BUS_SESSION))
        sync_screensaver(bus);
}

GVariant* uninhibit_arguments()
{
    return g_variant_new("(u)", screensaver.cookie);
}

void sync_screensaver(GDBusConnection* bus)
{
    if (screensaver.calling)
        return;
    if (screensaver.wanted && !screensaver.held) {
        screensaver.calling = 1;
        g_dbus_connection_call(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver", "Inhibit", g_variant_new("(ss)", APPLICATION, REASON),
                               G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, on_inhibited,
                               nullptr);
    } else if (!screensaver.wanted && screensaver.held) {
        screensaver.held = 0;
        g_dbus_connection_call(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver", "UnInhibit", uninhibit_arguments(), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, nullptr, nullptr);
    }
}

// ---- logind ----

void on_sleep_inhibited(GObject* source, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    GUnixFDList* fds = nullptr;
    GVariant* reply =
        g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds, result, &error);
    sleep_hold.calling = 0;
    int fd = -1;
    if (reply) {
        int32_t index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        if (fds)
            fd = g_unix_fd_list_get(fds, index, nullptr);
    }
    if (fds)
        g_object_unref(fds);
    if (fd >= 0) {
        sleep_hold.fd = fd;
    } else {
        if (!sleep_hold.reported) {
            sleep_hold.reported = 1;
            if (error)
                g_dbus_error_strip_remote_error(error);
            fprintf(stderr, "moravista: no logind on the system bus (%s), so sleep is not held off while a video "
                            "plays\n", error ? error->message : "no inhibitor came back");
        }
        sleep_hold.wanted = 0;
    }
    g_clear_error(&error);
    if (GDBusConnection* bus = bus_if_connected(BUS_SYSTEM))
        sync_sleep(bus);
}

void sync_sleep(GDBusConnection* bus)
{
    if (sleep_hold.calling)
        return;
    if (sleep_hold.wanted && sleep_hold.fd < 0) {
        sleep_hold.calling = 1;
        g_dbus_connection_call_with_unix_fd_list(
            bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
            g_variant_new("(ssss)", "sleep:idle", APPLICATION, REASON, "block"), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, nullptr, on_sleep_inhibited, nullptr);
    } else if (!sleep_hold.wanted && sleep_hold.fd >= 0) {
        // Closing the descriptor is what releases a logind inhibitor.
        close(sleep_hold.fd);
        sleep_hold.fd = -1;
    }
}

// ---- the X server ----

void sync_x_server(PlatformWindow* w, int on)
{
    if (!w || !w->xdisplay)
        return;
    if (!x_server.checked) {
        int event_base, error_base;
        x_server.checked = 1;
        x_server.present = XScreenSaverQueryExtension(w->xdisplay, &event_base, &error_base);
    }
    if (!x_server.present || x_server.suspended == on)
        return;
    // Counted per client by the server and undone when the connection closes.
    XScreenSaverSuspend(w->xdisplay, on ? True : False);
    XFlush(w->xdisplay);
    x_server.suspended = on;
}

} // namespace

void platform_power_block(void* window, int on)
{
    on = on ? 1 : 0;
    sync_x_server(static_cast<PlatformWindow*>(window), on);
    screensaver.wanted = on;
    sleep_hold.wanted = on;
    if (on) {
        bus_when_ready(BUS_SESSION, on_session_bus, nullptr);
        bus_when_ready(BUS_SYSTEM, on_system_bus, nullptr);
        return;
    }
    // Letting go never connects to a bus that was not needed.
    if (GDBusConnection* bus = bus_if_connected(BUS_SESSION))
        sync_screensaver(bus);
    if (GDBusConnection* bus = bus_if_connected(BUS_SYSTEM))
        sync_sleep(bus);
}

void platform_power_release_at_exit(void*)
{
    // The X server's suspension ends with the connection, and the display
    // may be what went away: it is not spoken to here.
    screensaver.wanted = 0;
    sleep_hold.wanted = 0;
    if (sleep_hold.fd >= 0) {
        close(sleep_hold.fd);
        sleep_hold.fd = -1;
    }
    GDBusConnection* bus = bus_if_connected(BUS_SESSION);
    if (!bus || !screensaver.held)
        return;
    // The process ends right after this: the service must have the release
    // before the connection goes, but a service that does not answer may
    // hold the exit up only briefly.
    screensaver.held = 0;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                                  "org.freedesktop.ScreenSaver", "UnInhibit", uninhibit_arguments(),
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, EXIT_TIMEOUT_MS, nullptr, nullptr);
    if (reply)
        g_variant_unref(reply);
}
