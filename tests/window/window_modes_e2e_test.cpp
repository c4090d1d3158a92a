// Window modes, always on top, the tray and the clock overlay of the real
// program on a private desktop: Xvfb with openbox, a dock that keeps the work
// area smaller than the screen, a private session bus with a test
// StatusNotifierWatcher and notification server, or an XEmbed tray.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop.h"
#include "support/stress.h"
#include "support/fixtures.h"
#include "window/bus_services.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::string utf16le_file(const char* lines)
{
    std::string bytes("\xFF\xFE", 2);
    std::string text = lines;
    // The settings file's text is ASCII here except for its keys, given as UTF-8.
    gunichar2* units = g_utf8_to_utf16(text.c_str(), -1, nullptr, nullptr, nullptr);
    for (gunichar2* u = units; *u; u++)
        bytes += std::string{char(*u & 0xFF), char(*u >> 8)};
    g_free(units);
    return bytes;
}

class ModesDesktop : public DesktopTest {
protected:
    void write_settings(const char* lines)
    {
        std::ofstream(dir + "/moravista.ini", std::ios::binary) << utf16le_file(lines);
    }

    std::string id_of(unsigned long window) { return std::to_string(window); }
    std::string states(unsigned long window) { return on_display("xprop -id " + id_of(window) + " _NET_WM_STATE"); }
    bool viewable(unsigned long window)
    {
        return on_display("xwininfo -id " + id_of(window)).find("IsViewable") != std::string::npos;
    }
    void request(unsigned long window, const std::string& args)
    {
        on_display("python3 '" MV_SOURCE_DIR "/tests/window/wm_state.py' " + id_of(window) + " " + args);
    }
    bool geometry_becomes(unsigned long window, Geometry want, std::chrono::milliseconds timeout = 5s)
    {
        return wait_until(
            [&] {
                Geometry g = geometry(window);
                return g.x == want.x && g.y == want.y && g.width == want.width && g.height == want.height;
            },
            timeout);
    }
    std::string describe(unsigned long window)
    {
        Geometry g = geometry(window);
        return std::to_string(g.x) + "," + std::to_string(g.y) + " " + std::to_string(g.width) + "x" +
               std::to_string(g.height) + "; " + states(window);
    }

    // A window of another program at x, y; as a dock (a panel along the
    // bottom edge that reserves its height of the screen) or a plain one
    // named "cover".
    pid_t start_other_window(int x, int y, int width, int height, bool dock)
    {
        std::string name = display;
        pid_t pid = fork();
        if (pid == 0) {
            Display* d = XOpenDisplay(name.c_str());
            if (!d)
                _exit(1);
            Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, unsigned(width), unsigned(height), 0, 0,
                                           0x303030);
            if (dock) {
                Atom dock_type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DOCK", False);
                XChangeProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&dock_type), 1);
                long strut[12] = {0, 0, 0, height, 0, 0, 0, 0, 0, 0, 0, x + width - 1};
                XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                                PropModeReplace, reinterpret_cast<unsigned char*>(strut), 12);
            } else {
                XStoreName(d, w, "cover");
                XSizeHints hints{};
                hints.flags = USPosition | USSize;
                hints.x = x;
                hints.y = y;
                hints.width = width;
                hints.height = height;
                XSetWMNormalHints(d, w, &hints);
            }
            XMapWindow(d, w);
            XFlush(d);
            for (;;)
                pause();
        }
        helpers.push_back(pid);
        return pid;
    }
    pid_t start_dock(int height) { return start_other_window(0, 1024 - height, 1280, height, true); }
    // The children of the root window from the bottom up; the top-level
    // ancestor of w stands for w.
    int stacking_place(unsigned long w)
    {
        Display* d = XOpenDisplay(display.c_str());
        if (!d)
            return -1;
        Window root = DefaultRootWindow(d), r = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        for (int depth = 0; depth < 8 && XQueryTree(d, w, &r, &parent, &children, &count); depth++) {
            if (children)
                XFree(children);
            if (parent == root || parent == 0)
                break;
            w = parent;
        }
        int place = -1;
        if (XQueryTree(d, root, &r, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; i++)
                if (children[i] == w)
                    place = int(i);
            if (children)
                XFree(children);
        }
        XCloseDisplay(d);
        return place;
    }
    void stop_helper(pid_t pid)
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        helpers.erase(std::remove(helpers.begin(), helpers.end(), pid), helpers.end());
    }
    bool work_area_is(const char* area)
    {
        return wait_until([&] { return on_display("xprop -root _NET_WORKAREA").find(area) != std::string::npos; }, 5s);
    }

    // The clock overlay's window, once one exists.
    unsigned long clock_window()
    {
        std::string out = on_display("xdotool search --classname moravista-clock 2>/dev/null");
        return strtoul(out.c_str(), nullptr, 10);
    }
    int input_shape_rectangles(unsigned long window)
    {
        Display* d = XOpenDisplay(display.c_str());
        if (!d)
            return -1;
        int count = -1, ordering = 0;
        XRectangle* rects = XShapeGetRectangles(d, window, ShapeInput, &count, &ordering);
        if (rects)
            XFree(rects);
        XCloseDisplay(d);
        return count;
    }
    static size_t green_pixels(const std::string& rgb)
    {
        size_t n = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            int r = uint8_t(rgb[i]), g = uint8_t(rgb[i + 1]), b = uint8_t(rgb[i + 2]);
            if (g > 40 && g > r + 25 && g > b + 25)
                n++;
        }
        return n;
    }
    // Two copies of the 3 s clip under their own names, and the 10 s one.
    // The player with always on top from its settings, playing args; its
    // window once it is kept off the task bar, or 0.
    unsigned long start_on_top(const std::vector<std::string>& args)
    {
        write_settings("[Moravista]\r\n总在最前=1\r\n");
        start_player(args);
        unsigned long window = find_window();
        if (window && !wait_until([&] { return states(window).find("SKIP_TASKBAR") != std::string::npos; }, 5s))
            return 0;
        return window;
    }
    // The arguments of a list of a 3 s clip and the 10 s one.
    std::vector<std::string> short_then_long()
    {
        std::string a = dir + "/a.mp4";
        system(("cp '" + fixture_path("h264_aac.mp4") + "' '" + a + "'").c_str());
        return {"--audio=null", a, fixture_path("av_sync.mp4")};
    }
};

