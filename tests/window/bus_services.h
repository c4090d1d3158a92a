// Two small desktop services on a test's private session bus, run on a thread
// of their own: a StatusNotifierWatcher that records the items registering
// with it, and a notification server that records Notify and
// CloseNotification calls with their times and can click a notification.
#pragma once
#include <gio/gio.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace desktop_test {

class BusServices {
public:
    struct Note {
        uint32_t id;
        std::string summary, body;
        int32_t timeout_ms;
        bool has_default_action;
        double at_s;
    };
    struct Close {
        uint32_t id;
        double at_s;
    };

    ~BusServices() { stop(); }

    // Connects to the bus at address and takes the services' names; false
    // when that does not work within 5 s.
    bool start(const std::string& address, bool watcher, bool notifications)
    {
        want_watcher = watcher;
        want_notifications = notifications;
        context = g_main_context_new();
        loop = g_main_loop_new(context, FALSE);
        thread = std::thread([this, address] { run(address); });
        for (int i = 0; i < 500; i++) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (names_owned == int(want_watcher) + int(want_notifications) && bus)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void stop()
    {
        if (!loop)
            return;
        g_main_context_invoke(
            context, [](gpointer l) -> gboolean { g_main_loop_quit(static_cast<GMainLoop*>(l)); return FALSE; }, loop);
        thread.join();
        g_main_loop_unref(loop);
        g_main_context_unref(context);
        loop = nullptr;
    }

    // How often a client asked whether a host is registered.
    int host_asked()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return host_questions;
    }
    std::vector<std::string> registered()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return registrations;
    }
    std::vector<Note> notes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return notifications;
    }
    std::vector<Close> closes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return closed;
    }
    double now_s() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    // Calls a method of the tray item at service (Activate, ContextMenu: two int arguments).
    bool call_item(const std::string& service, const char* method)
    {
        GVariant* reply = g_dbus_connection_call_sync(bus, service.c_str(), "/StatusNotifierItem",
                                                      "org.kde.StatusNotifierItem", method, g_variant_new("(ii)", 0, 0),
                                                      nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply)
            g_variant_unref(reply);
        return reply != nullptr;
    }
    // The tooltip's title of the item at service.
    std::string item_tooltip(const std::string& service)
    {
        GVariant* reply = g_dbus_connection_call_sync(
            bus, service.c_str(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.kde.StatusNotifierItem", "ToolTip"), G_VARIANT_TYPE("(v)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (!reply)
            return "";
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        const char* title = "";
        g_variant_get_child(value, 2, "&s", &title);
        std::string result = title;
        g_variant_unref(value);
        g_variant_unref(reply);
        return result;
    }
    bool has_owner(const std::string& name)
    {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name.c_str()),
                                                      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        return owned;
    }
    // The user clicks the notification: its default action.
    void click(uint32_t id)
    {
        g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                      "ActionInvoked", g_variant_new("(us)", id, "default"), nullptr);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }
    // The panel restarts: the watcher's name goes and comes back.
    void restart_watcher()
    {
        g_main_context_invoke(context, [](gpointer self) -> gboolean {
            auto* s = static_cast<BusServices*>(self);
            g_bus_unown_name(s->watcher_owner);
            s->watcher_owner = s->own("org.kde.StatusNotifierWatcher");
            return FALSE;
        }, this);
    }

