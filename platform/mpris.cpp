// The desktop media-player interface (MPRIS 2) on the session bus: media
// keys, desktop widgets and command-line clients control the player through
// it. The bus object only translates: every call becomes one action of the
// window (the same named actions its keys use) through the hooks it was
// given, on the window thread; what the properties say is read back through
// the same hooks, and the changes are announced.
#include <gio/gio.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/bus_internal.h"
#include "platform/mpris_internal.h"
#include "platform/platform.h"

namespace {

const char INTROSPECTION[] = R"(<node>
 <interface name="org.mpris.MediaPlayer2">
  <method name="Raise"/>
  <method name="Quit"/>
  <property name="CanQuit" type="b" access="read"/>
  <property name="CanRaise" type="b" access="read"/>
  <property name="HasTrackList" type="b" access="read"/>
  <property name="Identity" type="s" access="read"/>
  <property name="DesktopEntry" type="s" access="read"/>
  <property name="SupportedUriSchemes" type="as" access="read"/>
  <property name="SupportedMimeTypes" type="as" access="read"/>
 </interface>
 <interface name="org.mpris.MediaPlayer2.Player">
  <method name="Next"/>
  <method name="Previous"/>
  <method name="Pause"/>
  <method name="PlayPause"/>
  <method name="Stop"/>
  <method name="Play"/>
  <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
  <method name="SetPosition">
   <arg direction="in" name="TrackId" type="o"/>
   <arg direction="in" name="Position" type="x"/>
  </method>
  <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
  <signal name="Seeked"><arg name="Position" type="x"/></signal>
  <property name="PlaybackStatus" type="s" access="read"/>
  <property name="Rate" type="d" access="readwrite"/>
  <property name="Metadata" type="a{sv}" access="read"/>
  <property name="Volume" type="d" access="readwrite"/>
  <property name="Position" type="x" access="read">
   <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="false"/>
  </property>
  <property name="MinimumRate" type="d" access="read"/>
  <property name="MaximumRate" type="d" access="read"/>
  <property name="CanGoNext" type="b" access="read"/>
  <property name="CanGoPrevious" type="b" access="read"/>
  <property name="CanPlay" type="b" access="read"/>
  <property name="CanPause" type="b" access="read"/>
  <property name="CanSeek" type="b" access="read"/>
  <property name="CanControl" type="b" access="read"/>
 </interface>
</node>)";

constexpr const char* OBJECT_PATH = "/org/mpris/MediaPlayer2";
constexpr const char* ROOT_INTERFACE = "org.mpris.MediaPlayer2";
constexpr const char* PLAYER_INTERFACE = "org.mpris.MediaPlayer2.Player";
constexpr unsigned POLL_MS = 200;
// A position that moves this much more or less than the time that passed
// was a seek.
constexpr int64_t JUMP_US = 1000000;

struct Mpris {
    MprisHooks hooks;
    GDBusConnection* bus;
    GDBusNodeInfo* node;
    MprisState last;         // what the last announcement said
    int64_t last_wall_us;    // when last.position_us was read
    int seek_awaited;        // a seek of ours is being carried out
};

Mpris mpris;

MprisState read_state()
{
    MprisState s{};
    mpris.hooks.read_state(mpris.hooks.user, &s);
    return s;
}

GVariant* property_value(const MprisState& s, const char* name)
{
    if (GVariant* v = mpris_root_property(name))
        return v;
    if (strcmp(name, "PlaybackStatus") == 0)
        return g_variant_new_string(mpris_status_text(s.status));
    if (strcmp(name, "Metadata") == 0)
        return mpris_metadata(s);
    if (strcmp(name, "Position") == 0)
        return g_variant_new_int64(s.status == MPRIS_STOPPED ? 0 : s.position_us);
    if (strcmp(name, "Volume") == 0)
        return g_variant_new_double(s.volume / 100.0);
    if (strcmp(name, "Rate") == 0 || strcmp(name, "MinimumRate") == 0 || strcmp(name, "MaximumRate") == 0)
        return g_variant_new_double(1.0);
    const struct {
        const char* name;
        int32_t value;
    } flags[] = {{"CanGoNext", s.can_go_next}, {"CanGoPrevious", s.can_go_previous}, {"CanPlay", s.can_play},
                 {"CanPause", s.can_pause},    {"CanSeek", s.can_seek},             {"CanControl", 1}};
    for (const auto& f : flags)
        if (strcmp(name, f.name) == 0)
            return g_variant_new_boolean(f.value != 0);
    return nullptr;
}

