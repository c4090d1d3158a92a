// The window's input in a headless run: scripted keys, clicks, wheel turns
// and commands go through the same window procedure and regions as a real
// window, and the statistics tell the notices shown and the state at exit.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/fixtures.h"

namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int run(const std::string& arguments)
{
    std::string command = std::string(MV_BINARY) + " --headless --no-settings " + arguments + " 2>/dev/null";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(WindowInputRun, scripted_keys_clicks_wheel_and_commands_act_and_are_reported)
{
    char dir_template[] = "/tmp/window-input-run-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    std::string dir = dir_template;
    // From 1.5 s on, when the item has long been open even on a loaded
    // machine; its two subtitles show from start to end.
    std::ofstream(dir + "/script.txt") << "1500 key Up\n"
                                          "1600 move 480 270\n"
                                          "1650 wheel 2\n"
                                          "1700 key space\n"
                                          "2000 key c\n"
                                          "2200 key space\n"
                                          "2300 command 1004\n"
                                          "2400 click 480 530 left\n"
                                          "3500 move 480 530\n"
                                          "4000 click 955 10 left\n"
                                          "15000 quit\n";
    int code = run("--input=" + dir + "/script.txt --stats=" + dir + "/stats.json --copy-text-to=" + dir +
                   "/text.txt " + fixture_path("input_subtitles.mkv"));
    EXPECT_EQ(code, 0);
    std::string stats = read_all(dir + "/stats.json");
    // Up from 110, then two notches away from the user.
    EXPECT_TRUE(has(stats, "\"text\":\" 设置音量 120 [扩大] \"")) << stats;
    EXPECT_TRUE(has(stats, "\"text\":\" 设置音量 140 [扩大] \"")) << stats;
    EXPECT_TRUE(has(stats, "\"text\":\" 顶部显示标题信息 \"")) << stats;
    // A click on the middle of the progress bar: (duration - 1) x 476 / 952.
    size_t at = stats.find("\"duration_ms\":");
    ASSERT_NE(at, std::string::npos) << stats;
    int duration = atoi(stats.c_str() + at + 14);
    EXPECT_TRUE(has(stats, "\"target_ms\":" + std::to_string((duration - 1) * 476 / 952) + ",")) << stats;
    // The click on the close button ended the run long before the quit.
    EXPECT_TRUE(has(stats, "\"exit_reason\":\"quit\"")) << stats;
    EXPECT_TRUE(has(stats, "\"volume\":140,")) << stats;
    EXPECT_TRUE(has(stats, "\"playing\":1,")) << stats;
    EXPECT_TRUE(has(stats, "\"hover_region\":5,")) << stats;
    EXPECT_TRUE(has(stats, "\"item_count\":1,")) << stats;
    EXPECT_TRUE(has(stats, "\"settings\":{\"总在最前\":0,\"标题信息\":1,")) << stats;
    EXPECT_TRUE(has(stats, "\"音量\":140,\"保存列表\":1,")) << stats;
    EXPECT_EQ(read_all(dir + "/text.txt"), "第一行字幕\r\nSecond line");
    EXPECT_TRUE(has(stats, "\"text\":\" 当前字幕已复制到剪贴板! \"")) << stats;
}

} // namespace
