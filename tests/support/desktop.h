// A private desktop for end-to-end tests of the real program: an Xvfb
// server, optionally a window manager (openbox), a session bus and a sound
// server with a null sink, and a copy of the program in a fresh folder (so
// its settings file lands there). Everything started here is stopped when
// the test ends.
#pragma once
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/stress.h"

namespace desktop_test {

using namespace std::chrono_literals;

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The settings file is UTF-16LE with a byte-order mark.
inline std::string utf16le_to_utf8(const std::string& bytes)
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
inline std::string capture(const std::string& command)
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

// Processes whose command line mentions text (the accessibility bus and its
// helpers carry "at-spi" in theirs).
inline int processes_mentioning(const char* text)
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

// Waits for a child up to timeout; -1 while it still runs, else its status.
inline int wait_exit(pid_t pid, std::chrono::milliseconds timeout)
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
        // Covers the player caches stay with the test.
        environment.push_back("XDG_CACHE_HOME=" + dir + "/cache");
        start_server();
    }

    void TearDown() override
    {
        if (player > 0) {
            kill(player, SIGKILL);
            waitpid(player, nullptr, 0);
        }
        for (pid_t helper : helpers) {
            kill(helper, SIGTERM);
            waitpid(helper, nullptr, 0);
        }
        stop_server();
        system(("rm -rf '" + dir + "'").c_str());
    }

    // Starts a helper program in the background with the desktop's
    // environment; it is stopped when the test ends.
    pid_t spawn(const std::vector<std::string>& argv)
    {
        pid_t pid = fork();
        if (pid == 0) {
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            apply_environment();
            setenv("DISPLAY", display.c_str(), 1);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (pid > 0)
            helpers.push_back(pid);
        return pid;
    }

    // A real EWMH window manager on the display; returns once it has
    // finished starting. It announces itself on the root window early, but
    // a window mapped before its start-up ends may never be managed, so the
    // wait is for its start-up command, which it runs last.
    void start_window_manager()
    {
        std::string ready = dir + "/window-manager-ready";
        unlink(ready.c_str());
        spawn({"openbox", "--sm-disable", "--startup", "touch '" + ready + "'"});
        for (int i = 0; i < 200; i++) {
            if (access(ready.c_str(), F_OK) == 0 &&
                on_display("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") != std::string::npos)
                return;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the window manager did not start";
    }

    // A private session bus; the player and on_display commands use it.
    void start_session_bus()
    {
        std::string out = capture("dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile");
        std::istringstream lines(out);
        std::string pid;
        std::getline(lines, bus_address);
        std::getline(lines, pid);
        ASSERT_FALSE(bus_address.empty()) << "dbus-daemon did not start";
        if (atoi(pid.c_str()) > 0)
            bus_pids.push_back(atoi(pid.c_str()));
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_address);
    }

    // A sound server with one null sink; the player's SDL output goes to it.
    void start_sound_server()
    {
        std::string runtime = dir + "/pulse";
        mkdir(runtime.c_str(), 0700);
        sound_socket = runtime + "/native";
        environment.push_back("XDG_RUNTIME_DIR=" + runtime);
        environment.push_back("PULSE_SERVER=unix:" + sound_socket);
        environment.push_back("SDL_AUDIODRIVER=pulseaudio");
        sound_server = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                              "--disable-shm=yes", "--load=module-native-protocol-unix socket=" + sound_socket +
                                  " auth-anonymous=1",
                              "--load=module-null-sink sink_name=moravista_null"});
        for (int i = 0; i < 100; i++) {
            if (on_display("pactl info >/dev/null 2>&1 && echo up").find("up") != std::string::npos)
                return;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the sound server did not start";
    }

    void apply_environment()
    {
        for (const std::string& e : environment)
            putenv(strdup(e.c_str()));
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
        for (pid_t bus : bus_pids)
            kill(bus, SIGTERM);
        bus_pids.clear();
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
            if (empty_environment) {
                // The sanitizers' own options (their suppressions) stay.
                std::vector<std::string> kept;
                for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
                    if (const char* value = getenv(name))
                        kept.push_back(std::string(name) + "=" + value);
                clearenv();
                for (const std::string& e : kept)
                    putenv(strdup(e.c_str()));
            }
            apply_environment();
            // GLib's slice allocator hands memory between threads in a way
            // the thread sanitizer cannot follow; plain malloc it can.
            if (!empty_environment)
                setenv("G_SLICE", "always-malloc", 1);
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

    // Runs a shell command on the display, with the desktop's environment.
    // A tool that hangs (a capture of a stuck server) fails its test within
    // two minutes instead of holding the run until the suite's timeout.
    std::string on_display(const std::string& command)
    {
        std::string env;
        for (const std::string& e : environment)
            env += "'" + e + "' ";
        std::string quoted = "'";
        for (char c : command)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "'";
        return capture("timeout -k 5 120 env " + env + "DISPLAY=" + display + " sh -c " + quoted);
    }

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

    // Whether the player blocks SIGTERM yet: it does so in every thread
    // before it starts any, and only then takes the signal as a close.
    // The mask alone may be inherited across the exec: the player blocks
    // SIGTERM before it starts its engine threads, so both are looked for.
    bool player_blocks_sigterm()
    {
        int threads = 0;
        if (DIR* tasks = opendir(("/proc/" + std::to_string(player) + "/task").c_str())) {
            while (const dirent* e = readdir(tasks))
                threads += e->d_name[0] != '.';
            closedir(tasks);
        }
        if (threads < 3)
            return false;
        std::string status = read_file("/proc/" + std::to_string(player) + "/status");
        size_t at = status.find("SigBlk:");
        return at != std::string::npos && (strtoull(status.c_str() + at + 7, nullptr, 16) >> (SIGTERM - 1)) & 1;
    }

    int terminate_player()
    {
        for (int waited = 0; waited < 30000 && !player_blocks_sigterm(); waited += 20)
            std::this_thread::sleep_for(20ms);
        kill(player, SIGTERM);
        int status = wait_exit(player, 10s * TIME_SCALE);
        if (status != -1)
            player = -1;
        return status;
    }

    std::string settings_text() { return utf16le_to_utf8(read_file(dir + "/moravista.ini")); }
    // What the player wrote on stderr; without keep_gl_line, all but the one
    // line that says the test machine's OpenGL runs in software.
    std::string stderr_text(bool keep_gl_line = false)
    {
        std::string text = read_file(dir + "/stderr.txt");
        if (keep_gl_line)
            return text;
        const std::string gl_line = "moravista: OpenGL runs in software here";
        if (size_t at = text.find(gl_line); at != std::string::npos) {
            size_t end = text.find('\n', at);
            text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        }
        return text;
    }

    std::string dir, binary, display;
    pid_t server = -1;
    pid_t player = -1;
    bool bare_locale = false;             // start the player under the C locale
    bool empty_environment = false;       // start it with nothing but environment and DISPLAY
    std::vector<std::string> environment; // NAME=value for the player and the commands
    std::vector<pid_t> helpers;           // stopped at the end
    std::vector<pid_t> bus_pids;
    std::string bus_address, sound_socket;
    pid_t sound_server = -1;
};

} // namespace desktop_test
