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

#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The settings file is UTF-16LE with a byte-order mark.
std::string utf16le_to_utf8(const std::string& bytes)
{
    if (bytes.size() < 2)
        return "";
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    std::string in = bytes.substr(2);
    std::string out(in.size() * 2 + 16, '\0');
    char* in_ptr = in.data();
    size_t in_left = in.size();
    char* out_ptr = out.data();
    size_t out_left = out.size();
    iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

// Runs a shell command and returns what it printed.
std::string capture(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

// Waits for a child up to timeout; -1 while it still runs, else its status.
// Processes whose command line mentions text (the accessibility bus and its
// helpers carry "at-spi" in theirs).
int processes_mentioning(const char* text)
{
    int count = 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        std::string cmdline = read_file(std::string("/proc/") + e->d_name + "/cmdline");
        for (char& c : cmdline)
            c = c ? c : ' ';
        if (cmdline.find(text) != std::string::npos)
            count++;
    }
    closedir(proc);
    return count;
}

int wait_exit(pid_t pid, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(20ms);
    }
}

struct Geometry {
    int x = -1, y = -1, width = -1, height = -1;
};

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/moravista-window-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir = dir_template;
        // A copy of the program: its settings file is "<its folder>/moravista.ini".
        binary = dir + "/moravista";
        ASSERT_EQ(system(("cp '" MV_BINARY "' '" + binary + "'").c_str()), 0);
        start_server();
    }

    void TearDown() override
    {
        if (player > 0) {
            kill(player, SIGKILL);
            waitpid(player, nullptr, 0);
        }
        stop_server();
        system(("rm -rf '" + dir + "'").c_str());
    }

    void start_server()
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        server = fork();
        ASSERT_GE(server, 0);
        if (server == 0) {
            close(fds[0]);
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                   "-noreset", nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display = ":" + number;
    }

    void stop_server()
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
            server = -1;
        }
    }

    // Starts the program with DISPLAY set to display_value (null: unset).
    void start_player(const std::vector<std::string>& args, const char* display_value)
    {
        std::string err_path = dir + "/stderr.txt";
        player = fork();
        ASSERT_GE(player, 0);
        if (player == 0) {
            int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            if (display_value)
                setenv("DISPLAY", display_value, 1);
            else
                unsetenv("DISPLAY");
            if (bare_locale) {
                unsetenv("LANG");
                unsetenv("LC_ALL");
                unsetenv("LC_CTYPE");
            }
            std::vector<char*> argv{const_cast<char*>(binary.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
    }
    void start_player(const std::vector<std::string>& args) { start_player(args, display.c_str()); }

    std::string on_display(const std::string& command) { return capture("DISPLAY=" + display + " " + command); }

    // The program's window, once it is mapped; 0 when none appears in 10 s.
    unsigned long find_window()
    {
        std::string out = on_display("timeout 10 xdotool search --sync --onlyvisible --name Moravista 2>/dev/null");
        return strtoul(out.c_str(), nullptr, 10);
    }

    Geometry geometry(unsigned long window)
    {
        Geometry g;
        std::string out = on_display("xdotool getwindowgeometry --shell " + std::to_string(window));
        sscanf(strstr(out.c_str(), "X=") ? strstr(out.c_str(), "X=") : "", "X=%d", &g.x);
        sscanf(strstr(out.c_str(), "Y=") ? strstr(out.c_str(), "Y=") : "", "Y=%d", &g.y);
        sscanf(strstr(out.c_str(), "WIDTH=") ? strstr(out.c_str(), "WIDTH=") : "", "WIDTH=%d", &g.width);
        sscanf(strstr(out.c_str(), "HEIGHT=") ? strstr(out.c_str(), "HEIGHT=") : "", "HEIGHT=%d", &g.height);
        return g;
    }

    // RGB pixels of a screen rectangle.
    std::string screenshot(const Geometry& g)
    {
        char command[512];
        snprintf(command, sizeof command,
                 "ffmpeg -nostdin -loglevel error -f x11grab -draw_mouse 0 -video_size %dx%d -i %s+%d,%d -frames:v 1 "
                 "-f rawvideo -pix_fmt rgb24 - 2>/dev/null",
                 g.width, g.height, display.c_str(), g.x, g.y);
        return capture(command);
    }

    // Share of pixels with strong colour: the test clip is full of it, the
    // idle background and the OSD text have next to none.
    static double colourful_share(const std::string& rgb)
    {
        if (rgb.size() < 3)
            return 0;
        size_t colourful = 0, pixels = rgb.size() / 3;
        for (size_t i = 0; i < pixels; i++) {
            int r = uint8_t(rgb[3 * i]), g = uint8_t(rgb[3 * i + 1]), b = uint8_t(rgb[3 * i + 2]);
            int hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b));
            if (hi - lo > 80)
                colourful++;
        }
        return double(colourful) / double(pixels);
    }

    int terminate_player()
    {
        kill(player, SIGTERM);
        int status = wait_exit(player, 10s);
        if (status != -1)
            player = -1;
        return status;
    }

    std::string settings_text() { return utf16le_to_utf8(read_file(dir + "/moravista.ini")); }
    std::string stderr_text() { return read_file(dir + "/stderr.txt"); }

    std::string dir, binary, display;
    pid_t server = -1;
    pid_t player = -1;
    bool bare_locale = false; // start the player under the C locale
};

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

// A service or container often runs programs under the bare C locale; the
// Chinese title must still reach the desktop.
TEST_F(DesktopTest, under_the_bare_c_locale_the_title_still_reaches_the_desktop)
{
    bare_locale = true;
    start_player({"--audio=null", fixture_path("h264_aac.mp4")});
    unsigned long window = find_window();
    ASSERT_NE(window, 0u) << stderr_text();
    std::string title = on_display("xdotool getwindowname " + std::to_string(window));
    EXPECT_NE(title.find("Moravista 16.11.18.1022 64位"), std::string::npos) << title;
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
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
