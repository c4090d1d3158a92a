// Small stand-ins for the desktop services the player talks to, for the
// end-to-end tests:
//   fake_desktop screensaver LOG  a screensaver service on the session bus
//   fake_desktop logind LOG       logind's Inhibit on the bus that
//                                 DBUS_SYSTEM_BUS_ADDRESS names
//   fake_desktop grab             tries to grab Ctrl+Alt+P on the display;
//                                 exit 0 when it could, 1 when another
//                                 client holds it
//   fake_desktop hold             grabs Ctrl+Alt+P and keeps it until killed;
//                                 prints "held" once it has it
//   fake_desktop press KEY...     presses Ctrl+Alt+KEY for each X key name, as
//                                 the keyboard would (without touching the
//                                 keyboard map, which xdotool rewrites)
//   fake_desktop xss              prints the X server's screensaver state
//                                 ("off", "on" or "disabled")
//   fake_desktop xss-arm          sets the X server's screensaver to start
//                                 after one idle second, and restarts the count
//   fake_desktop flood NAME N     calls PlayPause on the player NAME N times,
//                                 1000 a second, without waiting for answers
//   fake_desktop set-volume NAME V  sets the player's Volume to V (any text
//                                 strtod reads, "nan" included); prints "ok"
//                                 or the error
// The services log one line per event to LOG and keep every inhibitor until
// it is released explicitly (a client that only disconnects leaves its
// inhibitor listed), so a test sees whether the player let go itself.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

FILE* log_file;
std::set<uint32_t> active_cookies;
uint32_t next_cookie = 1;
int sleep_inhibitors;

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(log_file, format, args);
    va_end(args);
    fputc('\n', log_file);
    fflush(log_file);
}

const char SCREENSAVER_XML[] = R"(<node><interface name="org.freedesktop.ScreenSaver">
 <method name="Inhibit"><arg direction="in" type="s"/><arg direction="in" type="s"/>
  <arg direction="out" type="u"/></method>
 <method name="UnInhibit"><arg direction="in" type="u"/></method>
</interface></node>)";

const char LOGIND_XML[] = R"(<node><interface name="org.freedesktop.login1.Manager">
 <method name="Inhibit"><arg direction="in" type="s"/><arg direction="in" type="s"/>
  <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="out" type="h"/></method>
</interface></node>)";

void on_screensaver_call(GDBusConnection*, const char*, const char*, const char*, const char* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer)
{
    if (strcmp(method, "Inhibit") == 0) {
        const char *application, *reason;
        g_variant_get(parameters, "(&s&s)", &application, &reason);
        uint32_t cookie = next_cookie++;
        active_cookies.insert(cookie);
        log_line("inhibit %u %s active=%zu", cookie, application, active_cookies.size());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", cookie));
        return;
    }
    uint32_t cookie = 0;
    g_variant_get(parameters, "(u)", &cookie);
    active_cookies.erase(cookie);
    log_line("uninhibit %u active=%zu", cookie, active_cookies.size());
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

gboolean on_inhibitor_closed(gint fd, GIOCondition, gpointer)
{
    sleep_inhibitors--;
    log_line("released active=%d", sleep_inhibitors);
    close(fd);
    return G_SOURCE_REMOVE;
}

void on_logind_call(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                    GDBusMethodInvocation* invocation, gpointer)
{
    const char *what, *who, *why, *mode;
    g_variant_get(parameters, "(&s&s&s&s)", &what, &who, &why, &mode);
    int ends[2];
    if (pipe(ends) != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "no pipe");
        return;
    }
    // The inhibitor lasts while the client keeps its end open.
    g_unix_fd_add(ends[0], GIOCondition(G_IO_HUP | G_IO_ERR | G_IO_IN), on_inhibitor_closed, nullptr);
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&ends[1], 1);
    sleep_inhibitors++;
    log_line("inhibit %s %s %s active=%d", what, who, mode, sleep_inhibitors);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), fds);
    g_object_unref(fds);
}

void on_name_acquired(GDBusConnection*, const char* name, gpointer)
{
    log_line("ready %s", name);
}

