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
#include <deque>

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
// How long the bus may take to say who a caller is; a caller it does not
// name in time is refused.
constexpr int LOOKUP_TIMEOUT_MS = 2000;

// A call waiting for its caller's user to be known. Calls are answered in
// the order they came, whoever asks.
struct PendingCall {
    GDBusMethodInvocation* invocation;
    char sender[64];
    int verdict; // -1 not known yet, 0 refused, 1 allowed
};

struct Service {
    PlatformWindow* window;
    GDBusConnection* connection;
    GDBusNodeInfo* node;
    KnownCaller callers[KNOWN_CALLERS];
    int next_caller;
    std::deque<PendingCall> pending;
};

// One per process, touched only on the window thread.
Service service;

int known_verdict(Service* s, const char* sender)
{
    for (const KnownCaller& c : s->callers)
        if (strcmp(c.name, sender) == 0)
            return c.allowed ? 1 : 0;
    return -1;
}

void remember(Service* s, const char* sender, bool allowed)
{
    KnownCaller& slot = s->callers[s->next_caller];
    s->next_caller = (s->next_caller + 1) % KNOWN_CALLERS;
    snprintf(slot.name, sizeof slot.name, "%s", sender);
    slot.allowed = allowed;
}

void answer(Service* s, PendingCall* call)
{
    GDBusMethodInvocation* invocation = call->invocation;
    if (call->verdict != 1) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                   "the player takes data only from its own user");
        return;
    }
    guint64 code = 0;
    GVariant* bytes = nullptr;
    g_variant_get(g_dbus_method_invocation_get_parameters(invocation), "(t@ay)", &code, &bytes);
    gsize size = 0;
    const void* payload = g_variant_get_fixed_array(bytes, &size, 1);
    CopyData message{code, static_cast<const uint8_t*>(payload), size};
    PlatformWindow* w = s->window;
    intptr_t result = w->procedure(w->user, MSG_COPY_DATA, 0, reinterpret_cast<intptr_t>(&message));
    g_variant_unref(bytes);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(x)", gint64(result)));
}

void answer_ready(Service* s)
{
    while (!s->pending.empty() && s->pending.front().verdict >= 0) {
        PendingCall call = s->pending.front();
        s->pending.pop_front();
        answer(s, &call);
    }
}

void on_caller_user(GObject* source, GAsyncResult* result, gpointer data)
{
    char* sender = static_cast<char*>(data);
    Service* s = &service;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    bool allowed = false;
    if (reply) {
        guint32 uid = 0;
        g_variant_get(reply, "(u)", &uid);
        g_variant_unref(reply);
        allowed = uid == getuid();
    }
    remember(s, sender, allowed);
    for (PendingCall& call : s->pending)
        if (call.verdict < 0 && strcmp(call.sender, sender) == 0)
            call.verdict = allowed ? 1 : 0;
    g_free(sender);
    answer_ready(s);
}

// Who the caller is comes from the bus, asked without waiting: the window
// thread goes on meanwhile, and the call is answered when the bus has said.
void ask_for_user(Service* s, const char* sender)
{
    for (const PendingCall& call : s->pending)
        if (call.verdict < 0 && strcmp(call.sender, sender) == 0)
            return; // asked already
    g_dbus_connection_call(s->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "GetConnectionUnixUser", g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, LOOKUP_TIMEOUT_MS, nullptr, on_caller_user, g_strdup(sender));
}

void on_method_call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                    GVariant*, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* s = static_cast<Service*>(data);
    if (strcmp(method, "CopyData") != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                   "no such method");
        return;
    }
    // A unique name is never reused, so the one a caller had is its own.
    PendingCall call{invocation, {}, sender && strlen(sender) < sizeof call.sender ? -1 : 0};
    snprintf(call.sender, sizeof call.sender, "%s", sender ? sender : "");
    if (call.verdict < 0)
        call.verdict = known_verdict(s, call.sender);
    if (call.verdict < 0)
        ask_for_user(s, call.sender);
    s->pending.push_back(call);
    answer_ready(s);
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
