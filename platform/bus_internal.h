// The session and system buses, connected once per process without ever
// blocking the window thread, shared by every service of the player: the
// screensaver and sleep blocking, the media-player interface, data messages,
// the tray icon, balloons and the session's log-off. The connections are the
// player's own: a bus that goes away never ends the process (the toolkit's
// shared connection would), it only stops the services on it.
#pragma once

typedef struct _GDBusConnection GDBusConnection;

enum BusKind { BUS_SESSION = 0, BUS_SYSTEM = 1 };

// Called on the window thread once the bus is connected, or with null when
// there is none (no address, nothing listening, refused). Called at once
// when the answer is already known.
using BusReady = void (*)(GDBusConnection* bus, void* user);
void bus_when_ready(BusKind kind, BusReady ready, void* user);

// Called on the window thread once, when the bus that was connected goes
// away; the services on it have stopped (each says so once on stderr). A
// bus that is lost is not connected again.
using BusLost = void (*)(void* user);
void bus_when_lost(BusKind kind, BusLost lost, void* user);

// The line a service prints when the session bus goes away: "moravista:
// the session bus went away, so <what stopped>".
void bus_say_stopped(const char* what_stopped);

// The connection when it is up, else null; never waits.
GDBusConnection* bus_if_connected(BusKind kind);

// A private connection of its own, made now (the calling thread waits; any
// thread), not exiting the process on close; null with *error (when error
// is given) when there is no bus. The caller closes and releases it.
typedef struct _GError GError;
GDBusConnection* bus_connect_private(BusKind kind, GError** error);

// The address of the bus; empty when none can be found. A session without
// DBUS_SESSION_BUS_ADDRESS and without $XDG_RUNTIME_DIR/bus has none: the
// bus is never started on the player's behalf (it would outlive it).
void bus_address(BusKind kind, char* out, unsigned out_size);