int serve(GBusType type, const char* xml, const char* name, const char* path, GDBusInterfaceMethodCallFunc call)
{
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(type, nullptr, &error);
    if (!bus) {
        fprintf(stderr, "fake_desktop: %s\n", error->message);
        return 2;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    static GDBusInterfaceVTable vtable{};
    vtable.method_call = call;
    g_dbus_connection_register_object(bus, path, node->interfaces[0], &vtable, nullptr, nullptr, nullptr);
    g_bus_own_name_on_connection(bus, name, G_BUS_NAME_OWNER_FLAGS_NONE, on_name_acquired, nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}

int grab(bool keep)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 2;
    static int failed;
    XSetErrorHandler([](Display*, XErrorEvent* e) {
        failed = e->error_code == BadAccess;
        return 0;
    });
    KeyCode p = XKeysymToKeycode(d, XStringToKeysym("p"));
    XGrabKey(d, p, ControlMask | Mod1Mask, DefaultRootWindow(d), True, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    puts(failed ? "busy" : keep ? "held" : "grabbed");
    fflush(stdout);
    while (keep && !failed)
        pause();
    XCloseDisplay(d);
    return failed ? 1 : 0;
}

int press(int count, char** names)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 2;
    KeyCode ctrl = XKeysymToKeycode(d, XK_Control_L), alt = XKeysymToKeycode(d, XK_Alt_L);
    for (int i = 0; i < count; i++) {
        KeyCode key = XKeysymToKeycode(d, XStringToKeysym(names[i]));
        for (KeyCode k : {ctrl, alt, key})
            XTestFakeKeyEvent(d, k, True, CurrentTime);
        for (KeyCode k : {key, alt, ctrl})
            XTestFakeKeyEvent(d, k, False, CurrentTime);
        XSync(d, False);
    }
    XCloseDisplay(d);
    return 0;
}

int arm_screensaver()
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 2;
    XSetScreenSaver(d, 1, 0, PreferBlanking, AllowExposures);
    XResetScreenSaver(d);
    XCloseDisplay(d);
    return 0;
}

int screensaver_state()
{
    Display* d = XOpenDisplay(nullptr);
    int event_base, error_base;
    if (!d || !XScreenSaverQueryExtension(d, &event_base, &error_base))
        return 2;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    XScreenSaverQueryInfo(d, DefaultRootWindow(d), info);
    puts(info->state == ScreenSaverDisabled ? "disabled" : info->state == ScreenSaverOn ? "on" : "off");
    XFree(info);
    XCloseDisplay(d);
    return 0;
}

int set_volume(const char* name, const char* value)
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return 2;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, name, "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.mpris.MediaPlayer2.Player", "Volume", g_variant_new_double(strtod(value, nullptr))),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (reply)
        g_variant_unref(reply);
    puts(error ? error->message : "ok");
    return error ? 1 : 0;
}

int flood(const char* name, int count)
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return 2;
    for (int i = 0; i < count; i++) {
        GDBusMessage* m = g_dbus_message_new_method_call(name, "/org/mpris/MediaPlayer2",
                                                         "org.mpris.MediaPlayer2.Player", "PlayPause");
        g_dbus_message_set_flags(m, G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
        g_dbus_connection_send_message(bus, m, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
        g_object_unref(m);
        g_usleep(1000);
    }
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "grab") == 0 || strcmp(mode, "hold") == 0)
        return grab(strcmp(mode, "hold") == 0);
    if (strcmp(mode, "press") == 0)
        return press(argc - 2, argv + 2);
    if (strcmp(mode, "xss") == 0)
        return screensaver_state();
    if (strcmp(mode, "xss-arm") == 0)
        return arm_screensaver();
    if (strcmp(mode, "set-volume") == 0 && argc > 3)
        return set_volume(argv[2], argv[3]);
    if (strcmp(mode, "flood") == 0 && argc > 3)
        return flood(argv[2], atoi(argv[3]));
    if (argc < 3) {
        fputs("usage: fake_desktop screensaver|logind LOG | grab | flood NAME COUNT\n", stderr);
        return 2;
    }
    log_file = fopen(argv[2], "a");
    if (!log_file)
        return 2;
    if (strcmp(mode, "screensaver") == 0)
        return serve(G_BUS_TYPE_SESSION, SCREENSAVER_XML, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                     on_screensaver_call);
    if (strcmp(mode, "logind") == 0)
        return serve(G_BUS_TYPE_SYSTEM, LOGIND_XML, "org.freedesktop.login1", "/org/freedesktop/login1",
                     on_logind_call);
    return 2;
}
