// The real program on a private X server: the window it opens, the picture
// in it, and the ways it ends. Each test starts its own Xvfb and runs a copy
// of the program in a fresh folder, so its settings file lands there.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

TEST_F(DesktopTest, a_clip_opens_in_a_960_by_540_window_centred_on_the_screen_showing_its_picture_and_icon)
{
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    std::this_thread::sleep_for(1s);
    Geometry g = geometry(window);
    EXPECT_EQ(g.width, 960);
    EXPECT_EQ(g.height, 540);
    EXPECT_EQ(g.x, (1280 - 960) / 2);
    EXPECT_EQ(g.y, (1024 - 540) / 2);
    EXPECT_GT(colourful_share(screenshot(g)), 0.2) << "the window does not show the clip's picture";
    std::string clip = fixture_path("h264_aac.mp4");
    std::string title = on_display("xdotool getwindowname " + std::to_string(window));
    EXPECT_EQ(title, "1/1.h264_aac.mp4 / Moravista 16.11.18.1022 64位 / " + clip + "\n");
    // The icon, drawn by the program at the sizes desktops ask for: a dark
    // tile (dense shade in the property's text form) with a bright mark.
    std::string icon = on_display("LC_ALL=C.UTF-8 xprop -id " + std::to_string(window) + " _NET_WM_ICON");
    for (const char* size : {"Icon (16 x 16)", "Icon (32 x 32)", "Icon (48 x 48)", "Icon (64 x 64)"})
        EXPECT_NE(icon.find(size), std::string::npos) << size;
    EXPECT_NE(icon.find("▓"), std::string::npos);
    EXPECT_NE(icon.find("░"), std::string::npos);
}

// Services, containers and odd logins start programs under any locale and
// environment; the player starts, its Chinese title reaches the desktop and
// it closes cleanly under each.
TEST_F(DesktopTest, under_any_locale_or_environment_the_player_starts_and_its_chinese_title_reaches_the_desktop)
{
    struct Case {
        const char* name;
        bool bare_locale, empty_environment;
        std::vector<std::string> variables;
    };
    const Case cases[] = {
        {"the bare C locale", true, false, {}},
        {"a locale that is not installed", false, false, {"LANG=xx_YY.UTF-8"}},
        {"LC_ALL=C", false, false, {"LC_ALL=C"}},
        {"an empty environment", false, true, {}},
        {"the desktop's start-up ids", false, false,
         {"DESKTOP_AUTOSTART_ID=moravista-test-1", "DESKTOP_STARTUP_ID=moravista-test_TIME0"}},
    };
    const std::vector<std::string> base = environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bare_locale = c.bare_locale;
        empty_environment = c.empty_environment;
        environment = base;
        environment.insert(environment.end(), c.variables.begin(), c.variables.end());
        start_player({"--audio=null", fixture_path("h264_aac.mp4")});
        unsigned long window = find_window();
        ASSERT_NE(window, 0u) << stderr_text();
        std::string title = on_display("xdotool getwindowname " + std::to_string(window));
        EXPECT_NE(title.find("Moravista 16.11.18.1022 64位"), std::string::npos) << title;
        int status = terminate_player();
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << stderr_text();
    }
}