private:
    static constexpr const char* WATCHER_XML =
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg name='service' type='s' direction='in'/></method>"
        "<method name='RegisterStatusNotifierHost'><arg name='service' type='s' direction='in'/></method>"
        "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
        "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
        "<property name='ProtocolVersion' type='i' access='read'/>"
        "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
        "</interface></node>";
    static constexpr const char* NOTIFICATIONS_XML =
        "<node><interface name='org.freedesktop.Notifications'>"
        "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
        "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
        "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
        "<arg type='u' direction='out'/></method>"
        "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
        "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
        "<method name='GetServerInformation'><arg type='s' direction='out'/><arg type='s' direction='out'/>"
        "<arg type='s' direction='out'/><arg type='s' direction='out'/></method>"
        "<signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
        "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
        "</interface></node>";

    unsigned own(const char* name)
    {
        return g_bus_own_name_on_connection(
            bus, name, G_BUS_NAME_OWNER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, gpointer self) {
                auto* s = static_cast<BusServices*>(self);
                std::lock_guard<std::mutex> lock(s->mutex);
                s->names_owned++;
            },
            nullptr, this, nullptr);
    }

    static void on_watcher_call(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                                const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                gpointer self)
    {
        auto* s = static_cast<BusServices*>(self);
        if (strcmp(method, "RegisterStatusNotifierItem") == 0) {
            const char* service = "";
            g_variant_get(parameters, "(&s)", &service);
            std::lock_guard<std::mutex> lock(s->mutex);
            s->registrations.push_back(service);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    static GVariant* on_watcher_property(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar* property, GError**, gpointer self)
    {
        if (strcmp(property, "IsStatusNotifierHostRegistered") == 0) {
            auto* s = static_cast<BusServices*>(self);
            std::lock_guard<std::mutex> lock(s->mutex);
            s->host_questions++;
            return g_variant_new_boolean(TRUE);
        }
        if (strcmp(property, "ProtocolVersion") == 0)
            return g_variant_new_int32(0);
        return g_variant_new_strv(nullptr, 0);
    }

    static void on_notifications_call(GDBusConnection* connection, const gchar*, const gchar*, const gchar*,
                                      const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                      gpointer self)
    {
        auto* s = static_cast<BusServices*>(self);
        if (strcmp(method, "GetCapabilities") == 0) {
            const char* caps[] = {"actions", "body", nullptr};
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
        } else if (strcmp(method, "GetServerInformation") == 0) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "test", "test", "1", "1.2"));
        } else if (strcmp(method, "Notify") == 0) {
            const char *app, *icon, *summary, *body;
            uint32_t replaces;
            GVariant *actions, *hints;
            int32_t timeout;
            g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions,
                          &hints, &timeout);
            bool has_default = false;
            for (gsize i = 0; i + 1 < g_variant_n_children(actions); i += 2) {
                const char* key = "";
                g_variant_get_child(actions, i, "&s", &key);
                has_default |= strcmp(key, "default") == 0;
            }
            g_variant_unref(actions);
            g_variant_unref(hints);
            uint32_t id;
            {
                std::lock_guard<std::mutex> lock(s->mutex);
                id = replaces ? replaces : ++s->last_id;
                s->notifications.push_back(Note{id, summary, body, timeout, has_default, s->now_s()});
            }
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
        } else if (strcmp(method, "CloseNotification") == 0) {
            uint32_t id = 0;
            g_variant_get(parameters, "(u)", &id);
            {
                std::lock_guard<std::mutex> lock(s->mutex);
                s->closed.push_back(Close{id, s->now_s()});
            }
            g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                          "org.freedesktop.Notifications", "NotificationClosed",
                                          g_variant_new("(uu)", id, 3u), nullptr);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    void run(const std::string& address)
    {
        g_main_context_push_thread_default(context);
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!connection)
            return;
        static const GDBusInterfaceVTable watcher_vtable = {on_watcher_call, on_watcher_property, nullptr, {}};
        static const GDBusInterfaceVTable notifications_vtable = {on_notifications_call, nullptr, nullptr, {}};
        GDBusNodeInfo* watcher_node = g_dbus_node_info_new_for_xml(WATCHER_XML, nullptr);
        GDBusNodeInfo* notifications_node = g_dbus_node_info_new_for_xml(NOTIFICATIONS_XML, nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex);
            bus = connection;
        }
        if (want_watcher) {
            g_dbus_connection_register_object(connection, "/StatusNotifierWatcher", watcher_node->interfaces[0],
                                              &watcher_vtable, this, nullptr, nullptr);
            watcher_owner = own("org.kde.StatusNotifierWatcher");
        }
        if (want_notifications) {
            g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications",
                                              notifications_node->interfaces[0], &notifications_vtable, this, nullptr,
                                              nullptr);
            own("org.freedesktop.Notifications");
        }
        g_main_loop_run(loop);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
        g_dbus_node_info_unref(watcher_node);
        g_dbus_node_info_unref(notifications_node);
        g_main_context_pop_thread_default(context);
    }

    std::mutex mutex;
    std::thread thread;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* bus = nullptr;
    bool want_watcher = false, want_notifications = false;
    unsigned watcher_owner = 0;
    int names_owned = 0;
    int host_questions = 0;
    uint32_t last_id = 0;
    std::vector<std::string> registrations;
    std::vector<Note> notifications;
    std::vector<Close> closed;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

} // namespace desktop_test
