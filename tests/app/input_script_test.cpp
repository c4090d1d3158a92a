// The headless input script: what a line means, and that bad lines are
// reported and skipped rather than stopping the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/app.h"

namespace {

TEST(InputScript, reads_each_action_with_its_time_and_argument)
{
    struct Case {
        const char* line;
        uint32_t at_ms;
        InputActionKind kind;
        int32_t argument;
    } cases[] = {
        {"0 seek 1500", 0, INPUT_SEEK, 1500},   {"250 pause", 250, INPUT_PAUSE, 0},
        {"300 play\r\n", 300, INPUT_PLAY, 0},   {"10 step", 10, INPUT_STEP, 0},
        {"5 volume 300", 5, INPUT_VOLUME, 300}, {"7 track 1020", 7, INPUT_TRACK, 1020},
        {"8 open 3", 8, INPUT_OPEN, 3},         {" 9\tnext", 9, INPUT_NEXT, 0},
        {"11 prev", 11, INPUT_PREV, 0},         {"12 stop", 12, INPUT_STOP, 0},
        {"4000 quit", 4000, INPUT_QUIT, 0},     {"20 menu", 20, INPUT_MENU, 0},
        {"21 dialog", 21, INPUT_DIALOG, 0},
    };
    for (const Case& c : cases) {
        InputAction action{};
        ASSERT_TRUE(input_script_parse_line(c.line, &action)) << c.line;
        EXPECT_EQ(action.at_ms, c.at_ms) << c.line;
        EXPECT_EQ(action.kind, c.kind) << c.line;
        EXPECT_EQ(action.argument, c.argument) << c.line;
    }
}

TEST(InputScript, reads_the_windows_own_input_with_keys_points_and_buttons)
{
    struct Case {
        const char* line;
        InputActionKind kind;
        int32_t argument, x, y, modifiers;
    } cases[] = {
        {"1 key space", INPUT_KEY, KEY_SPACE, 0, 0, 0},
        {"1 key ctrl+Left", INPUT_KEY, KEY_LEFT, 0, 0, int32_t(KEY_MOD_CTRL)},
        {"1 key ctrl+shift+alt+Next", INPUT_KEY, KEY_PAGE_DOWN, 0, 0,
         int32_t(KEY_MOD_CTRL | KEY_MOD_SHIFT | KEY_MOD_ALT)},
        {"1 key shift+Prior", INPUT_KEY, KEY_PAGE_UP, 0, 0, int32_t(KEY_MOD_SHIFT)},
        {"1 key c", INPUT_KEY, 'C', 0, 0, 0},
        {"1 key 2", INPUT_KEY, '2', 0, 0, 0},
        {"1 key KP_3", INPUT_KEY, '3', 0, 0, 0},
        {"1 key Return", INPUT_KEY, KEY_RETURN, 0, 0, 0},
        {"1 key XF86AudioNext", INPUT_KEY, KEY_MEDIA_NEXT, 0, 0, 0},
        {"1 key XF86Back", INPUT_KEY, KEY_BROWSER_BACK, 0, 0, 0},
        {"1 click 10 20 left", INPUT_CLICK, BUTTON_LEFT, 10, 20, 0},
        {"1 click -5 -7 double", INPUT_CLICK, BUTTON_DOUBLE, -5, -7, 0},
        {"1 click 0 0 middle", INPUT_CLICK, BUTTON_MIDDLE, 0, 0, 0},
        {"1 move 480 530", INPUT_MOVE, 0, 480, 530, 0},
        {"1 leave", INPUT_LEAVE, 0, 0, 0, 0},
        {"1 wheel -3", INPUT_WHEEL, -3, 0, 0, 0},
        {"1 command 1004", INPUT_COMMAND, 1004, 0, 0, 0},
    };
    for (const Case& c : cases) {
        InputAction action{};
        ASSERT_TRUE(input_script_parse_line(c.line, &action)) << c.line;
        EXPECT_EQ(action.kind, c.kind) << c.line;
        EXPECT_EQ(action.argument, c.argument) << c.line;
        EXPECT_EQ(action.x, c.x) << c.line;
        EXPECT_EQ(action.y, c.y) << c.line;
        EXPECT_EQ(action.modifiers, c.modifiers) << c.line;
    }
}

TEST(InputScript, refuses_garbage_and_arguments_out_of_range)
{
    for (const char* line : {"", "seek 100", "100", "100 jump", "100 seek", "100 seek -5", "100 volume 301",
                             "100 track 12", "100 pause now", "-5 pause", "99999999999 pause", "100 seek 1e3",
                             "100 open x", "1 key", "1 key Nothing", "1 key ctrl+", "1 key space extra",
                             "1 click 1 2", "1 click 1 99999 left", "1 click 1 2 side", "1 move 1", "1 wheel 0", "1 wheel x",
                             "1 command -1", "1 leave now", "100 menu 2"}) {
        InputAction action{};
        EXPECT_FALSE(input_script_parse_line(line, &action)) << '"' << line << '"';
    }
}

TEST(InputScript, a_file_with_bad_lines_keeps_the_good_ones_in_time_order)
{
    std::string path = testing::TempDir() + "/input_script.txt";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("# comment\n500 pause\nthis is not an action\n\n100 seek 2000\n", f);
    fputs(std::string(3000, 'x').c_str(), f); // an overlong line
    fputs("\n100 volume 50\n900 quit", f);    // no newline at the end
    fclose(f);
    InputScript script{};
    ASSERT_TRUE(input_script_load(&script, path.c_str()));
    ASSERT_EQ(script.actions.size(), 4u);
    EXPECT_EQ(script.actions[0].kind, INPUT_SEEK);
    EXPECT_EQ(script.actions[1].kind, INPUT_VOLUME); // same time: file order kept
    EXPECT_EQ(script.actions[2].kind, INPUT_PAUSE);
    EXPECT_EQ(script.actions[3].kind, INPUT_QUIT);
    EXPECT_FALSE(input_script_load(&script, "/nonexistent/input.txt"));
}

} // namespace
