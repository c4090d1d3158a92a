// The player on the desktops people use, each on its own X server and
// session bus, started from the distribution's own packages: A openbox with
// an XEmbed tray and a notification daemon; B xfwm4 compositing with the
// xfce panel (its tray shows status notifier items) and its notification
// daemon; C metacity without a compositing manager, no tray, dunst; D
// weston's headless backend, the player through Xwayland. One scenario of
// the real program per desktop; every step's outcome goes into a table
// (build/desktop_matrix/<desktop>.txt), and MV_TRAY_ROUNDS=10 measures the
// way to the tray and back ten times. Sanitizer builds run desktop A alone.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop.h"
#include "support/fixtures.h"
#include "support/stress.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;
using Clock = std::chrono::steady_clock;

enum DesktopKind { OPENBOX_TRAYER, XFCE_COMPOSITED, METACITY_BARE, WESTON_XWAYLAND };

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto end = Clock::now() + timeout * TIME_SCALE;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

class DesktopMatrix : public DesktopTest {
protected:
    // ---- the table ----
    void step(const std::string& name, bool passed, const std::string& detail = "")
    {
        rows.push_back(name + ": " + (passed ? "pass" : "FAIL") + (detail.empty() ? "" : " (" + detail + ")"));
        EXPECT_TRUE(passed) << name << " " << detail << "\n" << stderr_text();
    }
    void not_run(const std::string& name, const std::string& why) { rows.push_back(name + ": not run (" + why + ")"); }
    // A step that needs what the desktop lacks (limit non-empty): what was
    // seen goes into the table as not run, with the reason, instead of a failure.
    void step_unless(const std::string& limit, const std::string& name, bool passed, const std::string& detail = "")
    {
        if (!passed && !limit.empty())
            not_run(name, limit + (detail.empty() ? "" : "; " + detail));
        else
            step(name, passed, detail);
    }
    void write_table(const char* desktop)
    {
        mkdir("desktop_matrix", 0755);
        std::ofstream out(std::string("desktop_matrix/") + desktop + ".txt");
        for (const std::string& row : rows) {
            out << row << "\n";
            printf("[%s] %s\n", desktop, row.c_str());
        }
    }

    // ---- the desktop ----
    bool root_has(const char* property)
    {
        return on_display(std::string("xprop -root ") + property + " 2>/dev/null").find("window id") !=
               std::string::npos;
    }
    bool bus_name_owned(const char* name)
    {
        return on_display(std::string("gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m "
                                      "org.freedesktop.DBus.NameHasOwner ") + name + " 2>&1")
                   .find("true") != std::string::npos;
    }
    bool sni_host_registered()
    {
        return on_display("gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m "
                          "org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "
                          "IsStatusNotifierHostRegistered 2>&1")
                   .find("true") != std::string::npos;
    }
    std::string registered_items()
    {
        return on_display("gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m "
                          "org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "
                          "RegisteredStatusNotifierItems 2>&1");
    }
    bool window_manager_up() { return root_has("_NET_SUPPORTING_WM_CHECK"); }
    bool xembed_tray_up()
    {
        return !on_display("xdotool search --class trayer 2>/dev/null").empty() &&
               selection_owned("_NET_SYSTEM_TRAY_S0");
    }
    bool selection_owned(const char* name)
    {
        Display* d = XOpenDisplay(display.c_str());
        if (!d)
            return false;
        bool owned = XGetSelectionOwner(d, XInternAtom(d, name, False)) != None;
        XCloseDisplay(d);
        return owned;
    }

