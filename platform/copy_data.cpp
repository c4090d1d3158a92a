// Data messages between programs over the session bus. Each running player
// owns a name made from its process id and exports one object with one
// method, CopyData(code, payload bytes) -> result; the bytes carry paths that
// are not UTF-8 intact. The method runs on the window thread (the bus
// dispatches on the main context that registered it). Calls from
// connections of other users are refused.
#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

const char OBJECT_PATH[] = "/org/moravista/Player";
const char INTERFACE_NAME[] = "org.moravista.Player";
const char INTERFACE_XML[] = "<node><interface name='org.moravista.Player'>"
                             "<method name='CopyData'>"
                             "<arg type='t' name='code' direction='in'/>"
                             "<arg type='ay' name='payload' direction='in'/>"
                             "<arg type='x' name='result' direction='out'/>"
                             "</method></interface></node>";
// A player busy scanning a large folder still answers within this.
constexpr int CALL_TIMEOUT_MS = 30000;

// The last few callers whose user was looked up: one bus round trip per
// caller, not per call, and a bounded memory however many callers come.
struct KnownCaller {
    char name[64];
    bool allowed;
};
constexpr int KNOWN_CALLERS = 8;

struct Service {
    PlatformWindow* window;
    GDBusConnection* connection;
    GDBusNodeInfo* node;
    KnownCaller callers[KNOWN_CALLERS];
    int next_caller;
};

// One per process, touched only on the window thread.
Service service;

bool caller_allowed(Service* s, const char* sender)
{
    if (!sender)
        return false;
    for (const KnownCaller& c : s->callers)
        if (strcmp(c.name, sender) == 0)
            return c.allowed;
    GVariant* reply = g_dbus_connection_call_sync(
        s->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixUser", g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 2000,
        nullptr, nullptr);
    guint32 uid = 0;
    bool allowed = false;
    if (reply) {
        g_variant_get(reply, "(u)", &uid);
        g_variant_unref(reply);
        allowed = uid == getuid();
    }
    KnownCaller& slot = s->callers[s->next_caller];
    s->next_caller = (s->next_caller + 1) % KNOWN_CALLERS;
    snprintf(slot.name, sizeof slot.name, "%s", sender);
    slot.allowed = allowed;
    return allowed;
}

void on_method_call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* s = static_cast<Service*>(data);
    if (strcmp(method, "CopyData") != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                   "no such method");
        return;
    }
    if (!caller_allowed(s, sender)) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                   "the player takes data only from its own user");
        return;
    }
    guint64 code = 0;
    GVariant* bytes = nullptr;
    g_variant_get(parameters, "(t@ay)", &code, &bytes);
    gsize size = 0;
    const void* payload = g_variant_get_fixed_array(bytes, &size, 1);
    CopyData message{code, static_cast<const uint8_t*>(payload), size};
    PlatformWindow* w = s->window;
    intptr_t result = w->procedure(w->user, MSG_COPY_DATA, 0, reinterpret_cast<intptr_t>(&message));
    g_variant_unref(bytes);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(x)", gint64(result)));
}

const GDBusInterfaceVTable vtable = {on_method_call, nullptr, nullptr, {}};

void on_bus_lost(void*)
{
    bus_say_stopped("other programs can no longer hand files to the player");
}

void on_bus(GDBusConnection* connection, void* data)
{
    auto* s = static_cast<Service*>(data);
    // No session bus: the player works on without data messages.
    s->connection = connection;
    if (!s->connection)
        return;
    s->node = g_dbus_node_info_new_for_xml(INTERFACE_XML, nullptr);
    if (!s->node)
        return;
    GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(s->node, INTERFACE_NAME);
    if (!g_dbus_connection_register_object(s->connection, OBJECT_PATH, info, &vtable, s, nullptr, nullptr))
        return;
    char name[64];
    platform_copy_data_name(int32_t(getpid()), name, sizeof name);
    // The object is there before the name: whoever sees the name can call.
    g_bus_own_name_on_connection(s->connection, name, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr, nullptr,
                                 nullptr, nullptr);
    bus_when_lost(BUS_SESSION, on_bus_lost, s);
}

void set_message(char* message, size_t size, const char* text)
{
    if (message && size)
        snprintf(message, size, "%s", text);
}

} // namespace

void platform_copy_data_name(int32_t pid, char* out, size_t out_size)
{
    snprintf(out, out_size, "org.moravista.Player.Pid%d", int(pid));
}

void platform_copy_data_listen(void* window)
{
    if (!window || service.window)
        return;
    service.window = static_cast<PlatformWindow*>(window);
    bus_when_ready(BUS_SESSION, on_bus, &service);
}

struct CopyDataClient {
    GDBusConnection* connection;
    char name[64];
};

CopyDataClient* platform_copy_data_connect(int32_t pid, int* status, char* message, size_t message_size)
{
    GError* error = nullptr;
    GDBusConnection* connection = bus_connect_private(BUS_SESSION, &error);
    if (!connection) {
        *status = COPY_DATA_NO_BUS;
        set_message(message, message_size, error ? error->message : "no session bus");
        g_clear_error(&error);
        return nullptr;
    }
    auto* client = new CopyDataClient{connection, {}};
    platform_copy_data_name(pid, client->name, sizeof client->name);
    *status = COPY_DATA_OK;
    return client;
}

int platform_copy_data_call(CopyDataClient* client, uint64_t code, const void* payload, size_t size,
                            int64_t* result, char* message, size_t message_size)
{
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, payload ? payload : "", payload ? size : 0, 1);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(client->connection, client->name, OBJECT_PATH, INTERFACE_NAME,
                                                  "CopyData", g_variant_new("(t@ay)", guint64(code), bytes),
                                                  G_VARIANT_TYPE("(x)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  CALL_TIMEOUT_MS, nullptr, &error);
    if (reply) {
        gint64 value = 0;
        g_variant_get(reply, "(x)", &value);
        g_variant_unref(reply);
        *result = value;
        return COPY_DATA_OK;
    }
    int status = COPY_DATA_FAILED;
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        status = COPY_DATA_NO_PLAYER;
    else if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED))
        status = COPY_DATA_REFUSED;
    set_message(message, message_size, error ? error->message : "no answer");
    g_clear_error(&error);
    return status;
}

void platform_copy_data_close(CopyDataClient* client)
{
    if (!client)
        return;
    g_dbus_connection_close_sync(client->connection, nullptr, nullptr);
    g_object_unref(client->connection);
    delete client;
}
