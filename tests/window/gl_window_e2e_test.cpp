// The GL path in the real program's window on a private X server, drawn by
// Mesa's software renderer: asked for with --gpu it shows the picture and
// the statistics name it; left to choose, the program sees that OpenGL
// runs in software and draws on the CPU, saying so once on stderr.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop_test;

TEST_F(DesktopTest, the_window_shows_video_through_opengl_when_asked_and_on_the_cpu_when_opengl_is_software)
{
    struct Case {
        bool gpu;
        const char* presenter;
        const char* says; // what stderr holds about the path
    } cases[] = {
        {true, "\"presenter\":\"gl\"", nullptr},
        {false, "\"presenter\":\"cpu\"", "OpenGL runs in software here"},
    };
    for (const Case& c : cases) {
        const std::string stats = dir + "/stats.json";
        std::vector<std::string> args{"--audio=null", "--no-settings", "--quit-at-end", "--stats=" + stats};
        if (c.gpu)
            args.push_back("--gpu");
        args.push_back(fixture_path("h264_aac.mp4"));
        start_player(args);
        unsigned long window = find_window();
        ASSERT_NE(window, 0u) << stderr_text();
        // The first picture may take seconds under a sanitizer with a software renderer.
        double colourful = 0;
        for (int i = 0; i < 40 && colourful <= 0.2; i++) {
            std::this_thread::sleep_for(250ms);
            colourful = colourful_share(screenshot(geometry(window)));
        }
        EXPECT_GT(colourful, 0.2)
            << (c.gpu ? "GL" : "CPU") << ": the window does not show the clip's picture";
        const int status = wait_exit(player, 30s);
        player = -1;
        ASSERT_TRUE(WIFEXITED(status)) << stderr_text();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string json = read_file(stats);
        EXPECT_NE(json.find(c.presenter), std::string::npos) << json;
        const std::string err = stderr_text(true);
        EXPECT_EQ(err.find("the GPU path failed"), std::string::npos) << err;
        if (c.says)
            EXPECT_NE(err.find(c.says), std::string::npos) << err;
        else
            EXPECT_EQ(err.find("GPU path is not available"), std::string::npos) << err;
    }
}

} // namespace
