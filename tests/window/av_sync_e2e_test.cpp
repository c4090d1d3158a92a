// Picture and sound in step as seen from outside the program: a clip that
// flashes white and beeps at every whole second plays in a window through a
// real PulseAudio server with a null sink, while ffmpeg captures a patch in
// the middle of the screen and the sink's monitor on one wall clock.
#include <sys/time.h>

#include <cmath>
#include <regex>

#include "support/desktop.h"

namespace {

using namespace desktop_test;

// Wall times (s since t0) of the flashes (mean luma of the patch jumping
// past 128; the flash came, on average, half a capture period before the
// first capture that shows it) and of the beeps (ends of silence).
void onsets(const std::string& luma, const std::string& log, std::vector<double>* flashes, std::vector<double>* beeps)
{
    std::istringstream lines(read_file(luma));
    std::string line;
    double t = -1, last = 0;
    bool white = true; // a flash must begin on the screen, not be under way at the start
    while (std::getline(lines, line)) {
        if (size_t at = line.find("pts_time:"); at != std::string::npos)
            t = atof(line.c_str() + at + 9);
        if (size_t at = line.find("YAVG="); at != std::string::npos && t >= 0) {
            const bool now_white = atof(line.c_str() + at + 5) > 128;
            if (now_white && !white)
                flashes->push_back(t - (t - last) / 2);
            white = now_white;
            last = t;
        }
    }
    const std::string text = read_file(log);
    const std::regex end("silence_end: ([0-9.]+)");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), end); m != std::sregex_iterator(); ++m)
        beeps->push_back(atof((*m)[1].str().c_str()));
}

// Sound minus picture (ms) of the first flash at or after `from` (s since
// t0) that has a beep within 400 ms; NAN when there is none.
double offset_after(const std::vector<double>& flashes, const std::vector<double>& beeps, double from)
{
    for (double f : flashes) {
        if (f < from)
            continue;
        for (double b : beeps)
            if (std::fabs(b - f) < 0.4)
                return (b - f) * 1000;
        return NAN;
    }
    return NAN;
}

double wall_seconds()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
}

TEST_F(DesktopTest, the_first_flash_of_an_item_and_the_first_after_a_seek_come_with_their_beeps)
{
    start_sound_server();
    // The window is centred on the 1280x1024 screen: the patch is the
    // screen's middle, so the capture can start before the window does.
    const long t0 = long(wall_seconds());
    const std::string luma = dir + "/luma.txt", log = dir + "/capture.log";
    char graph[512];
    snprintf(graph, sizeof graph,
             "[0:v]setpts=PTS-%ld/TB,format=yuv444p,signalstats,"
             "metadata=mode=print:key=lavfi.signalstats.YAVG:direct=1:file=%s[v];"
             "[1:a]asetpts=PTS-%ld/TB,silencedetect=n=-30dB:d=0.1[a]",
             t0, luma.c_str(), t0);
    pid_t capture = spawn({"sh", "-c",
                           "exec ffmpeg -nostdin -hide_banner -loglevel info -thread_queue_size 1024 -f x11grab "
                           "-draw_mouse 0 -framerate 100 -video_size 32x32 -i " + display +
                               "+624,496 -thread_queue_size 1024 -f pulse -fragment_size 1920 -i "
                               "moravista_null.monitor -copyts -filter_complex '" + graph +
                               "' -map '[v]' -f null - -map '[a]' -f null - 2>'" + log + "'"});
    for (int i = 0; i < 300 && read_file(luma).size() < 200; i++)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(read_file(luma).size(), 200u) << read_file(log);
    std::this_thread::sleep_for(1s); // past the burst of a late-starting grab

    const std::string script = dir + "/input.txt";
    std::ofstream(script) << "3500 seek 5600\n6500 quit\n";
    const double launch = wall_seconds() - double(t0);
    start_player({"--no-settings", "--input=" + script, MV_FIXTURES_DIR "/flash_beep.mkv"});
    ASSERT_NE(wait_exit(player, 20s * TIME_SCALE), -1);
    player = -1;
    kill(capture, SIGINT);
    wait_exit(capture, 5s);

    std::vector<double> flashes, beeps;
    onsets(luma, log, &flashes, &beeps);
    const double first = offset_after(flashes, beeps, launch);
    const double after_seek = offset_after(flashes, beeps, launch + 3.5);
    // Loose bounds for a loaded machine; the benchmark holds the tight ones.
    EXPECT_LE(std::fabs(first), 45.0) << "first flash of the item";
    EXPECT_LE(std::fabs(after_seek), 45.0) << "first flash after the seek";
    EXPECT_GE(flashes.size(), 4u) << "pictures went missing";
}

} // namespace
