// The menu commands, the system commands, copying the subtitle text and
// the size keys, driven through the window procedure.
#include <cstring>

#include "render/render.h"
#include "ui/input_support.h"

namespace {

using namespace input_test;

class Commands : public InputTest {};

TEST_F(Commands, each_option_command_inverts_its_option_and_shows_the_notice_for_its_new_state)
{
    const struct {
        int32_t id;
        std::atomic<int32_t> Settings::*field;
        const char* on_notice;
        const char* off_notice;
    } cases[] = {
        {1002, &Settings::save_playlist, " 退出时保存列表 ", " 退出时不保存列表 "},
        {1004, &Settings::show_title, " 顶部显示标题信息 ", " 顶部不显示标题信息 "},
        {1005, &Settings::show_progress, " 始终显示播放进度 ", " 自动隐藏播放进度 "},
        {1006, &Settings::standard_sub_style, " 使用标准字幕样式 ", " 不使用标准字幕样式 "},
        {1007, &Settings::subs_outside, " 字幕输出在画面外面 ", " 字幕输出在画面里面 "},
        {1009, &Settings::show_clock, " 开启全屏时显示系统时间 ", " 关闭全屏时显示系统时间 "},
        {1010, &Settings::show_play_info, " 中间显示播放信息 ", " 中间不显示播放信息 "},
        {1011, &Settings::hotkeys_enabled, " 开启全局热键 ", " 关闭全局热键 "},
        {1012, &Settings::cool_menu, " 启用Cool菜单 ", " 关闭Cool菜单 "},
        {1014, &Settings::block_screensaver, " 播放视频时[ 禁止 ]屏保和睡眠 ", " 播放视频时[ 允许 ]屏保和睡眠 "},
        {1015, &Settings::trim_memory, "  自动清理内存 ", "  不清理内存 "},
    };
    for (const auto& c : cases) {
        for (int round = 0; round < 2; round++) {
            int32_t before = (settings.*(c.field)).load();
            send(MSG_COMMAND, uintptr_t(c.id));
            EXPECT_EQ((settings.*(c.field)).load(), !before) << c.id;
            EXPECT_EQ(notice(), before ? c.off_notice : c.on_notice) << c.id;
        }
    }
    EXPECT_EQ(ctx->subtitles.standard_style_on.load(), settings.standard_sub_style.load());
}

TEST_F(Commands, hardware_decoding_stays_off_when_the_service_cannot_start_and_can_always_be_switched_off)
{
    send(MSG_COMMAND, 1013);
    EXPECT_EQ(settings.hw_decode.load(), 0);
    EXPECT_EQ(notice(), " 关闭硬件解码(下个文件生效) ");
    send(MSG_COMMAND, 1013);
    EXPECT_EQ(settings.hw_decode.load(), 0);
    EXPECT_EQ(notice(), " 开启硬件解码失败 ");
}

TEST_F(Commands, request_commands_write_their_request_fields)
{
    open_item(600000, true, 10000);
    add_entries(3);
    delete ctx->menu_source;
    ctx->menu_source = new MenuSource{{}, {{0, 300000, ""}, {300000, 600000, ""}}};
    ctx->chapter_count.store(2);
    const struct {
        int32_t id;
        std::atomic<int32_t> PlayerContext::*field;
        int32_t expected;
    } cases[] = {
        {1017, &PlayerContext::copy_request, 2},        {1018, &PlayerContext::copy_request, 3},
        {1019, &PlayerContext::track_switch_request, 1019}, {2021, &PlayerContext::track_switch_request, 2021},
        {3023, &PlayerContext::seek_target_ms, 300000}, {3024, &PlayerContext::seek_target_ms, -1},
        {4025, &PlayerContext::open_index, 2},          {4026, &PlayerContext::open_index, -1},
    };
    for (const auto& c : cases) {
        ctx->copy_request.store(0);
        ctx->track_switch_request.store(-1);
        seek_clear(ctx);
        ctx->open_index.store(-1);
        send(MSG_COMMAND, uintptr_t(c.id));
        EXPECT_EQ((ctx->*(c.field)).load(), c.expected) << c.id;
    }
    send(MSG_COMMAND, 1008);
    EXPECT_EQ(record->posted, std::vector<unsigned>{MSG_CLOSE});
}

TEST_F(Commands, subtitles_off_and_on_again)
{
    ctx->subtitle_choice.store(-1);
    send(MSG_COMMAND, 3021);
    EXPECT_EQ(ctx->subtitle_choice.load(), -2);
    EXPECT_EQ(ctx->track_switch_request.load(), 3021);
    EXPECT_EQ(notice(), " 禁用字幕 ");
    send(MSG_COMMAND, 3021);
    EXPECT_EQ(ctx->subtitle_choice.load(), -1);
    EXPECT_EQ(notice(), " 使用字幕 ");
}

TEST_F(Commands, the_window_managers_commands_follow_the_screen_mode)
{
    const struct {
        const char* name;
        int32_t screen_mode;
        int32_t on_top;
        uintptr_t command;
        bool minimised;
    } cases[] = {
        {"minimise", 0, 0, SYSTEM_MINIMIZE, true},
        {"minimise in full screen", 1, 0, SYSTEM_MINIMIZE, true},
        {"minimise always on top is swallowed", 0, 1, SYSTEM_MINIMIZE, false},
        {"maximise becomes the work-area toggle", 0, 0, SYSTEM_MAXIMIZE, false},
        {"size is swallowed", 1, 0, SYSTEM_SIZE, false},
    };
    for (const auto& c : cases) {
        record->desktop.clear();
        w->screen_mode = c.screen_mode;
        settings.always_on_top.store(c.on_top);
        send(MSG_SYS_COMMAND, c.command);
        EXPECT_EQ(!record->desktop.empty() && record->desktop.back() == "minimize", c.minimised) << c.name;
    }
}

// ---- copying the subtitle text ----

std::string copied;
int clipboard_answer = 1;
int fake_clipboard(void*, int format, const void* data)
{
    if (format == CLIPBOARD_TEXT)
        copied = static_cast<const char*>(data);
    return clipboard_answer;
}

class CopyText : public InputTest {
public:
    void SetUp() override
    {
        InputTest::SetUp();
        copied.clear();
        clipboard_answer = 1;
        render_set_clipboard_hook(fake_clipboard, nullptr);
        ASS_Track* track = ass_new_track(ctx->subtitles.ass_library);
        ctx->subtitles.sub_track.store(track);
    }
    void TearDown() override
    {
        render_set_clipboard_hook(nullptr, nullptr);
        InputTest::TearDown();
    }
    void event(long long start, long long duration, const char* text)
    {
        ASS_Track* track = ctx->subtitles.sub_track.load();
        int index = ass_alloc_event(track); // may move the events
        ASS_Event* e = &track->events[index];
        e->Start = start;
        e->Duration = duration;
        e->Text = strdup(text);
    }
};

TEST_F(CopyText, the_events_showing_now_go_to_the_clipboard_joined_by_cr_lf)
{
    event(0, 5000, "第一句");
    event(1000, 1000, "");
    event(2000, 500, "{\\i1}tagged");
    event(2600, 100, "later");
    event(1500, 500, "ends at the clock");
    ctx->clock_ms.store(2000);
    key('C');
    EXPECT_EQ(copied, "第一句\r\n{\\i1}tagged\r\nends at the clock");
    EXPECT_EQ(notice(), " 当前字幕已复制到剪贴板! ");
    copied.clear();
    ctx->clock_ms.store(9000);
    send(MSG_COMMAND, 1016);
    EXPECT_EQ(copied, "");
    EXPECT_EQ(notice(), " 没有字幕! ");
}

TEST_F(CopyText, a_clipboard_that_refuses_the_text_gives_the_failure_notice)
{
    event(0, 5000, "text");
    clipboard_answer = 0;
    key('C');
    EXPECT_EQ(notice(), " 没有字幕! ");
}

TEST_F(CopyText, the_text_is_limited_to_a_block_of_1_mib)
{
    std::string line(300000, 'x');
    for (int i = 0; i < 4; i++)
        event(0, 5000, line.c_str());
    key('C');
    // One whole line and its separator, then the block is full.
    ASSERT_EQ(copied.size(), size_t(0x80000 - 1));
    EXPECT_EQ(copied.substr(300000, 2), "\r\n");
    EXPECT_EQ(copied.find("\r\n", 300002), std::string::npos);
}

// ---- the size keys ----

TEST(SizeKeys, the_window_follows_the_video_height_inside_the_work_area)
{
    const WindowRect work{0, 0, 1920, 1080};
    const struct {
        const char* name;
        WindowRect window;
        int32_t digit, video_height;
        uint32_t aspect_width, aspect_height;
        WindowRect out;
    } cases[] = {
        {"2 on 1080 lines fills the work area's height", {480, 270, 1440, 810}, 2, 1080, 16, 9, {0, 0, 1920, 1080}},
        {"1 on 720 lines is 360 high, centred", {480, 270, 1440, 810}, 1, 720, 16, 9, {640, 360, 1280, 720}},
        {"the width is made even", {100, 100, 500, 400}, 2, 333, 4, 3, {78, 84, 522, 417}},
        {"a window on the left edge keeps it", {0, 100, 960, 640}, 3, 480, 16, 9, {0, 10, 1280, 730}},
        {"a window on the right edge keeps it", {960, 100, 1920, 640}, 3, 480, 16, 9, {640, 10, 1920, 730}},
        {"at least 100 high", {480, 270, 1440, 810}, 1, 120, 16, 9, {871, 490, 1049, 590}},
        {"too wide for the work area", {480, 270, 1440, 810}, 5, 1080, 32, 9, {0, 270, 1920, 810}},
    };
    for (const auto& c : cases) {
        WindowRect out{};
        ASSERT_TRUE(size_key_rect(&c.window, &work, c.digit, c.video_height, c.aspect_width, c.aspect_height, &out))
            << c.name;
        EXPECT_EQ(out.left, c.out.left) << c.name;
        EXPECT_EQ(out.top, c.out.top) << c.name;
        EXPECT_EQ(out.right, c.out.right) << c.name;
        EXPECT_EQ(out.bottom, c.out.bottom) << c.name;
    }
    WindowRect out{};
    WindowRect window{0, 0, 100, 100};
    EXPECT_FALSE(size_key_rect(&window, &work, 2, 0, 16, 9, &out)) << "no video height";
    EXPECT_FALSE(size_key_rect(&window, &work, 2, 480, 0, 0, &out)) << "no aspect";
}

TEST_F(Commands, size_keys_move_the_window_only_for_an_item_with_video)
{
    open_item(60000, false);
    key('2');
    EXPECT_TRUE(record->desktop.empty());
    open_item(60000, true);
    w->work_area = WindowRect{0, 0, 1920, 1080};
    key('2');
    ASSERT_EQ(record->desktop, std::vector<std::string>{"move"});
    EXPECT_EQ(record->last_rect.bottom - record->last_rect.top, 1080);
}

} // namespace
