// The program's own options: what is accepted, what is refused, and that
// everything else stays in order for the playlist.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"

namespace {

CommandLine parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "moravista");
    return parse_command_line(int(args.size()), const_cast<char**>(args.data()));
}

TEST(CommandLine, reads_every_option_and_keeps_items_in_order)
{
    CommandLine cl = parse({"/title=A", "a.mkv", "--headless", "--audio=wav:/tmp/o.wav", "--quit-at-end",
                            "--input=in.txt", "--stats=s.json", "--no-settings", "--size=640x360",
                            "--snapshot=0:first.png", "--snapshot=1500:later.png", "--copy-to=c.png", "/sub=x",
                            "b.mp4"});
    EXPECT_TRUE(cl.error.empty()) << cl.error;
    EXPECT_TRUE(cl.headless && cl.quit_at_end && cl.no_settings);
    EXPECT_EQ(cl.audio, "wav:/tmp/o.wav");
    EXPECT_EQ(cl.input_path, "in.txt");
    EXPECT_EQ(cl.stats_path, "s.json");
    EXPECT_EQ(cl.copy_to, "c.png");
    EXPECT_EQ(cl.width, 640);
    EXPECT_EQ(cl.height, 360);
    ASSERT_EQ(cl.snapshots.size(), 2u);
    EXPECT_EQ(cl.snapshots[1].at_ms, 1500);
    EXPECT_EQ(cl.snapshots[1].path, "later.png");
    EXPECT_EQ(cl.items, (std::vector<std::string>{"/title=A", "a.mkv", "/sub=x", "b.mp4"}));
}

TEST(CommandLine, refuses_malformed_options_with_a_message)
{
    for (const char* bad : {"--audio=alsa", "--audio=wav:", "--size=0x10", "--size=640", "--size=640x",
                            "--snapshot=abc:x.png", "--snapshot=10:", "--snapshot=-1:x.png", "--input=",
                            "--frobnicate"}) {
        CommandLine cl = parse({bad});
        EXPECT_FALSE(cl.error.empty()) << bad;
    }
}

TEST(CommandLine, a_double_dash_ends_the_options)
{
    CommandLine cl = parse({"--", "--headless"});
    EXPECT_FALSE(cl.headless);
    EXPECT_EQ(cl.items, (std::vector<std::string>{"--headless"}));
}

} // namespace
