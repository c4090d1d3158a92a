// The current file in the desktop's file manager: the file manager's
// ShowItems call on the session bus, or the folder opened with xdg-open
// where no file manager answers. Runs on a thread of its own, so a slow or
// missing file manager never holds up the caller.
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/bus_internal.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

// Requests still being carried out; more are refused.
std::atomic<int> requests_running{0};
constexpr int MAX_REQUESTS = 4;
constexpr int FILE_MANAGER_TIMEOUT_MS = 5000;

bool show_in_file_manager(const char* path)
{
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (!uri)
        return false;
    // A connection of this request's own: the window thread's is not
    // for other threads, and the shared one would end the process with the bus.
    GDBusConnection* bus = bus_connect_private(BUS_SESSION, nullptr);
    bool shown = false;
    if (bus) {
        const gchar* uris[] = {uri, nullptr};
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
            "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, FILE_MANAGER_TIMEOUT_MS,
            nullptr, nullptr);
        if (reply) {
            g_variant_unref(reply);
            shown = true;
        }
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    g_free(uri);
    return shown;
}

// The player blocks its closing signals in every thread; a program it
// starts must not inherit that, or it would ignore them.
void unblock_signals(gpointer)
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
}

void open_folder(const char* path)
{
    gchar* folder = g_path_get_dirname(path);
    gchar* argv[] = {const_cast<gchar*>("xdg-open"), folder, nullptr};
    GPid pid = 0;
    GSpawnFlags flags = GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                    G_SPAWN_STDERR_TO_DEV_NULL);
    if (g_spawn_async(nullptr, argv, nullptr, flags, unblock_signals, nullptr, &pid, nullptr))
        waitpid(pid, nullptr, 0);
    g_free(folder);
}

void show(char* path)
{
    if (!show_in_file_manager(path))
        open_folder(path);
    free(path);
    requests_running.fetch_sub(1, std::memory_order_relaxed);
}

} // namespace

int platform_show_file(const char* path)
{
    if (!path || path[0] != '/')
        return 0;
    if (requests_running.fetch_add(1, std::memory_order_relaxed) >= MAX_REQUESTS) {
        requests_running.fetch_sub(1, std::memory_order_relaxed);
        return 0;
    }
    char* copy = strdup(path);
    if (!copy) {
        requests_running.fetch_sub(1, std::memory_order_relaxed);
        return 0;
    }
    std::thread(show, copy).detach();
    return 1;
}
