// The real program on a private desktop: its own move and resize by the
// pointer under a real window manager, files dropped on it by the X11
// drag-and-drop protocol, and data messages from other programs over a
// private session bus.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "support/desktop.h"
#include "support/fixtures.h"
#include "support/xdnd_drop.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

// Session buses the bus library started by itself for programs on this
// display (it does so when a program asks for a bus the session lacks).
int buses_launched_for(const std::string& display)
{
    int count = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        std::string base = std::string("/proc/") + e->d_name;
        if (read_file(base + "/cmdline").find("--autolaunch") == std::string::npos)
            continue;
        std::string environment = read_file(base + "/environ");
        if (environment.find(std::string("DISPLAY=") + display + '\0') != std::string::npos)
            count++;
    }
    if (proc)
        closedir(proc);
    return count;
}

class GeometryDesktop : public DesktopTest {
protected:
    // The program with a clip, on a desktop with a window manager; returns
    // its window once it has its first size.
    unsigned long start_with(const std::string& clip, std::vector<std::string> extra = {})
    {
        start_window_manager();
        std::vector<std::string> args{"--audio=null", "--stats=" + dir + "/stats.json"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(clip);
        start_player(args);
        unsigned long window = find_window();
        std::this_thread::sleep_for(700ms);
        return window;
    }
    // A left-button drag with xdotool from (x, y) by (dx, dy) in steps.
    void drag(int x, int y, int dx, int dy, int steps)
    {
        std::string command = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                              " sleep 0.2 mousedown 1";
        for (int i = 1; i <= steps; i++) {
            // The pointer cannot leave the 1280 x 1024 screen anyway.
            int to_x = std::clamp(x + dx * i / steps, 0, 1279), to_y = std::clamp(y + dy * i / steps, 0, 1023);
            command += " sleep 0.02 mousemove " + std::to_string(to_x) + " " + std::to_string(to_y);
        }
        on_display(command + " sleep 0.2 mouseup 1");
        std::this_thread::sleep_for(500ms);
    }
    // --send through the program; the output and the exit code.
    std::string send(const std::string& pid, const std::string& code, const std::string& payload)
    {
        return on_display("'" + binary + "' --send " + pid + " " + code + " '" + payload + "' 2>&1; echo rc=$?");
    }
    bool wait_for_bus_name()
    {
        for (int i = 0; i < 100; i++) {
            if (send(std::to_string(player), "0", "ping") == "0\nrc=0\n")
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
};

TEST_F(GeometryDesktop, edge_drags_keep_the_aspect_of_a_16_9_video_with_even_widths_and_corner_drags_the_free_shape)
{
    unsigned long window = start_with(fixture_path("wide_30fps.mp4"));
    ASSERT_NE(window, 0u) << stderr_text();
    Geometry g = geometry(window);
    ASSERT_EQ(g.width, 960);
    ASSERT_EQ(g.height, 540);

    // The bottom band, 3 pixels above the edge, pulled up by 97 pixels.
    drag(g.x + 480, g.y + 537, 0, -97, 10);
    Geometry bottom = geometry(window);
    EXPECT_EQ(bottom.height, 443);
    EXPECT_EQ(bottom.width, (443 * 16 / 9 + 1) & ~1) << "the width follows as an even number";
    EXPECT_EQ(bottom.x, g.x + (960 - bottom.width) / 2) << "the centre stays";
    EXPECT_EQ(bottom.y, g.y);

    // The right band, above the progress bar.
    drag(bottom.x + bottom.width - 3, bottom.y + 100, 141, 0, 10);
    Geometry right = geometry(window);
    EXPECT_EQ(right.width, bottom.width + 141);
    EXPECT_EQ(right.height, right.width * 9 / 16);

    // The bottom-right corner: any shape.
    drag(right.x + right.width - 2, right.y + right.height - 2, -300, 60, 10);
    Geometry corner = geometry(window);
    EXPECT_EQ(corner.width, right.width - 300);
    EXPECT_EQ(corner.height, right.height + 60);
    EXPECT_EQ(corner.x, right.x);

    // Down to nothing and far beyond the screen: the smallest window, then
    // the work area; playback goes on.
    drag(corner.x + corner.width - 2, corner.y + corner.height - 2, -2000, -2000, 5);
    Geometry tiny = geometry(window);
    EXPECT_EQ(tiny.width, 100);
    EXPECT_EQ(tiny.height, 100);
    drag(tiny.x + tiny.width - 1, tiny.y + 50, 3000, 0, 5);
    Geometry wide = geometry(window);
    EXPECT_LE(wide.width, 1280);
    EXPECT_LE(wide.height, 1024);
    EXPECT_GE(wide.x, 0);
    ASSERT_EQ(waitpid(player, nullptr, WNOHANG), 0) << "the program ended";
    std::string shot = screenshot(wide);
    std::this_thread::sleep_for(500ms);
    EXPECT_NE(shot, screenshot(wide)) << "the picture stands still";
    ASSERT_NE(terminate_player(), -1);
    std::string stats = read_file(dir + "/stats.json");
    EXPECT_NE(stats.find("\"window_drags\":{\"count\":5,"), std::string::npos) << stats;
    // This desktop has no session bus: the player did not start one.
    EXPECT_EQ(buses_launched_for(display), 0);
}

// A panel along the left edge of the screen, as a desktop's dock: the
// window manager takes its strut out of the work area. Lives while the
// returned connection is open.
Display* open_left_dock(const std::string& display_name, int width)
{
    Display* d = XOpenDisplay(display_name.c_str());
    if (!d)
        return nullptr;
    Window dock = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, unsigned(width), 1024, 0, 0, 0);
    Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    Atom dock_type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(d, dock, type, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&dock_type), 1);
    long strut[12] = {width, 0, 0, 0, 0, 1023, 0, 0, 0, 0, 0, 0};
    XChangeProperty(d, dock, XInternAtom(d, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(strut), 12);
    XChangeProperty(d, dock, XInternAtom(d, "_NET_WM_STRUT", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(strut), 4);
    XMapWindow(d, dock);
    XFlush(d);
    return d;
}

TEST_F(GeometryDesktop, a_dock_that_appears_while_playing_narrows_the_work_area_that_resizes_keep_to)
{
    unsigned long window = start_with(fixture_path("wide_30fps.mp4"));
    ASSERT_NE(window, 0u) << stderr_text();
    Display* dock = open_left_dock(display, 100);
    ASSERT_NE(dock, nullptr);
    for (int i = 0; i < 50 && on_display("xprop -root _NET_WORKAREA").find("= 100, 0,") == std::string::npos; i++)
        std::this_thread::sleep_for(100ms);
    std::this_thread::sleep_for(300ms);
    Geometry g = geometry(window);
    // The left band pulled in one step to 7 pixels from the screen's edge:
    // the window, wider by the pull, is pushed back out of the dock.
    drag(g.x + 3, g.y + 100, -(g.x - 7), 0, 1);
    Geometry pulled = geometry(window);
    EXPECT_EQ(pulled.x, 100);
    EXPECT_EQ(pulled.width, 960 + g.x - 7);
    EXPECT_EQ(pulled.height, pulled.width * 9 / 16);
    XCloseDisplay(dock);
}

TEST_F(GeometryDesktop, the_picture_dragged_to_5_pixels_from_the_work_area_edge_touches_it)
{
    unsigned long window = start_with(fixture_path("wide_30fps.mp4"));
    ASSERT_NE(window, 0u) << stderr_text();
    Geometry g = geometry(window);
    // From the middle of the picture to 5 pixels from the screen's left edge.
    drag(g.x + 400, g.y + 200, -(g.x - 5), 0, 20);
    Geometry snapped = geometry(window);
    EXPECT_EQ(snapped.x, 0);
    EXPECT_EQ(snapped.y, g.y);
    EXPECT_EQ(snapped.width, 960);
    // Pulled 30 pixels away it follows the pointer again.
    drag(snapped.x + 400, snapped.y + 200, 60, 30, 10);
    Geometry freed = geometry(window);
    EXPECT_EQ(freed.x, 60); // each drag starts free of the last one's hold
    EXPECT_EQ(freed.y, g.y + 30);
}

TEST_F(GeometryDesktop, another_program_appends_and_titles_entries_with_send_and_a_missing_player_gives_2)
{
    start_session_bus();
    unsigned long window = start_with(fixture_path("wide_30fps.mp4"));
    ASSERT_NE(window, 0u) << stderr_text();
    ASSERT_TRUE(wait_for_bus_name()) << stderr_text();
    std::string pid = std::to_string(player);
    EXPECT_EQ(send(pid, "0x6170", "/media/added.mkv"), "1\nrc=0\n");
    EXPECT_EQ(send(pid, "0x6170", "/media/second.mkv"), "2\nrc=0\n");
    EXPECT_EQ(send(pid, "0x73740001", "加上的"), "0\nrc=0\n");
    EXPECT_EQ(send(pid, "1936719873", "key=value"), "0\nrc=0\n"); // 0x73700001 in decimal
    EXPECT_EQ(send(pid, "0x7374FFFF", "nobody"), "0\nrc=0\n");
    EXPECT_EQ(send(pid, "0x6170", ""),
              "moravista: nothing to send to player " + pid + ": the payload is empty\nrc=2\n");
    EXPECT_NE(send(pid, "0x6170", std::string(3000, 'a')).find("too long for an entry\nrc=2"), std::string::npos);
    EXPECT_EQ(send("999999", "0x6170", "/media/x.mkv"),
              "moravista: no player with process id 999999 is running\nrc=2\n");
    EXPECT_NE(send(pid, "0xZZ", "x").find("rc=2"), std::string::npos);
    ASSERT_NE(terminate_player(), -1);
    std::string text = settings_text();
    EXPECT_NE(text.find("列表数=3\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("1=/media/added.mkv\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("1_标题=加上的\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("1_参数=key=value\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("2=/media/second.mkv\r\n"), std::string::npos) << text;
}

// Running as root, the test can call as another user on a bus that lets
// every user connect.
TEST_F(GeometryDesktop, a_data_message_from_another_user_is_refused)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to call as another user";
    std::string config = dir + "/bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                             "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>";
    std::string out = capture("dbus-daemon --config-file='" + config + "' --fork --print-address=1 --print-pid=1");
    std::istringstream lines(out);
    std::string address, bus_pid;
    std::getline(lines, address);
    std::getline(lines, bus_pid);
    ASSERT_FALSE(address.empty());
    bus_pids.push_back(atoi(bus_pid.c_str()));
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
    unsigned long window = start_with(fixture_path("wide_30fps.mp4"));
    ASSERT_NE(window, 0u) << stderr_text();
    ASSERT_TRUE(wait_for_bus_name()) << stderr_text();
    std::string as_nobody = on_display("setpriv --reuid=65534 --regid=65534 --clear-groups '" MV_BINARY
                                       "' --send " + std::to_string(player) + " 0x6170 /media/evil.mkv 2>&1; echo rc=$?");
    EXPECT_NE(as_nobody.find("refused"), std::string::npos) << as_nobody;
    EXPECT_NE(as_nobody.find("rc=1"), std::string::npos) << as_nobody;
    EXPECT_EQ(send(std::to_string(player), "0x6170", "/media/mine.mkv"), "1\nrc=0\n");
}

TEST_F(GeometryDesktop, a_dropped_subtitle_switches_to_it_without_touching_the_list_and_ctrl_appends_any_name)
{
    std::string clip = dir + "/clip.mp4";
    std::string subtitles = dir + "/dropped.srt";
    ASSERT_EQ(system(("cp '" + fixture_path("wide_30fps.mp4") + "' '" + clip + "'").c_str()), 0);
    std::ofstream(subtitles) << "1\n00:00:00,000 --> 00:00:30,000\nDropped words\n";
    unsigned long window = start_with(clip);
    ASSERT_NE(window, 0u) << stderr_text();
    Geometry g = geometry(window);
    EXPECT_EQ(xdnd_drop(display, window, g.x + 300, g.y + 200, "file://" + subtitles + "\r\n"), "");
    std::this_thread::sleep_for(800ms);

    // A name that is not UTF-8, percent-encoded in its URI, and things that
    // cannot be played: with Ctrl held, the one file is appended.
    std::string odd = dir + "/\xb5\xe7\xd3\xb0.mp4";
    ASSERT_EQ(system(("cp '" + clip + "' '" + odd + "'").c_str()), 0);
    on_display("xdotool keydown ctrl");
    EXPECT_EQ(xdnd_drop(display, window, g.x + 300, g.y + 200,
                        "file://" + dir + "/%B5%E7%D3%B0.mp4\r\nfile://" + dir + "/missing.mp4\r\n"
                        "http://example.com/a.mp4\r\nfile://otherhost/tmp/a.mp4\r\n"),
              "");
    on_display("xdotool keyup ctrl");
    std::this_thread::sleep_for(500ms);
    ASSERT_NE(terminate_player(), -1);

    std::string stats = read_file(dir + "/stats.json");
    EXPECT_NE(stats.find("\"source\":\"external\",\"path\":\"" + subtitles + "\""), std::string::npos) << stats;
    std::string text = settings_text();
    EXPECT_NE(text.find("列表数=2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0=" + clip + "\r\n"), std::string::npos) << text;
}

} // namespace