// Announces what changed since the last announcement, and a seek as Seeked.
void announce_changes()
{
    if (!mpris.bus)
        return;
    MprisState now = read_state();
    int64_t wall_us = g_get_monotonic_time();
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    int count = 0;
    for (const char* name : mpris_changed_properties(mpris.last, now)) {
        if (!name)
            break;
        g_variant_builder_add(&changed, "{sv}", name, property_value(now, name));
        count++;
    }
    if (count) {
        g_dbus_connection_emit_signal(mpris.bus, nullptr, OBJECT_PATH, "org.freedesktop.DBus.Properties",
                                      "PropertiesChanged",
                                      g_variant_new("(sa{sv}as)", PLAYER_INTERFACE, &changed, nullptr), nullptr);
    } else {
        g_variant_builder_clear(&changed);
    }
    bool seeked = false;
    if (now.track == mpris.last.track && now.status != MPRIS_STOPPED) {
        if (mpris.seek_awaited)
            seeked = !now.seeking;
        else
            seeked = mpris_position_jumped(mpris.last, mpris.last_wall_us, now, wall_us, JUMP_US);
    }
    if (mpris.seek_awaited && (!now.seeking || now.track != mpris.last.track))
        mpris.seek_awaited = 0;
    if (seeked)
        g_dbus_connection_emit_signal(mpris.bus, nullptr, OBJECT_PATH, PLAYER_INTERFACE, "Seeked",
                                      g_variant_new("(x)", now.position_us), nullptr);
    mpris.last = now;
    mpris.last_wall_us = wall_us;
}

gboolean on_poll(gpointer)
{
    announce_changes();
    return G_SOURCE_CONTINUE;
}

// Every call's effect goes through here. A change the poll has not announced
// yet goes out first: a pause that undoes a start between two polls would
// otherwise leave both unannounced.
int act(int action, int64_t value = 0, const char* path = nullptr)
{
    announce_changes();
    int result = mpris.hooks.act(mpris.hooks.user, action, value, path);
    if (result == 0 && (action == MPRIS_SEEK_BY || action == MPRIS_SET_POSITION))
        mpris.seek_awaited = 1;
    return result;
}

void refuse(GDBusMethodInvocation* invocation, const char* error_name, const char* message)
{
    g_dbus_method_invocation_return_dbus_error(invocation, error_name, message);
}

void on_open_uri(GDBusMethodInvocation* invocation, const char* uri)
{
    char* path = mpris_path_of_uri(uri);
    if (!path) {
        refuse(invocation, "org.freedesktop.DBus.Error.InvalidArgs", "only local file URIs are supported");
        return;
    }
    int result = act(MPRIS_OPEN, 0, path);
    g_free(path);
    if (result != 0)
        refuse(invocation, "org.freedesktop.DBus.Error.InvalidArgs", "the file does not exist or cannot be added");
    else
        g_dbus_method_invocation_return_value(invocation, nullptr);
}

// Seek and SetPosition carry their own rules: no effect without seeking,
// a stale track or a position outside the track changes nothing.
void on_position_call(const char* method, GVariant* parameters, const MprisState& s)
{
    if (!s.can_seek)
        return;
    if (strcmp(method, "Seek") == 0) {
        int64_t offset = 0;
        g_variant_get(parameters, "(x)", &offset);
        act(MPRIS_SEEK_BY, offset);
        return;
    }
    const char* track = nullptr;
    int64_t position = 0;
    g_variant_get(parameters, "(&ox)", &track, &position);
    char current[64];
    mpris_track_path(s, current, sizeof current);
    if (strcmp(track, current) != 0 || position < 0 || position > s.length_us)
        return;
    act(MPRIS_SET_POSITION, position);
}