TEST_F(ModesDesktop, full_screen_and_maximise_requests_take_the_players_geometry_and_give_back_the_exact_rectangle)
{
    start_window_manager();
    pid_t dock = start_dock(40);
    ASSERT_TRUE(work_area_is("0, 0, 1280, 984")) << on_display("xprop -root _NET_WORKAREA _NET_CLIENT_LIST");
    write_settings("[Moravista]\r\nleft=100\r\ntop=80\r\nright=740\r\nbottom=440\r\n");
    start_player({"--audio=null", fixture_path("av_sync.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    const Geometry windowed{100, 80, 640, 360};
    ASSERT_TRUE(geometry_becomes(window, windowed)) << describe(window);

    request(window, "add FULLSCREEN");
    EXPECT_TRUE(geometry_becomes(window, {0, 0, 1280, 1024})) << describe(window);
    EXPECT_NE(states(window).find("_NET_WM_STATE_FULLSCREEN"), std::string::npos);
    request(window, "remove FULLSCREEN");
    EXPECT_TRUE(geometry_becomes(window, windowed)) << describe(window);
    EXPECT_EQ(states(window).find("_NET_WM_STATE_FULLSCREEN"), std::string::npos);

    // The maximise of the window manager: the work area, not its own maximised state.
    request(window, "add MAXIMIZED_VERT MAXIMIZED_HORZ");
    EXPECT_TRUE(geometry_becomes(window, {0, 0, 1280, 984})) << describe(window);
    EXPECT_EQ(states(window).find("MAXIMIZED"), std::string::npos) << states(window);
    // A taller panel: the mode follows the work area.
    stop_helper(dock);
    dock = start_dock(60);
    EXPECT_TRUE(geometry_becomes(window, {0, 0, 1280, 964})) << describe(window);
    request(window, "add MAXIMIZED_VERT MAXIMIZED_HORZ");
    EXPECT_TRUE(geometry_becomes(window, windowed)) << describe(window);

    // In a mode, the settings keep the windowed rectangle.
    request(window, "add FULLSCREEN");
    ASSERT_TRUE(geometry_becomes(window, {0, 0, 1280, 1024})) << describe(window);
    int status = terminate_player();
    ASSERT_NE(status, -1);
    std::string text = settings_text();
    for (const char* line : {"left=100\r\n", "top=80\r\n", "right=740\r\n", "bottom=440\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST_F(ModesDesktop, always_on_top_from_the_settings_keeps_the_window_above_and_off_the_task_bar_but_in_the_work_area)
{
    start_window_manager();
    write_settings("[Moravista]\r\n总在最前=1\r\n");
    start_player({"--audio=null", fixture_path("av_sync.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    auto has = [&](const char* state) { return states(window).find(state) != std::string::npos; };
    EXPECT_TRUE(wait_until([&] { return has("_NET_WM_STATE_ABOVE") && has("_NET_WM_STATE_SKIP_TASKBAR"); }, 5s))
        << states(window);
    request(window, "add MAXIMIZED_VERT MAXIMIZED_HORZ");
    EXPECT_TRUE(wait_until([&] { return !has("_NET_WM_STATE_ABOVE") && !has("_NET_WM_STATE_SKIP_TASKBAR"); }, 5s))
        << states(window);
    request(window, "add MAXIMIZED_VERT MAXIMIZED_HORZ");
    EXPECT_TRUE(wait_until([&] { return has("_NET_WM_STATE_ABOVE") && has("_NET_WM_STATE_SKIP_TASKBAR"); }, 5s))
        << states(window);
    ASSERT_NE(terminate_player(), -1);
    EXPECT_NE(settings_text().find("总在最前=1\r\n"), std::string::npos) << settings_text();
}

TEST_F(ModesDesktop, in_full_screen_the_time_shows_top_right_in_a_click_through_overlay_that_leaves_with_the_mode)
{
    start_window_manager();
    start_player({"--audio=null", fixture_path("av_sync.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    request(window, "add FULLSCREEN");
    auto entered = std::chrono::steady_clock::now();
    unsigned long overlay = 0;
    ASSERT_TRUE(wait_until([&] { return (overlay = clock_window()) != 0 && viewable(overlay); }, 2200ms * TIME_SCALE))
        << "no clock within 2.2 s";
    EXPECT_LT(std::chrono::steady_clock::now() - entered, 2200ms * TIME_SCALE);
    Geometry g = geometry(overlay);
    EXPECT_GE(g.x + g.width, 1280 - 6) << "right-aligned";
    EXPECT_LE(g.x + g.width, 1280);
    EXPECT_LT(g.y, 20);
    EXPECT_LT(g.width, 400);
    std::string info = on_display("xwininfo -id " + id_of(overlay));
    EXPECT_NE(info.find("Override Redirect State: yes"), std::string::npos) << info;
    EXPECT_NE(info.find("Depth: 32"), std::string::npos) << info;
    EXPECT_EQ(input_shape_rectangles(overlay), 0) << "clicks must pass through";
    std::string first = screenshot(g);
    EXPECT_GT(green_pixels(first), 30u) << "no green time in the corner";
    // The time moves on once a second.
    EXPECT_TRUE(wait_until([&] { return screenshot(geometry(overlay)) != first; }, 2500ms * TIME_SCALE));

    // Just above the player: another program's window in front of it covers the time too.
    EXPECT_EQ(stacking_place(overlay), stacking_place(window) + 1);
    start_other_window(980, 0, 300, 200, false);
    unsigned long cover = 0;
    ASSERT_TRUE(wait_until(
        [&] { return (cover = strtoul(on_display("xdotool search --name '^cover$'").c_str(), nullptr, 10)) != 0; },
        5s));
    EXPECT_TRUE(wait_until([&] { return stacking_place(overlay) < stacking_place(cover); }, 2500ms))
        << stacking_place(overlay) << " " << stacking_place(cover);
    EXPECT_EQ(stacking_place(overlay), stacking_place(window) + 1);

    request(window, "remove FULLSCREEN");
    EXPECT_TRUE(wait_until([&] { return !viewable(overlay); }, 1s)) << "the clock stays after full screen";
    EXPECT_TRUE(geometry_becomes(window, {160, 242, 960, 540})) << describe(window);
}

TEST_F(ModesDesktop, hidden_in_the_tray_the_icon_registers_notices_become_balloons_and_clicks_bring_the_window_back)
{
    start_session_bus();
    BusServices services;
    ASSERT_TRUE(services.start(bus_address, true, true));
    start_window_manager();
    unsigned long window = start_on_top(short_then_long());
    ASSERT_NE(window, 0u) << stderr_text();
    std::string item = "org.kde.StatusNotifierItem-" + std::to_string(player) + "-1";
    // The player learns of the host over its own bus connection, which may
    // come after its window (seconds later under the sanitizers); until the
    // answer is in, a hide minimises.
    ASSERT_TRUE(wait_until([&] { return services.host_asked() > 0; }, 10s * TIME_SCALE));
    std::this_thread::sleep_for(100ms * TIME_SCALE);

    // Minimised while always on top: to the tray.
    on_display("xdotool windowminimize " + id_of(window));
    EXPECT_TRUE(wait_until([&] { return !viewable(window); }, 5s * TIME_SCALE));
    ASSERT_TRUE(wait_until([&] { return !services.registered().empty(); }, 5s * TIME_SCALE)) << "no icon registered";
    EXPECT_EQ(services.registered()[0], item);
    EXPECT_NE(services.item_tooltip(item).find("/2."), std::string::npos) << services.item_tooltip(item);

    // The second item's notice: one balloon, closed about 5.6 s later.
    ASSERT_TRUE(wait_until([&] { return !services.notes().empty(); }, 10s * TIME_SCALE)) << "no balloon";
    BusServices::Note note = services.notes()[0];
    EXPECT_EQ(note.summary, "Moravista 16.11.18.1022 64位");
    // The opening notice of an item, " %d / %d - %s ".
    EXPECT_EQ(note.body.find(" / 2 - "), 2u) << note.body;
    EXPECT_EQ(note.body.substr(note.body.size() - 5), ".mp4 ") << note.body;
    EXPECT_TRUE(note.has_default_action);
    ASSERT_TRUE(wait_until([&] { return !services.closes().empty(); }, 10s * TIME_SCALE)) << "the balloon was not closed";
    BusServices::Close close = services.closes()[0];
    EXPECT_EQ(close.id, note.id);
    EXPECT_GT(close.at_s - note.at_s, 4.5);
    EXPECT_LT(close.at_s - note.at_s, 8.0 * TIME_SCALE);
    EXPECT_FALSE(viewable(window));

    // The panel restarts: the icon registers again.
    services.restart_watcher();
    EXPECT_TRUE(wait_until([&] { return services.registered().size() >= 2; }, 5s * TIME_SCALE));

    // The first item opens again: a click on its balloon restores the window.
    ASSERT_TRUE(wait_until([&] { return services.notes().size() >= 2; }, 15s * TIME_SCALE));
    // A click that finds the balloon already closed or replaced (a slow
    // machine) does nothing: the newest balloon is clicked again.
    bool restored = false;
    for (int click = 0; click < 3 && !restored; click++) {
        services.click(services.notes().back().id);
        restored = wait_until([&] { return viewable(window); }, 2s * TIME_SCALE);
    }
    EXPECT_TRUE(restored) << "the balloon click did not restore";
    EXPECT_TRUE(wait_until([&] { return !services.has_owner(item); }, 5s * TIME_SCALE)) << "the icon stays";

    // Activate on the icon restores too.
    on_display("xdotool windowminimize " + id_of(window));
    ASSERT_TRUE(wait_until([&] { return services.has_owner(item); }, 5s * TIME_SCALE));
    EXPECT_TRUE(services.call_item(item, "Activate"));
    EXPECT_TRUE(wait_until([&] { return viewable(window); }, 5s * TIME_SCALE)) << "Activate did not restore";
    EXPECT_TRUE(wait_until([&] { return states(window).find("_NET_WM_STATE_ABOVE") != std::string::npos; }, 5s * TIME_SCALE));
    int status = terminate_player();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ModesDesktop, an_xembed_tray_takes_the_icon_when_no_watcher_is_there_and_a_click_on_it_restores)
{
    start_window_manager();
    spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100", "--height", "32"});
    ASSERT_TRUE(wait_until([&] { return !on_display("xdotool search --class trayer 2>/dev/null").empty(); }, 5s));
    unsigned long window = start_on_top({"--audio=null", fixture_path("av_sync.mp4")});
    ASSERT_NE(window, 0u) << stderr_text();
    on_display("xdotool windowminimize " + id_of(window));
    ASSERT_TRUE(wait_until([&] { return !viewable(window); }, 5s));
    // The icon: the program's other viewable window, inside the tray.
    unsigned long icon = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            std::istringstream ids(on_display("xdotool search --onlyvisible --class Moravista 2>/dev/null"));
            for (std::string id; std::getline(ids, id);)
                if (strtoul(id.c_str(), nullptr, 10) != window)
                    icon = strtoul(id.c_str(), nullptr, 10);
            return icon != 0;
        },
        5s))
        << "no icon in the tray";
    Geometry g = geometry(icon);
    on_display("xdotool mousemove_relative 1 1 mousemove --sync " + std::to_string(g.x + g.width / 2) + " " +
               std::to_string(g.y + g.height / 2) + " click 1");
    EXPECT_TRUE(wait_until([&] { return viewable(window); }, 5s)) << "the click on the icon did not restore";
}

TEST_F(ModesDesktop, without_any_tray_or_notification_server_hiding_still_hides_and_nothing_blocks)
{
    start_session_bus();
    start_window_manager();
    unsigned long window = start_on_top(short_then_long());
    ASSERT_NE(window, 0u) << stderr_text();
    on_display("xdotool windowminimize " + id_of(window));
    EXPECT_TRUE(wait_until([&] { return !viewable(window); }, 5s));
    // The next item opens with its notice while hidden; the window thread
    // still answers at once.
    std::this_thread::sleep_for(4s);
    auto asked = std::chrono::steady_clock::now();
    int status = terminate_player();
    ASSERT_NE(status, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
