// The window's input end to end: the real program on a private X server,
// driven by xdotool as a user drives it with keyboard and mouse.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

class InputDesktop : public DesktopTest {
public:
    // xdotool's key and click go to the window with the focus and pointer.
    void focus(unsigned long window)
    {
        on_display("xdotool windowfocus --sync " + std::to_string(window) + " 2>/dev/null");
    }
    void press(const char* keys) { on_display(std::string("xdotool key --delay 50 ") + keys); }
    // --sync waits for the pointer to move, 15 s where it already stands
    // there (the screen's middle, where windows open): one pixel aside first.
    void point_at(unsigned long window, int x, int y, const std::string& then = "")
    {
        on_display("xdotool mousemove_relative 1 1 mousemove --sync --window " + std::to_string(window) + " " +
                   std::to_string(x) + " " + std::to_string(y) + " " + then);
    }
    void click_at(unsigned long window, int x, int y, int button)
    {
        point_at(window, x, y, "sleep 0.2 click " + std::to_string(button));
    }
    // The middle of the picture: the OSD lines lie at the top and bottom.
    std::string middle_of(const Geometry& g)
    {
        Geometry middle{g.x + g.width / 4, g.y + g.height / 3, g.width / 2, g.height / 3};
        return screenshot(middle);
    }
    int exit_status(std::chrono::seconds timeout)
    {
        int status = wait_exit(player, timeout);
        if (status != -1)
            player = -1;
        return status;
    }
};

TEST_F(InputDesktop, keys_pause_resume_seek_and_size_and_the_close_button_exits_saving_the_settings)
{
    std::string stats = dir + "/stats.json";
    start_player({"--audio=null", "--stats=" + stats, fixture_path("av_sync.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    // Past the opening notice (5.5 s), with the pointer resting on the picture.
    std::this_thread::sleep_for(6500ms);
    Geometry g = geometry(window);
    point_at(window, g.width / 2, g.height / 2);
    focus(window);

    press("space");
    std::this_thread::sleep_for(700ms);
    std::string paused = middle_of(g);
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(middle_of(g) == paused) << "the picture goes on after Space";
    press("space");
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(middle_of(g) != paused) << "the picture stands still after the second Space";

    // Some 7 s into the 10 s clip: a key that meets a seek pending (the
    // loop's, at the clip's end) is dropped, as held arrows are.
    press("Up Right");
    std::this_thread::sleep_for(500ms);
    press("2");
    for (int i = 0; i < 50 && geometry(window).height != 240; i++)
        std::this_thread::sleep_for(100ms);
    g = geometry(window);
    EXPECT_EQ(g.height, 240) << "key 2 sizes the window to the video's height";
    EXPECT_EQ(g.width, 320);

    click_at(window, g.width - 10, 10, 1);
    int status = exit_status(15s);
    ASSERT_NE(status, -1) << "still running after a click on the close button";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << stderr_text();
    EXPECT_NE(settings_text().find("音量=120\r\n"), std::string::npos) << settings_text();
    std::string json = read_file(stats);
    EXPECT_NE(json.find("\"text\":\" 设置音量 120 [扩大] \""), std::string::npos) << json;
    // Right asked for a point 5 s past the clock.
    size_t seek = json.find("\"origin\":\"user\"");
    ASSERT_NE(seek, std::string::npos) << json;
    size_t target = json.rfind("\"target_ms\":", seek);
    int target_ms = atoi(json.c_str() + target + 12);
    EXPECT_GE(target_ms, 5000) << json;
    EXPECT_LE(target_ms, 15000) << json;
}

TEST_F(InputDesktop, the_bar_seeks_c_copies_the_subtitles_and_the_middle_button_shows_the_file)
{
    start_session_bus();
    // No file manager on this bus: the folder opens with xdg-open, here a
    // stand-in that notes what it was given.
    std::string bin = dir + "/bin";
    mkdir(bin.c_str(), 0755);
    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\necho \"$1\" >> '" + dir + "/opened.txt'\n";
    chmod((bin + "/xdg-open").c_str(), 0755);
    environment.push_back("PATH=" + bin + ":" + getenv("PATH"));
    on_display("timeout 30 dbus-monitor --address '" + bus_address +
               "' \"interface='org.freedesktop.FileManager1'\" > '" + dir + "/bus.txt' 2>&1 &");

    std::string stats = dir + "/stats.json";
    std::string clip = fixture_path("input_subtitles.mkv");
    start_player({"--audio=null", "--stats=" + stats, clip});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    std::this_thread::sleep_for(1500ms);
    point_at(window, 480, 270);
    focus(window);
    press("c");
    std::this_thread::sleep_for(500ms);
    std::string copied = on_display("timeout 5 xclip -o -selection clipboard 2>/dev/null");
    EXPECT_EQ(copied, "第一行字幕\r\nSecond line");

    click_at(window, 480, 530, 1);
    click_at(window, 480, 10, 2);
    std::string folder = clip.substr(0, clip.rfind('/'));
    for (int i = 0; i < 100 && read_file(dir + "/opened.txt").empty(); i++)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(read_file(dir + "/opened.txt"), folder + "\n");
    std::string bus = read_file(dir + "/bus.txt");
    EXPECT_NE(bus.find("member=ShowItems"), std::string::npos) << bus;
    EXPECT_NE(bus.find("file://" + clip), std::string::npos) << bus;

    int status = terminate_player();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string json = read_file(stats);
    EXPECT_NE(json.find("\"text\":\" 当前字幕已复制到剪贴板! \""), std::string::npos) << json;
    // The middle of the bar of the 10 s clip: (duration - 1) x 476 / 952.
    size_t at = json.find("\"duration_ms\":");
    ASSERT_NE(at, std::string::npos) << json;
    int duration = atoi(json.c_str() + at + 14);
    EXPECT_NE(json.find("\"target_ms\":" + std::to_string((duration - 1) * 476 / 952) + ","), std::string::npos)
        << json;
}

} // namespace
