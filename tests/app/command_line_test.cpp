// The program's own options: what is accepted, what is refused, and that
// everything else stays in order for the playlist.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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

namespace {

// The manual page keeps up with the program: every option the help lists
// and every action an input script takes is described there.
TEST(CommandLine, the_manual_page_describes_every_option_and_input_action)
{
    std::ifstream in(MV_SOURCE_DIR "/data/moravista.1");
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(page.empty());
    // The page writes a dash as "\-".
    std::string plain = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    std::string help = command_line_help();
    std::regex option(R"(--[a-z][a-z-]*)");
    int options = 0;
    for (std::sregex_iterator m(help.begin(), help.end(), option), end; m != end; ++m, ++options)
        EXPECT_TRUE(std::regex_search(plain, std::regex("\n\\.B[IR]? " + m->str() + "[= \n]")))
            << m->str() << " is not described";
    EXPECT_GE(options, 15);
    for (const char* line : {"0 seek 5", "0 pause", "0 play", "0 step", "0 volume 5", "0 track 1019", "0 open 1",
                             "0 next", "0 prev", "0 stop", "0 quit", "0 key space", "0 click 1 1 left", "0 move 1 1",
                             "0 leave", "0 wheel 1", "0 command 1000", "0 menu", "0 dialog"}) {
        InputAction action;
        ASSERT_TRUE(input_script_parse_line(line, &action)) << line;
        std::string name = std::string(line).substr(2, std::string(line).find(' ', 2) - 2);
        EXPECT_TRUE(std::regex_search(plain, std::regex("\n\\.B[IR]? [^\n]*\\b" + name + "\\b")))
            << name << " is not described";
    }
    for (const char* topic : {"moravista.ini", "XDG_CONFIG_HOME", ".SH EXIT STATUS"})
        EXPECT_NE(page.find(topic), std::string::npos) << topic;
}

} // namespace
