// The session and system buses, connected once per process without ever
// blocking the window thread, shared by the screensaver and sleep blocking
// and the media-player interface.
#pragma once

typedef struct _GDBusConnection GDBusConnection;

enum BusKind { BUS_SESSION = 0, BUS_SYSTEM = 1 };

// Called on the window thread once the bus is connected, or with null when
// there is none (no address, nothing listening, refused). Called at once
// when the answer is already known.
using BusReady = void (*)(GDBusConnection* bus, void* user);
void bus_when_ready(BusKind kind, BusReady ready, void* user);

// The connection when it is up, else null; never waits.
GDBusConnection* bus_if_connected(BusKind kind);

// The address of the bus; empty when none can be found. A session without
// DBUS_SESSION_BUS_ADDRESS and without $XDG_RUNTIME_DIR/bus has none: the
// bus is never started on the player's behalf (it would outlive it).
void bus_address(BusKind kind, char* out, unsigned out_size);