    // Starts the desktop; false (with the reason) when it cannot run here.
    bool start_desktop(DesktopKind kind, std::string* why)
    {
        start_session_bus();
        if (kind == OPENBOX_TRAYER) {
            start_window_manager();
            tray = spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                          "--height", "32"});
            notifier = spawn({"/usr/lib/notification-daemon/notification-daemon"});
            notifier_class = "notification-daemon";
            return wait_until([&] { return xembed_tray_up() && bus_name_owned("org.freedesktop.Notifications"); },
                              10s) ||
                   (*why = "trayer or notification-daemon did not start", false);
        }
        if (kind == XFCE_COMPOSITED) {
            write_panel_config();
            spawn({"xfwm4", "--compositor=on", "--vblank=off"});
            if (!wait_until([&] { return window_manager_up() && selection_owned("_NET_WM_CM_S0"); }, 10s))
                return *why = "xfwm4 did not start compositing", false;
            tray = spawn({"xfce4-panel", "--disable-wm-check"});
            notifier = spawn({"/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"});
            notifier_class = "xfce4-notifyd";
            return wait_until([&] { return sni_host_registered() && bus_name_owned("org.freedesktop.Notifications"); },
                              15s) ||
                   (*why = "the panel's tray or xfce4-notifyd did not start", false);
        }
        if (kind == METACITY_BARE) {
            spawn({"metacity", "--sm-disable", "--compositor=none"});
            notifier = spawn({"dunst"});
            notifier_class = "Dunst";
            return wait_until([&] { return window_manager_up() && bus_name_owned("org.freedesktop.Notifications"); },
                              10s) ||
                   (*why = "metacity or dunst did not start", false);
        }
        return start_weston(why);
    }

    void write_panel_config()
    {
        std::string folder = dir + "/config/xfce4/xfconf/xfce-perchannel-xml";
        system(("mkdir -p '" + folder + "'").c_str());
        std::ofstream(folder + "/xfce4-panel.xml")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel name=\"xfce4-panel\" version=\"1.0\">\n"
               "<property name=\"configver\" type=\"int\" value=\"2\"/>\n"
               "<property name=\"panels\" type=\"array\"><value type=\"int\" value=\"1\"/>\n"
               "<property name=\"panel-1\" type=\"empty\">\n"
               "<property name=\"position\" type=\"string\" value=\"p=6;x=0;y=0\"/>\n"
               "<property name=\"position-locked\" type=\"bool\" value=\"true\"/>\n"
               "<property name=\"length\" type=\"uint\" value=\"100\"/>\n"
               "<property name=\"size\" type=\"uint\" value=\"30\"/>\n"
               "<property name=\"plugin-ids\" type=\"array\"><value type=\"int\" value=\"1\"/></property>\n"
               "</property></property>\n"
               "<property name=\"plugins\" type=\"empty\"><property name=\"plugin-1\" type=\"string\" "
               "value=\"systray\"/></property>\n</channel>\n";
        environment.push_back("XDG_CONFIG_HOME=" + dir + "/config");
        // The settings service the panel reads starts on the bus's behalf.
        on_display("dbus-update-activation-environment 'XDG_CONFIG_HOME=" + dir + "/config'");
    }

    // Weston without a screen of its own, running Xwayland for X clients;
    // the display is the one it names in its log.
    bool start_weston(std::string* why)
    {
        std::string runtime = dir + "/wayland";
        mkdir(runtime.c_str(), 0700);
        environment.push_back("XDG_RUNTIME_DIR=" + runtime);
        std::string log = dir + "/weston.log";
        spawn({"sh", "-c",
               "exec weston --backend=headless-backend.so --use-pixman --xwayland --socket=moravista-test "
               "--width=1280 --height=1024 --idle-time=0 --log='" + log + "'"});
        std::string number;
        wait_until(
            [&] {
                std::string text = read_file(log);
                size_t at = text.find("xserver listening on display :");
                if (at == std::string::npos)
                    return false;
                number = std::to_string(atoi(text.c_str() + at + 30));
                return true;
            },
            10s);
        if (number.empty())
            return *why = "weston did not start Xwayland: " + read_file(log).substr(0, 300), false;
        display = ":" + number;
        return true;
    }

    // ---- the player ----
    std::string playerctl(const std::string& args) { return on_display("playerctl -p moravista " + args + " 2>&1"); }
    bool status_is(const char* want)
    {
        return wait_until([&] { return playerctl("status").find(want) != std::string::npos; }, 5s);
    }
    std::string states(unsigned long w)
    {
        return on_display("xprop -id " + std::to_string(w) + " _NET_WM_STATE WM_STATE 2>/dev/null");
    }
    bool viewable(unsigned long w)
    {
        return on_display("xwininfo -id " + std::to_string(w) + " 2>/dev/null").find("IsViewable") !=
               std::string::npos;
    }
    bool same(const Geometry& a, const Geometry& b)
    {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
    // The keyboard focus is the window or inside it.
    bool has_focus(unsigned long window)
    {
        Display* d = XOpenDisplay(display.c_str());
        if (!d)
            return false;
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        bool inside = false;
        for (int depth = 0; depth < 8 && focus > PointerRoot && !inside; depth++) {
            inside = focus == window;
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(d, focus, &root, &parent, &children, &count))
                break;
            if (children)
                XFree(children);
            focus = parent;
        }
        XCloseDisplay(d);
        return inside;
    }
    // Keys reach the player: Space toggles the playback.
    bool takes_keys(unsigned long window)
    {
        if (!wait_until([&] { return has_focus(window); }, 5s))
            return false;
        bool playing = playerctl("status").find("Playing") != std::string::npos;
        on_display("xdotool key space");
        bool toggled = status_is(playing ? "Paused" : "Playing");
        on_display("xdotool key space");
        return toggled && status_is(playing ? "Playing" : "Paused");
    }
    unsigned long clock_window()
    {
        return strtoul(on_display("xdotool search --classname moravista-clock 2>/dev/null").c_str(), nullptr, 10);
    }
    int bounding_rectangles(unsigned long w)
    {
        Display* d = XOpenDisplay(display.c_str());
        if (!d)
            return -1;
        int count = -1, ordering = 0;
        XRectangle* r = XShapeGetRectangles(d, w, ShapeBounding, &count, &ordering);
        if (r)
            XFree(r);
        XCloseDisplay(d);
        return count;
    }
    // The pop-up menu the player shows (GTK names it after the program).
    bool menu_shown()
    {
        std::istringstream out(on_display("xdotool search --onlyvisible --name '^moravista$' 2>/dev/null"));
        for (unsigned long id; out >> id;)
            if (geometry(id).height > 40)
                return true;
        return false;
    }
    // The player's XEmbed icon: its other viewable window, inside a tray.
    unsigned long xembed_icon(unsigned long window)
    {
        std::istringstream ids(on_display("xdotool search --onlyvisible --class Moravista 2>/dev/null"));
        for (unsigned long id; ids >> id;)
            if (id != window && geometry(id).width >= 8)
                return id;
        return 0;
    }
    bool notice_popup() { return !on_display("xdotool search --onlyvisible --class " + notifier_class).empty(); }
    // --sync waits 15 s where the pointer already stands: one pixel aside first.
    void click_at(int x, int y)
    {
        on_display("xdotool mousemove_relative 1 1 mousemove --sync " + std::to_string(x) + " " + std::to_string(y) +
                   " click 1");
    }
    // The panel's button of the player's item: where the icon's green
    // triangle shows in the panel along the top edge.
    bool panel_icon_at(int* x, int* y)
    {
        std::string panel = screenshot({0, 0, 1280, 30});
        int left = 1280, right = -1, green = 0;
        for (size_t i = 0; i + 2 < panel.size(); i += 3) {
            int r = uint8_t(panel[i]), g = uint8_t(panel[i + 1]), b = uint8_t(panel[i + 2]);
            if (g > 150 && r < 100 && b < 100) {
                left = std::min(left, int(i / 3 % 1280));
                right = std::max(right, int(i / 3 % 1280));
                green++;
            }
        }
        *x = (left + right) / 2;
        *y = 15;
        return green > 4 && right - left < 40;
    }
    // The share of the box that is near black: the clock's old opaque box
    // was nearly all black; the picture below is not.
    static double black_share(const std::string& rgb)
    {
        size_t black = 0, pixels = rgb.size() / 3;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3)
            black += std::max({uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2])}) < 24;
        return pixels ? double(black) / double(pixels) : 1;
    }
    static size_t green_pixels(const std::string& rgb)
    {
        size_t n = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            int r = uint8_t(rgb[i]), g = uint8_t(rgb[i + 1]), b = uint8_t(rgb[i + 2]);
            n += g > 150 && r < 90 && b < 90;
        }
        return n;
    }
    // A clip that fills a 5:4 screen (no black bars under the clock).
    std::string full_clip()
    {
        std::string path = dir + "/screen.mp4";
        system(("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=640x512:rate=25:duration=30 -f lavfi -i "
                "sine=duration=30 -c:v libx264 -preset ultrafast -g 25 -c:a aac -y '" + path + "'").c_str());
        return path;
    }

    void run_scenario(DesktopKind kind, const char* name);

    std::vector<std::string> rows;
    pid_t tray = -1, notifier = -1;
    std::string notifier_class;
};

