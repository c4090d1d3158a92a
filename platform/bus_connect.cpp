// Connections to the desktop's buses. Each is opened asynchronously the
// first time something asks for it; whoever asked before the answer came is
// told when it comes. All of this runs on the window thread.
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/bus_internal.h"

namespace {

enum BusState { NOT_ASKED, CONNECTING, CONNECTED, ABSENT, LOST };

struct Waiter {
    BusReady ready;
    void* user;
};

struct LossWatch {
    BusLost lost;
    void* user;
};

struct Bus {
    BusState state;
    GDBusConnection* connection;
    std::vector<Waiter> waiters;
    std::vector<LossWatch> loss_watches;
};

Bus buses[2];

bool is_socket(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

void tell_waiters(Bus* bus)
{
    std::vector<Waiter> waiters;
    waiters.swap(bus->waiters);
    for (const Waiter& w : waiters)
        w.ready(bus->connection, w.user);
}

// The daemon went away (or dropped us): every service on the bus has
// stopped. The connection object stays alive for whoever still holds it;
// calls on it fail at once.
void on_closed(GDBusConnection*, gboolean, GError*, gpointer data)
{
    Bus* bus = static_cast<Bus*>(data);
    if (bus->state != CONNECTED)
        return;
    bus->state = LOST;
    std::vector<LossWatch> watches;
    watches.swap(bus->loss_watches);
    for (const LossWatch& watch : watches)
        watch.lost(watch.user);
}

void on_connected(GObject*, GAsyncResult* result, gpointer data)
{
    Bus* bus = static_cast<Bus*>(data);
    GError* error = nullptr;
    bus->connection = g_dbus_connection_new_for_address_finish(result, &error);
    if (error)
        g_error_free(error);
    if (bus->connection) {
        // The process ends by _exit from the window thread: a bus that goes
        // away must not take the player with it.
        g_dbus_connection_set_exit_on_close(bus->connection, FALSE);
        g_signal_connect(bus->connection, "closed", G_CALLBACK(on_closed), bus);
        bus->state = CONNECTED;
    } else {
        bus->state = ABSENT;
    }
    tell_waiters(bus);
}

constexpr GDBusConnectionFlags CLIENT_FLAGS = GDBusConnectionFlags(
    G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);

} // namespace

void bus_address(BusKind kind, char* out, unsigned out_size)
{
    const char* variable = getenv(kind == BUS_SESSION ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS");
    if (variable && *variable) {
        snprintf(out, out_size, "%s", variable);
        return;
    }
    char path[512] = "";
    if (kind == BUS_SYSTEM) {
        snprintf(path, sizeof path, "/run/dbus/system_bus_socket");
    } else if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        snprintf(path, sizeof path, "%s/bus", runtime);
    }
    if (path[0] && is_socket(path))
        snprintf(out, out_size, "unix:path=%s", path);
    else if (out_size)
        out[0] = 0;
}

void bus_when_ready(BusKind kind, BusReady ready, void* user)
{
    Bus* bus = &buses[kind];
    if (bus->state == CONNECTED || bus->state == ABSENT || bus->state == LOST) {
        ready(bus->state == CONNECTED ? bus->connection : nullptr, user);
        return;
    }
    bus->waiters.push_back(Waiter{ready, user});
    if (bus->state == CONNECTING)
        return;
    char address[1024];
    bus_address(kind, address, sizeof address);
    if (!address[0]) {
        bus->state = ABSENT;
        tell_waiters(bus);
        return;
    }
    bus->state = CONNECTING;
    g_dbus_connection_new_for_address(address, CLIENT_FLAGS, nullptr, nullptr, on_connected, bus);
}

GDBusConnection* bus_connect_private(BusKind kind, GError** error)
{
    char address[1024];
    bus_address(kind, address, sizeof address);
    if (!address[0]) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                            kind == BUS_SESSION ? "no session bus" : "no system bus");
        return nullptr;
    }
    // Such a connection never exits the process on close: only the shared
    // ones of g_bus_get do.
    return g_dbus_connection_new_for_address_sync(address, CLIENT_FLAGS, nullptr, nullptr, error);
}

void bus_when_lost(BusKind kind, BusLost lost, void* user)
{
    if (buses[kind].state != LOST)
        buses[kind].loss_watches.push_back(LossWatch{lost, user});
}

void bus_say_stopped(const char* what_stopped)
{
    fprintf(stderr, "moravista: the session bus went away, so %s\n", what_stopped);
}

GDBusConnection* bus_if_connected(BusKind kind)
{
    return buses[kind].state == CONNECTED ? buses[kind].connection : nullptr;
}