void on_method_call(GDBusConnection*, const char*, const char*, const char* interface, const char* method,
                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer)
{
    MprisState s = read_state();
    if (strcmp(method, "OpenUri") == 0) {
        const char* uri = nullptr;
        g_variant_get(parameters, "(&s)", &uri);
        on_open_uri(invocation, uri);
        announce_changes();
        return;
    }
    if (strcmp(method, "PlayPause") == 0 && !s.can_pause) {
        refuse(invocation, "org.freedesktop.DBus.Error.NotSupported", "there is nothing to play or pause");
        return;
    }
    const struct {
        const char* interface;
        const char* method;
        int action;
    } plain[] = {
        {ROOT_INTERFACE, "Raise", MPRIS_RAISE},        {ROOT_INTERFACE, "Quit", MPRIS_QUIT},
        {PLAYER_INTERFACE, "Play", MPRIS_PLAY},        {PLAYER_INTERFACE, "Pause", MPRIS_PAUSE},
        {PLAYER_INTERFACE, "PlayPause", MPRIS_PLAY_PAUSE}, {PLAYER_INTERFACE, "Stop", MPRIS_STOP},
        {PLAYER_INTERFACE, "Next", MPRIS_NEXT},        {PLAYER_INTERFACE, "Previous", MPRIS_PREVIOUS},
    };
    // The answer follows the action, so a client that has it sees the
    // effect (Quit only posts the close, which runs after the answer).
    bool done = false;
    for (const auto& p : plain) {
        if (!done && strcmp(interface, p.interface) == 0 && strcmp(method, p.method) == 0) {
            act(p.action);
            done = true;
        }
    }
    if (!done && (strcmp(method, "Seek") == 0 || strcmp(method, "SetPosition") == 0))
        on_position_call(method, parameters, s);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    // The process ends soon after a Quit: its answer leaves first.
    if (strcmp(method, "Quit") == 0)
        g_dbus_connection_flush_sync(mpris.bus, nullptr, nullptr);
    announce_changes();
}

GVariant* on_get_property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError** error,
                          gpointer)
{
    GVariant* v = property_value(read_state(), name);
    if (!v)
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
    return v;
}

gboolean on_set_property(GDBusConnection*, const char*, const char*, const char*, const char* name, GVariant* value,
                         GError** error, gpointer)
{
    double v = g_variant_get_double(value);
    if (std::isnan(v)) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "%s is not a number", name);
        return FALSE;
    }
    if (strcmp(name, "Volume") == 0) {
        act(MPRIS_SET_VOLUME, mpris_volume_level(v));
    } else if (v == 0.0) {
        // A rate of 0 asks for a pause.
        act(MPRIS_PAUSE);
    } else if (v != 1.0) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "the only rate is 1");
        return FALSE;
    }
    announce_changes();
    return TRUE;
}

const GDBusInterfaceVTable VTABLE = {on_method_call, on_get_property, on_set_property, {}};

void on_name_lost(GDBusConnection* bus, const char* name, gpointer)
{
    // A bus that went away (no connection here) is told once by on_bus_lost.
    if (!bus || g_dbus_connection_is_closed(bus))
        return;
    fprintf(stderr, "moravista: the media-player interface cannot have its name %s on the session bus\n", name);
}

void on_bus_lost(void*)
{
    mpris.bus = nullptr; // the poll announces nothing more
    bus_say_stopped("the desktop can no longer control the player");
}

void on_session_bus(GDBusConnection* bus, void*)
{
    if (!bus) {
        fputs("moravista: no session bus, so the screensaver is not held off and the desktop cannot control the "
              "player\n", stderr);
        return;
    }
    mpris.bus = bus;
    mpris.node = g_dbus_node_info_new_for_xml(INTROSPECTION, nullptr);
    for (int i = 0; mpris.node->interfaces[i]; i++)
        g_dbus_connection_register_object(bus, OBJECT_PATH, mpris.node->interfaces[i], &VTABLE, nullptr, nullptr,
                                          nullptr);
    mpris.last = read_state();
    mpris.last_wall_us = g_get_monotonic_time();
    char name[96];
    snprintf(name, sizeof name, "org.mpris.MediaPlayer2.moravista.instance%d", int(getpid()));
    g_bus_own_name_on_connection(bus, name, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, on_name_lost, nullptr, nullptr);
    bus_when_lost(BUS_SESSION, on_bus_lost, nullptr);
    g_timeout_add(POLL_MS, on_poll, nullptr);
}

} // namespace

void platform_mpris_announce(void*)
{
    announce_changes();
}

void platform_mpris_start(void* window, const MprisHooks* hooks)
{
    if (!window || !hooks || mpris.hooks.read_state)
        return;
    mpris.hooks = *hooks;
    bus_when_ready(BUS_SESSION, on_session_bus, nullptr);
}
