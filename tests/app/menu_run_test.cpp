// The context menu of the real program without a window: the input
// script's "menu" builds it as a right click would, and the statistics
// record the tree as it was last shown.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/desktop.h"
#include "support/fixtures.h"

namespace {

using desktop_test::read_file;

// The JSON object of the leaf item with this identifier ("" when absent).
std::string item_json(const std::string& stats, int id)
{
    size_t at = stats.find("{\"id\":" + std::to_string(id) + ",");
    if (at == std::string::npos)
        return "";
    return stats.substr(at, stats.find('}', at) - at + 1);
}

int run_with_script(const std::string& dir, const std::string& script, const std::string& items)
{
    std::ofstream(dir + "/menu_script.txt") << script;
    std::string command = std::string(MV_BINARY) + " --headless --no-settings --audio=null --input=" + dir +
                          "/menu_script.txt --stats=" + dir + "/menu_stats.json " + items + " 2>" + dir +
                          "/menu_stderr.txt";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MenuRun, the_menu_lists_the_tracks_and_chapters_and_marks_the_second_sound_track_once_chosen)
{
    std::string dir = make_test_folder("menu-run");
    std::string clip = fixture_path("tracks.mkv");
    // Paused, so that the 3 s item is not closed and opened again around a
    // menu on a slow machine; the second sound track is chosen through the
    // menu's identifier, then the menu is shown again.
    ASSERT_EQ(run_with_script(dir, "1200 pause\n1500 menu\n2000 track 1021\n3500 menu\n4000 quit\n", clip), 0);
    std::string stats = read_file(dir + "/menu_stats.json");
    ASSERT_NE(stats.find("\"menu\":[{\"id\":0,\"text\":\"列表\""), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 4023).find("\"text\":\"    1 - " + clip + "\",\"checked\":true"), std::string::npos);
    const struct {
        int id;
        const char* text_start;
        bool checked;
    } tracks[] = {
        {1019, "#0 / 320x240 / ", true},
        {1020, "#1 / 1声道 / 48000Hz / aac", false},
        {1021, "#2 / 1声道 / 44100Hz / aac", true},
        {1022, "#3 / ass", true},
    };
    for (const auto& t : tracks) {
        std::string item = item_json(stats, t.id);
        EXPECT_NE(item.find(std::string("\"text\":\"") + t.text_start), std::string::npos) << item;
        EXPECT_NE(item.find(t.checked ? "\"checked\":true" : "\"checked\":false"), std::string::npos) << item;
    }
    // The two chapters with their titles, as radio items; the copy commands of
    // the video and subtitle submenus; the attached font is no track.
    EXPECT_NE(item_json(stats, 3022).find(" / 开始\",\"checked\":"), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 3023).find(" / Second\",\"checked\":"), std::string::npos);
    EXPECT_NE(item_json(stats, 3022).find("\"radio\":true"), std::string::npos);
    EXPECT_NE(item_json(stats, 1017).find("复制当前图像到剪贴板(&C)\\tCtrl+C"), std::string::npos);
    EXPECT_NE(item_json(stats, 1016).find("复制当前字幕到剪贴板(&C)\\tC"), std::string::npos);
    EXPECT_EQ(item_json(stats, 1023), "");
    EXPECT_NE(item_json(stats, 1008).find("退出(&X)"), std::string::npos);
}

TEST(MenuRun, names_with_control_characters_tabs_ampersands_and_broken_bytes_give_a_menu)
{
    std::string dir = make_test_folder("menu-run");
    std::string names;
    for (const char* name : {"a&b.mkv", "tab\there.mkv", "line\nbreak.mkv", "bad\xff\xfe.mkv"})
        names += " '" + dir + "/" + name + "'";
    names += " '" + dir + "/" + std::string(700, 'x') + "'";
    names += " '" + dir + "/" + std::string(4000, 'y') + "'"; // too long to open: not listed
    // Nothing plays (the files do not exist): the menu still opens.
    ASSERT_NE(run_with_script(dir, "300 menu\n900 quit\n", names), -1);
    std::string stats = read_file(dir + "/menu_stats.json");
    EXPECT_NE(item_json(stats, 4023).find("/a&&b.mkv\""), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 4024).find("/tab here.mkv\""), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 4025).find("/line break.mkv\""), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 4026).find("/bad"), std::string::npos) << stats;
    EXPECT_NE(item_json(stats, 4027).find("xxxx\""), std::string::npos) << stats;
    EXPECT_LT(item_json(stats, 4027).size(), 400u) << "the long name is cut";
    EXPECT_EQ(item_json(stats, 4028), "");
    // Nothing is open: list, subtitles, settings and exit only.
    EXPECT_EQ(stats.find("\"text\":\"视频\""), std::string::npos);
    EXPECT_EQ(stats.find("\"text\":\"章节\""), std::string::npos);
}

} // namespace
