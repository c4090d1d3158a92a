// The real program on a private desktop with its buses: the screensaver and
// sleep held off while a video plays (against stand-in services that keep
// every inhibitor until it is let go explicitly), what a desktop without
// them gets, and the media-player interface driven by the real playerctl
// client, with the statistics and the settings file confirming each effect.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

class ServicesDesktop : public DesktopTest {
protected:
    std::string log_of(const std::string& mode) { return dir + "/" + mode + ".log"; }

    // A second bus that stands in for the system bus.
    void start_system_bus()
    {
        std::string out = capture("dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile");
        std::istringstream lines(out);
        std::string address, pid;
        std::getline(lines, address);
        std::getline(lines, pid);
        ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
        bus_pids.push_back(atoi(pid.c_str()));
        environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + address);
    }

    // A stand-in service ("screensaver" or "logind"), once it owns its name.
    void start_fake(const std::string& mode)
    {
        spawn({MV_FAKE_DESKTOP, mode, log_of(mode)});
        ASSERT_TRUE(wait_for_text(log_of(mode), "ready", 20s)) << mode << " did not start";
    }

    bool wait_for_text(const std::string& path, const std::string& text, std::chrono::milliseconds timeout)
    {
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
            if (read_file(path).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return read_file(path).find(text) != std::string::npos;
    }

    static int count(const std::string& text, const std::string& what)
    {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }

    std::string playerctl(const std::string& args) { return on_display("playerctl -p moravista " + args + " 2>&1"); }

    // Waits until the player reports what is expected.
    bool wait_for_player(const std::string& args, const std::string& expected, std::chrono::milliseconds timeout)
    {
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
            if (playerctl(args).find(expected) != std::string::npos)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    double position() { return atof(playerctl("position").c_str()); }
    std::string bus_name() { return "org.mpris.MediaPlayer2.moravista.instance" + std::to_string(player); }
    std::string call(const std::string& method, const std::string& args)
    {
        return on_display("gdbus call --session --dest " + bus_name() + " --object-path /org/mpris/MediaPlayer2 " +
                          "--method " + method + " " + args + " 2>&1");
    }
    std::string screensaver_state() { return on_display(std::string(MV_FAKE_DESKTOP) + " xss"); }

    int stop_player()
    {
        int status = terminate_player();
        EXPECT_NE(status, -1) << "still running 10 s after SIGTERM";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return status;
    }
};

TEST_F(ServicesDesktop, a_video_holds_the_screensaver_and_sleep_a_sound_item_lets_go_and_the_exit_leaves_nothing)
{
    start_session_bus();
    start_system_bus();
    start_fake("screensaver");
    start_fake("logind");
    std::string film = fixture_path("services_minute.mp4"), clip = fixture_path("h264_aac.mp4"),
                tone = fixture_path("services_tone.mka");
    start_player({"--audio=null", film, clip, tone});
    ASSERT_TRUE(wait_for_text(log_of("screensaver"), "inhibit 1 Moravista active=1", 30s)) << stderr_text();
    ASSERT_TRUE(wait_for_text(log_of("logind"), "inhibit sleep:idle Moravista block active=1", 20s));
    // The X server's own saver would start after one idle second.
    on_display(std::string(MV_FAKE_DESKTOP) + " xss-arm");
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(screensaver_state(), "off\n") << "the X server's screensaver started during the video";

    // A second video keeps the hold without asking again; a sound item lets go.
    playerctl("next");
    ASSERT_TRUE(wait_for_player("metadata xesam:title", "h264_aac.mp4", 20s));
    playerctl("next");
    ASSERT_TRUE(wait_for_text(log_of("screensaver"), "uninhibit 1 active=0", 20s));
    ASSERT_TRUE(wait_for_text(log_of("logind"), "released active=0", 20s));
    EXPECT_EQ(count(read_file(log_of("screensaver")), "\ninhibit "), 1) << "the second video asked again";
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(screensaver_state(), "on\n") << "the X server's screensaver is still held off for a sound item";

    // Back to a video, then the exit with the hold in place.
    playerctl("previous");
    ASSERT_TRUE(wait_for_text(log_of("screensaver"), "inhibit 2 Moravista active=1", 20s));
    ASSERT_TRUE(wait_for_text(log_of("logind"), "active=1\n", 20s));
    stop_player();
    ASSERT_TRUE(wait_for_text(log_of("screensaver"), "uninhibit 2 active=0", 10s)) << read_file(log_of("screensaver"));
    ASSERT_TRUE(wait_for_text(log_of("logind"), "released active=0\n", 10s));
    EXPECT_EQ(count(read_file(log_of("logind")), "released"), 2);
    EXPECT_EQ(stderr_text(), "");
}

TEST_F(ServicesDesktop, a_desktop_without_a_bus_or_a_service_plays_normally_with_one_line_on_stderr)
{
    const struct {
        const char* name;
        bool session_bus, screensaver, logind;
        const char* line;
    } cases[] = {
        {"no session bus", false, false, true, "moravista: no session bus"},
        {"no screensaver service", true, false, true, "moravista: no screensaver service on the session bus"},
        {"no logind", true, true, false, "moravista: no logind on the system bus"},
    };
    std::string runtime = dir + "/empty-runtime";
    mkdir(runtime.c_str(), 0700);
    for (const auto& c : cases) {
        environment.clear();
        environment.push_back("XDG_RUNTIME_DIR=" + runtime); // no bus to be found there either
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=");
        if (c.session_bus)
            start_session_bus();
        start_system_bus();
        if (c.screensaver)
            start_fake("screensaver");
        if (c.logind)
            start_fake("logind");
        start_player({"--audio=null", "--stats=" + dir + "/stats.json", fixture_path("services_minute.mp4")});
        // Playing once a stand-in service was asked to hold the screensaver or sleep off.
        EXPECT_TRUE(wait_for_text(log_of(c.logind ? "logind" : "screensaver"), "inhibit", 30s)) << c.name;
        std::this_thread::sleep_for(3s);
        stop_player();
        std::string err = stderr_text();
        EXPECT_EQ(count(err, "\n"), 1) << c.name << ": " << err;
        EXPECT_EQ(err.rfind(c.line, 0), 0u) << c.name << ": " << err;
        std::string stats = read_file(dir + "/stats.json");
        int presented = atoi(stats.substr(stats.find("\"video_frames_presented\":") + 25).c_str());
        EXPECT_GT(presented, 10) << c.name << ": the video did not play";
        if (c.logind) {
            EXPECT_EQ(count(read_file(log_of("logind")), "released active=0"), 1) << c.name;
        }
        unlink(log_of("screensaver").c_str());
        unlink(log_of("logind").c_str());
    }
}

TEST_F(ServicesDesktop, logind_on_the_real_system_bus_lists_the_player_while_a_video_plays)
{
    struct stat st;
    if (stat("/run/dbus/system_bus_socket", &st) != 0)
        GTEST_SKIP() << "no system bus on this machine (/run/dbus/system_bus_socket): the logind path is covered by "
                        "the stand-in service only";
    if (on_display("busctl --system status org.freedesktop.login1 >/dev/null 2>&1 && echo up").find("up") ==
        std::string::npos)
        GTEST_SKIP() << "the system bus has no logind here";
    start_player({"--audio=null", fixture_path("services_minute.mp4")});
    bool listed = false;
    for (int i = 0; i < 50 && !listed; i++, std::this_thread::sleep_for(100ms))
        listed = on_display("systemd-inhibit --list --no-pager 2>/dev/null").find("Moravista") != std::string::npos;
    EXPECT_TRUE(listed);
    stop_player();
    EXPECT_EQ(on_display("systemd-inhibit --list --no-pager 2>/dev/null").find("Moravista"), std::string::npos);
}

TEST_F(ServicesDesktop, playerctl_controls_the_player_and_its_statistics_and_settings_confirm_each_effect)
{
    start_window_manager();
    start_session_bus();
    on_display("dbus-monitor --session \"type='signal',path='/org/mpris/MediaPlayer2'\" > '" + dir +
               "/signals.txt' 2>&1 & echo");
    std::string film = fixture_path("services_minute.mp4"), clip = fixture_path("h264_aac.mp4");
    start_player({"--audio=null", "--stats=" + dir + "/stats.json", film, clip});
    ASSERT_TRUE(wait_for_player("status", "Playing", 30s)) << stderr_text();
    EXPECT_EQ(playerctl("metadata mpris:length"), "60000000\n");
    EXPECT_EQ(playerctl("metadata xesam:title"), "services_minute.mp4\n");
    EXPECT_EQ(playerctl("metadata xesam:url"), "file://" + film + "\n");

    playerctl("play-pause");
    EXPECT_EQ(playerctl("status"), "Paused\n");
    double paused_at = position();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(position(), paused_at) << "the clock went on while paused";
    playerctl("play-pause");
    EXPECT_EQ(playerctl("status"), "Playing\n");

    playerctl("position 30");
    std::this_thread::sleep_for(500ms);
    EXPECT_NEAR(position(), 30.3, 0.8);
    playerctl("volume 0.5");
    EXPECT_EQ(playerctl("volume"), "0.500000\n");
    // A pause by key that no poll has announced yet, undone at once from the
    // bus: both still go out, in their order.
    on_display("xdotool windowfocus --sync " + std::to_string(find_window()) + " 2>/dev/null");
    on_display("xdotool key space");
    playerctl("play-pause");
    EXPECT_EQ(playerctl("status"), "Playing\n");

    // Refused or clamped, changing nothing else.
    std::string stale = call("org.mpris.MediaPlayer2.Player.SetPosition", "/org/moravista/track/999 5000000");
    std::string back = call("org.mpris.MediaPlayer2.Player.Seek", "-- -9223372036854775807");
    for (int i = 0; i < 40 && position() >= 1.0; i++)
        std::this_thread::sleep_for(50ms); // the seek lands a few pictures later
    EXPECT_LT(position(), 1.0) << back;
    EXPECT_NE(on_display(std::string(MV_FAKE_DESKTOP) + " set-volume " + bus_name() + " nan").find("not a number"),
              std::string::npos);
    EXPECT_EQ(playerctl("volume"), "0.500000\n");
    EXPECT_NE(call("org.mpris.MediaPlayer2.Player.OpenUri", "http://example.com/x.mkv").find("InvalidArgs"),
              std::string::npos);
    EXPECT_NE(call("org.mpris.MediaPlayer2.Player.OpenUri", "file:///nonexistent/x.mkv").find("InvalidArgs"),
              std::string::npos);
    EXPECT_EQ(playerctl("metadata xesam:title"), "services_minute.mp4\n");

    playerctl("next");
    EXPECT_TRUE(wait_for_player("metadata xesam:title", "h264_aac.mp4", 20s));
    // A file URI joins the list and plays.
    std::string tone = fixture_path("services_tone.mka");
    EXPECT_EQ(call("org.mpris.MediaPlayer2.Player.OpenUri", "file://" + tone), "()\n");
    EXPECT_TRUE(wait_for_player("metadata xesam:title", "services_tone.mka", 20s));
    on_display(std::string(MV_FAKE_DESKTOP) + " set-volume " + bus_name() + " -5");
    EXPECT_EQ(playerctl("volume"), "0.000000\n");
    playerctl("stop");
    EXPECT_TRUE(wait_for_player("status", "Stopped", 10s));

    // Raise brings a minimised window back; Quit is the exit sequence.
    unsigned long window = find_window();
    on_display("xdotool windowminimize --sync " + std::to_string(window));
    call("org.mpris.MediaPlayer2.Raise", "");
    EXPECT_NE(on_display("timeout 5 xdotool search --sync --onlyvisible --name Moravista"), "");
    call("org.mpris.MediaPlayer2.Quit", "");
    int status = wait_exit(player, 20s);
    ASSERT_NE(status, -1) << "Quit did not end the player";
    player = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::string stats = read_file(dir + "/stats.json");
    EXPECT_NE(stats.find("{\"target_ms\":30000,"), std::string::npos) << stats;
    EXPECT_NE(stats.find("{\"target_ms\":0,"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("{\"target_ms\":5000,"), std::string::npos) << "a stale track id moved the position";
    EXPECT_EQ(count(stats, "\"opened\":true"), 3) << stats;
    EXPECT_NE(settings_text().find("列表数=3\r\n"), std::string::npos) << settings_text();
    std::string signals = read_file(dir + "/signals.txt");
    EXPECT_NE(signals.find("member=Seeked"), std::string::npos) << signals;
    EXPECT_NE(signals.find("string \"Paused\""), std::string::npos) << signals;
    size_t key_pause = signals.find("double 0.5"), next = signals.find("h264_aac.mp4");
    ASSERT_LT(key_pause, next) << signals;
    EXPECT_NE(signals.substr(key_pause, next - key_pause).find("string \"Paused\""), std::string::npos)
        << "the pause by key went unannounced\n" << signals;
}

TEST_F(ServicesDesktop, the_desktop_reads_tags_and_covers_of_an_mp3_and_a_film_and_a_relative_send_plays_its_file)
{
    start_session_bus();
    on_display("dbus-monitor --session \"type='signal',path='/org/mpris/MediaPlayer2'\" > '" + dir +
               "/signals.txt' 2>&1 & echo");
    std::string tags = fixture_path("tags"), song = tags + "/cover.mp3", film = tags + "/film.mkv";
    start_player({"--audio=null", song, film});
    ASSERT_TRUE(wait_for_player("metadata mpris:artUrl", "file://" + dir + "/cache/moravista/covers/", 30s))
        << playerctl("metadata") << stderr_text();
    EXPECT_EQ(playerctl("metadata xesam:artist"), "Some Artist\n");
    EXPECT_EQ(playerctl("metadata xesam:album"), "The Album\n");
    std::string art = playerctl("metadata mpris:artUrl");
    std::string art_path = art.substr(7, art.size() - 8);
    // The cover is a picture that decodes, at its own size.
    EXPECT_EQ(on_display("ffprobe -v error -show_entries stream=codec_type,width -of csv=p=0 '" + art_path +
                         "' && ffmpeg -v error -i '" + art_path + "' -f null - && echo decoded"),
              "video,96\ndecoded\n");
    playerctl("next");
    ASSERT_TRUE(wait_for_player("metadata xesam:title", "Film Title", 20s)) << playerctl("metadata");
    EXPECT_EQ(playerctl("metadata xesam:artist"), "Film Artist\n");
    EXPECT_EQ(playerctl("metadata xesam:album"), "Film Album\n");
    EXPECT_TRUE(wait_for_player("metadata mpris:artUrl", art, 10s)) << "the same picture, the same file";

    // From another folder a relative path names the caller's file.
    std::string sent = on_display("sh -c \"cd '" + tags + "' && '" + binary + "' --send " + std::to_string(player) +
                                  " 0x6170 ./broken/song.mp3 2>&1; echo rc=\\$?\"");
    EXPECT_EQ(sent, "2\nrc=0\n");
    playerctl("next");
    EXPECT_TRUE(wait_for_player("metadata xesam:url", "file://" + tags + "/broken/song.mp3", 20s))
        << playerctl("metadata");
    EXPECT_TRUE(wait_for_player("status", "Playing", 10s));
    // Its own cover is no picture: the one beside it stands in.
    EXPECT_EQ(playerctl("metadata mpris:artUrl"), "file://" + tags + "/broken/cover.jpg\n");
    stop_player();
    std::string signals = read_file(dir + "/signals.txt");
    // Each item opened after the interface was on the bus was announced with its tags.
    EXPECT_NE(signals.find("string \"Film Artist\""), std::string::npos) << signals;
    EXPECT_NE(signals.find("string \"Broken Cover\""), std::string::npos) << signals;
}

TEST_F(ServicesDesktop, a_client_flooding_play_pause_neither_crashes_the_player_nor_stalls_drawing)
{
    start_session_bus();
    start_player({"--audio=null", "--stats=" + dir + "/stats.json", fixture_path("services_minute.mp4")});
    ASSERT_TRUE(wait_for_player("status", "Playing", 30s)) << stderr_text();
    unsigned long window = find_window();
    ASSERT_NE(window, 0u);
    Geometry g = geometry(window);
    // 1000 calls at 1000 a second: an even number, so it ends playing.
    pid_t flood = spawn({MV_FAKE_DESKTOP, "flood", bus_name(), "1000"});
    std::vector<std::string> pictures;
    for (int i = 0; i < 4; i++) {
        pictures.push_back(screenshot(g));
        std::this_thread::sleep_for(300ms);
    }
    waitpid(flood, nullptr, 0);
    helpers.pop_back();
    int changes = 0;
    for (size_t i = 1; i < pictures.size(); i++)
        changes += pictures[i] != pictures[i - 1];
    EXPECT_GE(changes, 2) << "the picture stood still during the flood";
    EXPECT_TRUE(wait_for_player("status", "Playing", 10s));
    double before = position();
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(position(), before) << "the player does not play on after the flood";
    stop_player();
}

// Nothing lost, nothing stuck. A pipe or a device handed over by any door
// is refused with its notice and playback goes on; a list where nothing
// plays names the entry asked for; a saved path too long to open is left
// out, never cut into the name of its neighbour.
TEST_F(ServicesDesktop, pipes_and_devices_are_refused_at_every_door_and_saved_paths_come_back_whole)
{
    start_session_bus();
    std::string empty = dir + "/empty.mp4", text = dir + "/text.mp4", missing = dir + "/missing.mp4";
    std::ofstream(empty).close();
    std::ofstream(text) << "not a film";
    std::string pipe = dir + "/pipe.mkv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string clip = fixture_path("h264_aac.mp4");
    start_player({"--audio=null", "--stats=" + dir + "/stats.json", empty, text, missing});
    ASSERT_NE(find_window(), 0u) << stderr_text();
    // The interface comes up after the window (late under the sanitizers).
    ASSERT_TRUE(wait_for_player("status", "Stopped", 30s)) << stderr_text();
    std::string pid = std::to_string(player);
    for (const std::string& uri : {"file://" + pipe, std::string("file:///dev/zero")})
        EXPECT_NE(call("org.mpris.MediaPlayer2.Player.OpenUri", uri).find("InvalidArgs"), std::string::npos) << uri;
    EXPECT_EQ(on_display(binary + " --send " + pid + " 0x6170 " + pipe + " 2>&1"), "-1\n");
    // Still able to play: the media thread never went near the pipe.
    EXPECT_EQ(call("org.mpris.MediaPlayer2.Player.OpenUri", "file://" + clip), "()\n");
    EXPECT_TRUE(wait_for_player("metadata xesam:title", "h264_aac.mp4", 20s)) << stderr_text();
    stop_player();
    std::string stats = read_file(dir + "/stats.json");
    EXPECT_NE(stats.find("\" 无法播放 1 / 3 - " + empty + " \""), std::string::npos) << stats;
    EXPECT_NE(stats.find("\" 未添加 (不是文件或目录): /dev/zero \""), std::string::npos) << stats;
    EXPECT_NE(stats.find("\" 未添加 (不是文件或目录): " + pipe + " \""), std::string::npos) << stats;
    EXPECT_NE(settings_text().find("列表数=4\r\n"), std::string::npos) << settings_text();

    // A saved 789-unit path beside the 779-unit one it starts with.
    std::string folder = dir;
    while (folder.size() + 201 < 779 - 6) {
        folder += "/" + std::string(200, 'd');
        mkdir(folder.c_str(), 0755);
    }
    folder += "/" + std::string(779 - 6 - folder.size() - 1, 'e');
    mkdir(folder.c_str(), 0755);
    std::string fits = folder + "/x.mkv", longer = fits + "-part2.mkv";
    ASSERT_EQ(fits.size(), 779u);
    for (const std::string& copy : {fits, longer})
        ASSERT_EQ(system(("cp '" + clip + "' '" + copy + "'").c_str()), 0);
    // The keys are not ASCII: the UTF-16 file is made through iconv.
    std::ofstream(dir + "/settings.txt") << "[Moravista]\r\n列表数=2\r\n当前播放=0\r\n0=" + longer + "\r\n1=" + fits + "\r\n";
    ASSERT_EQ(system(("iconv -f UTF-8 -t UTF-16LE '" + dir + "/settings.txt' > '" + dir + "/body' && printf '\\377\\376' | "
                      "cat - '" + dir + "/body' > '" + dir + "/moravista.ini'").c_str()),
              0);
    start_player({"--audio=null", "--stats=" + dir + "/stats.json"});
    ASSERT_TRUE(wait_for_player("metadata xesam:url", "x.mkv\n", 20s)) << stderr_text();
    EXPECT_EQ(playerctl("metadata xesam:url"), "file://" + fits + "\n");
    stop_player();
    stats = read_file(dir + "/stats.json");
    EXPECT_NE(stats.find("\" 未添加 (路径过长): " + longer.substr(0, 100)), std::string::npos) << stats;
    std::string after = settings_text();
    EXPECT_NE(after.find("列表数=1\r\n0=" + fits + "\r\n"), std::string::npos) << after;
    EXPECT_EQ(after.find("part2"), std::string::npos) << "the long entry came back as another file";
}

} // namespace
