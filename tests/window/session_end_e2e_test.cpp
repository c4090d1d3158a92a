// The desktop session's end: a stand-in session manager on a private
// session bus takes the player as a client and then ends the session; the
// player answers and exits 0 with its settings written.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

const char MANAGER_XML[] = "<node><interface name='org.gnome.SessionManager'>"
                           "<method name='RegisterClient'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
                           "<arg type='o' direction='out'/></method></interface></node>";
const char CLIENT_XML[] = "<node><interface name='org.gnome.SessionManager.ClientPrivate'>"
                          "<method name='EndSessionResponse'><arg type='b' direction='in'/>"
                          "<arg type='s' direction='in'/></method></interface></node>";
const char CLIENT_PATH[] = "/org/gnome/SessionManager/Client1";

struct FakeManager {
    std::atomic<int> registered{0};
    std::atomic<int> answered_yes{0};
};

void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
             GDBusMethodInvocation* invocation, gpointer data)
{
    auto* manager = static_cast<FakeManager*>(data);
    if (strcmp(method, "RegisterClient") == 0) {
        manager->registered.store(1);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", CLIENT_PATH));
        return;
    }
    gboolean ok = FALSE;
    const gchar* reason = nullptr;
    g_variant_get(params, "(b&s)", &ok, &reason);
    if (ok)
        manager->answered_yes.fetch_add(1);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

class SessionEnd : public DesktopTest {
public:
    void TearDown() override
    {
        if (loop) {
            g_main_loop_quit(loop);
            thread.join();
            g_main_loop_unref(loop);
        }
        if (bus)
            g_object_unref(bus);
        DesktopTest::TearDown();
    }

    // Owns the manager's name on the private bus and answers on a thread.
    void start_manager()
    {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        bus = g_dbus_connection_new_for_address_sync(
            bus_address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        static const GDBusInterfaceVTable vtable{on_call, nullptr, nullptr, {}};
        GDBusNodeInfo* manager_node = g_dbus_node_info_new_for_xml(MANAGER_XML, nullptr);
        GDBusNodeInfo* client_node = g_dbus_node_info_new_for_xml(CLIENT_XML, nullptr);
        g_dbus_connection_register_object(bus, "/org/gnome/SessionManager", manager_node->interfaces[0], &vtable,
                                          &manager, nullptr, nullptr);
        g_dbus_connection_register_object(bus, CLIENT_PATH, client_node->interfaces[0], &vtable, &manager, nullptr,
                                          nullptr);
        g_dbus_node_info_unref(manager_node);
        g_dbus_node_info_unref(client_node);
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.gnome.SessionManager", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            nullptr);
        ASSERT_NE(reply, nullptr);
        g_variant_unref(reply);
        g_main_context_pop_thread_default(context);
        loop = g_main_loop_new(context, FALSE);
        g_main_context_unref(context);
        thread = std::thread([this] {
            g_main_context_push_thread_default(g_main_loop_get_context(loop));
            g_main_loop_run(loop);
        });
    }

    FakeManager manager;
    GDBusConnection* bus = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
};

TEST_F(SessionEnd, the_session_managers_log_off_is_answered_and_ends_the_player_with_its_settings_written)
{
    start_session_bus();
    start_manager();
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    ASSERT_NE(find_window(), 0u) << stderr_text();
    for (int i = 0; i < 100 && !manager.registered.load(); i++)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(manager.registered.load(), 1) << "the player did not register with the session manager";
    std::this_thread::sleep_for(300ms); // its subscription reaches the bus
    for (const char* signal : {"QueryEndSession", "EndSession"})
        g_dbus_connection_emit_signal(bus, nullptr, CLIENT_PATH, "org.gnome.SessionManager.ClientPrivate", signal,
                                      g_variant_new("(u)", 0u), nullptr);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    int status = wait_exit(player, 10s);
    ASSERT_NE(status, -1) << "still running 10 s after the end of the session";
    player = -1;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(manager.answered_yes.load(), 2) << "the question and the end are both answered";
    EXPECT_NE(settings_text().find("列表数=1\r\n"), std::string::npos) << settings_text();
}

} // namespace