void DesktopMatrix::run_scenario(DesktopKind kind, const char* name)
{
    std::string why;
    if (!start_desktop(kind, &why)) {
        not_run("the whole scenario", why);
        write_table(name);
        if (kind == WESTON_XWAYLAND)
            GTEST_SKIP() << why;
        FAIL() << why;
    }
    const bool has_tray = kind == OPENBOX_TRAYER || kind == XFCE_COMPOSITED;
    const bool x_server_image = kind != WESTON_XWAYLAND; // rootless Xwayland has no screen image to read
    std::ofstream(dir + "/moravista.ini", std::ios::binary) << std::string("\xFF\xFE", 2) << [] {
        std::string out;
        for (const char* s = "[Moravista]\r\nleft=200\r\ntop=150\r\nright=840\r\nbottom=662\r\n"; *s; s++)
            out += std::string{*s, '\0'};
        return out;
    }();
    std::string clip = full_clip();
    start_player({"--audio=null", clip});
    unsigned long window = find_window();
    step("starts with a file and plays", window != 0 && status_is("Playing"));
    if (!window) {
        write_table(name);
        return;
    }
    Geometry windowed = geometry(window);
    // Weston's headless backend has no keyboard: no X window gets the focus,
    // XTEST keys go to the window under the pointer; its shell places X
    // windows itself.
    std::string no_focus, no_placing;
    bool on_top = false;
    int rounds = getenv("MV_TRAY_ROUNDS") ? std::max(1, atoi(getenv("MV_TRAY_ROUNDS"))) : 1;
    std::vector<double> to_icon, to_keys;
    if (kind == WESTON_XWAYLAND) {
        if (!wait_until([&] { return has_focus(window); }, 2s))
            no_focus = "weston's headless backend has no input seat: no X window gets the keyboard focus, and a "
                       "pointer moved through XTEST ends Xwayland";
        no_placing = "weston's shell places X windows itself";
    }

    // Keys: Space pauses and plays, Right seeks, Up turns the volume up.
    bool keys = no_focus.empty() ? takes_keys(window) : true; // Space needs the focus; Right and Down below do not
    double before = atof(playerctl("position").c_str());
    on_display("xdotool key Right");
    bool seeked = wait_until([&] { return atof(playerctl("position").c_str()) > before + 3; }, 5s);
    std::string volume = playerctl("volume");
    on_display("xdotool key Down");
    bool quieter = wait_until([&] { return playerctl("volume") != volume; }, 5s);
    step(no_focus.empty() ? "Space, Right and the volume keys act" : "Right and the volume keys act (pointer focus)",
         keys && seeked && quieter, std::string(keys ? "" : "space ") + (seeked ? "" : "right ") + (quieter ? "" : "volume"));

    // Full screen with the time in the corner, then the exact rectangle back.
    on_display("xdotool key Return");
    bool full = wait_until([&] { return same(geometry(window), {0, 0, 1280, 1024}); }, 5s);
    unsigned long overlay = 0;
    bool clock = wait_until([&] { return (overlay = clock_window()) != 0 && viewable(overlay); }, 3s);
    if (clock && x_server_image) {
        std::this_thread::sleep_for(1100ms); // the next second's digits, drawn over the picture
        Geometry box = geometry(overlay);
        std::string pixels = screenshot(box);
        bool composited = selection_owned("_NET_WM_CM_S0");
        int parts = bounding_rectangles(overlay);
        double black = black_share(pixels);
        step("the clock in full screen covers only its digits",
             green_pixels(pixels) > 15 && black < 0.3 && (composited || parts > 4),
             std::string(composited ? "composited" : "shaped to ") + (composited ? "" : std::to_string(parts) + " runs") +
                 ", black share " + std::to_string(black).substr(0, 4));
    } else if (clock) {
        not_run("the clock in full screen covers only its digits",
                "rootless Xwayland keeps no screen image to sample; the overlay shows");
    } else {
        step("the clock in full screen covers only its digits", false, "no clock window");
    }
    on_display("xdotool key Return");
    bool back = wait_until([&] { return same(geometry(window), windowed); }, 5s);
    Geometry now = geometry(window);
    step_unless(no_placing, "full screen and back to the exact rectangle", full && back,
                "full " + std::string(full ? "yes" : "no") + ", back at " + std::to_string(now.x) + "," +
                    std::to_string(now.y) + " " + std::to_string(now.width) + "x" + std::to_string(now.height));

    // The context menu's "总在最前面": always on top.
    Geometry g = geometry(window);
    if (!no_focus.empty()) {
        not_run("the context menu opens and its item acts (always on top)", no_focus);
        not_run("always on top, the open dialog cancelled, Space still pauses", no_focus);
        not_run("hidden and back, a notice while hidden", no_focus);
    } else {
    on_display("xdotool mousemove_relative 1 1 mousemove --sync " + std::to_string(g.x + g.width / 2) + " " +
               std::to_string(g.y + g.height / 2) + " click 3");
    bool menu = wait_until([&] { return menu_shown(); }, 5s);
    on_display("xdotool key End Up Right Return");
    on_top = wait_until([&] { return states(window).find("_NET_WM_STATE_ABOVE") != std::string::npos; }, 5s);
    step_unless(no_focus, "the context menu opens and its item acts (always on top)", menu && on_top,
                menu ? "menu shown" : "no menu");

    // The open dialog, cancelled: the keys come back to the player.
    on_display("xdotool key o");
    bool dialog = !on_display("timeout " + std::to_string(10 * TIME_SCALE) +
                              " xdotool search --sync --onlyvisible --name '打开文件' 2>/dev/null")
                       .empty();
    on_display("xdotool key Escape");
    step_unless(no_focus, "always on top, the open dialog cancelled, Space still pauses",
                dialog && takes_keys(window), dialog ? "dialog shown" : "no dialog");

    // Hidden and back, and a notice while hidden, as often as asked.
    bool hidden_ok = true, back_ok = true, notice_ok = true;
    for (int round = 0; round < rounds; round++) {
        on_display("xdotool key Escape");
        auto asked = Clock::now();
        int icon_x = 0, icon_y = 0;
        bool hidden;
        if (kind == OPENBOX_TRAYER) {
            unsigned long icon = 0;
            hidden = wait_until([&] { return !viewable(window) && (icon = xembed_icon(window)) != 0; }, 5s);
            Geometry ig = geometry(icon);
            icon_x = ig.x + ig.width / 2;
            icon_y = ig.y + ig.height / 2;
        } else if (kind == XFCE_COMPOSITED) {
            hidden = wait_until([&] {
                return !viewable(window) && registered_items().find("StatusNotifierItem-") != std::string::npos &&
                       panel_icon_at(&icon_x, &icon_y);
            }, 5s);
        } else {
            hidden = wait_until([&] { return states(window).find("Iconic") != std::string::npos; }, 5s);
        }
        to_icon.push_back(ms_since(asked));
        hidden_ok &= hidden;
        // A notice while hidden: the balloon reaches the notification service;
        // where the window was only minimised, the notice stays on the OSD.
        if (round == 0) {
            playerctl("volume 0.5");
            bool popup = wait_until([&] { return notice_popup(); }, has_tray ? 5s : 1500ms);
            notice_ok = has_tray ? popup : !popup;
        }
        auto clicked = Clock::now();
        if (has_tray)
            click_at(icon_x, icon_y);
        else
            on_display("xdotool windowactivate " + std::to_string(window)); // from the task list
        bool returned = wait_until([&] { return viewable(window) && has_focus(window); }, 5s);
        to_keys.push_back(ms_since(clicked));
        if (has_tray) // off the icon, whose tip would show over it when it comes again
            on_display("xdotool mousemove 640 1000");
        back_ok &= returned && (round > 0 || takes_keys(window));
    }
    step_unless(no_focus, has_tray ? "hidden: the tray host shows the icon" : "hidden without a tray: minimised", hidden_ok,
         "median " + std::to_string(int(median(to_icon))) + " ms of " + std::to_string(rounds));
    step(has_tray ? "a notice while hidden reaches the notification service"
                  : "a notice while minimised stays on the OSD (no balloon)",
         notice_ok);
    step_unless(no_focus, "back from the tray or the task list, the window takes keys", back_ok,
         "median " + std::to_string(int(median(to_keys))) + " ms of " + std::to_string(rounds));

    }

    if (kind == OPENBOX_TRAYER) {
        // Bad input: the tray dies while the window is hidden, the window
        // manager is replaced mid-play, the session bus goes away.
        on_display("xdotool key Escape");
        bool in_tray = wait_until([&] { return !viewable(window) && xembed_icon(window) != 0; }, 5s);
        kill(tray, SIGKILL);
        step("the tray host crashes while hidden: the window comes back",
             in_tray && wait_until([&] { return viewable(window); }, 5s));
        std::string first = on_display("xprop -root _NET_SUPPORTING_WM_CHECK");
        spawn({"openbox", "--replace", "--sm-disable"});
        bool replaced = wait_until([&] { return window_manager_up() && on_display("xprop -root _NET_SUPPORTING_WM_CHECK") != first; }, 5s);
        bool stays = wait_until([&] { return viewable(window); }, 5s);
        // The new window manager focuses nothing by itself: the user picks the
        // window, again if the manager was still taking the windows over.
        bool keys_after = false;
        for (int attempt = 0; attempt < 5 && !keys_after; attempt++) {
            on_display("xdotool windowactivate " + std::to_string(window));
            keys_after = wait_until([&] { return has_focus(window); }, 1s) && takes_keys(window);
        }
        step("the window manager replaced mid-play: the window stays and takes keys", replaced && stays && keys_after,
             std::string(replaced ? "" : "not replaced ") + (stays ? "" : "window gone ") + (keys_after ? "" : "no keys"));
        for (pid_t bus : bus_pids)
            kill(bus, SIGTERM);
        bus_pids.clear();
        std::string before_pixels = screenshot({windowed.x, windowed.y, 64, 64});
        bool playing_on = wait_until([&] { return screenshot(geometry(window)) != before_pixels; }, 3s);
        std::this_thread::sleep_for(500ms);
        std::string text = stderr_text();
        size_t lines = 0;
        for (size_t at = 0; (at = text.find("the session bus went away", at)) != std::string::npos; at++)
            lines++;
        step("the session bus killed mid-play: it plays on, each service says once it stopped",
             kill(player, 0) == 0 && playing_on && lines >= 3 && lines <= 6, std::to_string(lines) + " lines");
    }

    // Close: within a second, code 0, the settings written.
    // Timed from the close message gone out (the script's own start takes long).
    on_display("python3 '" MV_SOURCE_DIR "/tests/window/wm_close.py' " + std::to_string(window));
    auto asked = Clock::now();
    int status = wait_exit(player, 5s * TIME_SCALE);
    double close_ms = ms_since(asked);
    if (status != -1)
        player = -1;
    std::string settings = settings_text();
    step("close exits 0 within a second with the settings written",
         status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && close_ms < 1000.0 * TIME_SCALE &&
             settings.find(on_top ? "总在最前=1\r\n" : "left=") != std::string::npos,
         std::to_string(int(close_ms)) + " ms, status " + std::to_string(status));
    std::string text = stderr_text();
    bool quiet = text.find("CRITICAL") == std::string::npos && text.find("WARNING") == std::string::npos &&
                 text.find("-WARNING") == std::string::npos && text.find("Gtk-") == std::string::npos &&
                 text.find("GLib-") == std::string::npos;
    step("stderr holds no toolkit criticals or warnings", quiet);
    write_table(name);
    for (size_t i = 0; rounds > 1 && i < to_icon.size(); i++)
        printf("[%s] round %zu: %.0f ms, %.0f ms\n", name, i, to_icon[i], to_keys[i]);
    if (rounds > 1)
        printf("[%s] figures: hide request to icon seen %.0f ms, tray click to keys %.0f ms (medians of %d)\n", name,
               median(to_icon), median(to_keys), rounds);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZED_SKIP() GTEST_SKIP() << "sanitizer builds run desktop A only"
#else
#define SANITIZED_SKIP() (void)0
#endif

TEST_F(DesktopMatrix, a_openbox_with_an_xembed_tray_and_notification_daemon)
{
    run_scenario(OPENBOX_TRAYER, "A-openbox-trayer");
}

TEST_F(DesktopMatrix, b_xfwm4_compositing_with_the_xfce_panel_tray_and_notifyd)
{
    SANITIZED_SKIP();
    run_scenario(XFCE_COMPOSITED, "B-xfwm4-panel");
}

TEST_F(DesktopMatrix, c_metacity_without_compositor_or_tray_with_dunst)
{
    SANITIZED_SKIP();
    run_scenario(METACITY_BARE, "C-metacity-dunst");
}

TEST_F(DesktopMatrix, d_weston_headless_through_xwayland)
{
    SANITIZED_SKIP();
    run_scenario(WESTON_XWAYLAND, "D-weston-xwayland");
}

} // namespace