TEST_F(DesktopTest, sigterm_writes_the_command_line_list_to_the_settings_and_exits_0_leaving_no_helper_behind)
{
    std::string clip = fixture_path("h264_aac.mp4");
    int helpers_before = processes_mentioning("at-spi");
    start_player({"--audio=null", "/probesize=5000000", "/title=电影", clip, "/late=1", "/title=Late"});
    ASSERT_NE(find_window(), 0u) << stderr_text();
    int status = terminate_player();
    // No accessibility bus was started for the window (it would outlive us).
    EXPECT_EQ(processes_mentioning("at-spi"), helpers_before);
    ASSERT_NE(status, -1) << "still running 10 s after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << stderr_text();
    std::string text = settings_text();
    EXPECT_NE(text.find("[Moravista]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("列表数=1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0=" + clip + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0_标题=电影\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0_参数=probesize=5000000\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("late"), std::string::npos) << text;
    EXPECT_EQ(text.find("Late"), std::string::npos) << text;
}

TEST_F(DesktopTest, the_close_request_of_the_window_manager_saves_the_window_rectangle_and_exits_0)
{
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    on_display("xdotool windowmove --sync " + std::to_string(window) + " 40 30");
    on_display("xdotool windowsize --sync " + std::to_string(window) + " 640 360");
    std::this_thread::sleep_for(300ms);
    on_display("python3 '" MV_SOURCE_DIR "/tests/window/wm_close.py' " + std::to_string(window));
    int status = wait_exit(player, 10s);
    ASSERT_NE(status, -1) << "still running 10 s after the close request";
    player = -1;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << stderr_text();
    std::string text = settings_text();
    EXPECT_NE(text.find("left=40\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("right=680\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("top=30\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("bottom=390\r\n"), std::string::npos) << text;
}

TEST_F(DesktopTest, the_saved_rectangle_places_the_window_at_the_next_start)
{
    std::string bom_and_text = std::string("\xFF\xFE", 2);
    const char* lines = "[Moravista]\r\nleft=100\r\ntop=80\r\nright=740\r\nbottom=440\r\n";
    for (const char* p = lines; *p; p++)
        bom_and_text += std::string{*p, '\0'};
    std::ofstream(dir + "/moravista.ini", std::ios::binary) << bom_and_text;
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    std::this_thread::sleep_for(300ms);
    Geometry g = geometry(window);
    EXPECT_EQ(g.x, 100);
    EXPECT_EQ(g.y, 80);
    EXPECT_EQ(g.width, 640);
    EXPECT_EQ(g.height, 360);
}

TEST_F(DesktopTest, without_a_display_the_program_says_so_and_fails_unless_headless)
{
    const struct {
        const char* name;
        const char* display;
    } cases[] = {{"DISPLAY unset", nullptr}, {"DISPLAY unreachable", ":4095"}};
    for (const auto& c : cases) {
        start_player({"--audio=null", fixture_path("h264_aac.mp4")}, c.display);
        int status = wait_exit(player, 10s);
        ASSERT_NE(status, -1) << c.name << ": still running";
        player = -1;
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_NE(WEXITSTATUS(status), 0) << c.name;
        EXPECT_NE(stderr_text().find("display"), std::string::npos) << c.name << ": " << stderr_text();
    }
    start_player({"--headless", "--audio=null", fixture_path("h264_aac.mp4")}, nullptr);
    std::this_thread::sleep_for(500ms);
    int status = terminate_player();
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << stderr_text();
}

TEST_F(DesktopTest, a_lost_display_ends_the_program_after_saving_the_settings)
{
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    ASSERT_NE(find_window(), 0u) << stderr_text();
    std::this_thread::sleep_for(500ms);
    stop_server();
    int status = wait_exit(player, 10s);
    ASSERT_NE(status, -1) << "still running 10 s after the display went away";
    player = -1;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(settings_text().find("列表数=1\r\n"), std::string::npos) << settings_text();
}

TEST_F(DesktopTest, tiny_and_huge_window_sizes_neither_crash_nor_stall_playback)
{
    // A 10 s clip: the resizing and the two screenshots take longer than a short one plays.
    start_player({"--audio=null", fixture_path("av_sync.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    std::string id = std::to_string(window);
    for (const char* size : {"1 1", "8000 8000", "1 8000", "960 540"}) {
        on_display("xdotool windowsize " + id + " " + size);
        std::this_thread::sleep_for(400ms);
        ASSERT_EQ(waitpid(player, nullptr, WNOHANG), 0) << "the program ended at size " << size;
    }
    on_display("xdotool windowmove --sync " + id + " 0 0");
    std::this_thread::sleep_for(500ms);
    Geometry g = geometry(window);
    ASSERT_EQ(g.width, 960);
    // Pictures of 8000 x 8000 take long to build under the sanitizers: allow
    // the player a while to come back to the normal size, then it must move.
    std::string first = screenshot(g);
    for (int i = 0; i < 30 && colourful_share(first) <= 0.2; i++) {
        std::this_thread::sleep_for(500ms);
        first = screenshot(g);
    }
    std::this_thread::sleep_for(700ms);
    std::string later = screenshot(g);
    EXPECT_GT(colourful_share(later), 0.2);
    EXPECT_TRUE(first != later) << "the picture stands still";
    int status = terminate_player();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
