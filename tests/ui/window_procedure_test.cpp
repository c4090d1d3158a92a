// The window side of the window procedure, driven with synthetic messages and
// a recording desktop: no display is needed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "ui/ui.h"
#include "ui/ui_internal.h"

namespace {

// What the window procedure asked of the desktop, in order.
struct Recorder {
    std::vector<std::string> calls;
    WindowRect work{0, 0, 1920, 1040};
    int32_t screen_width = 1920, screen_height = 1080;
    bool screen_known = true;
    WindowRect last_rect{};
    std::string title;
    int quit_code = -1;
};
Recorder* recorder;

bool fake_query(void*, WindowRect* work, int32_t* w, int32_t* h)
{
    recorder->calls.push_back("query");
    if (!recorder->screen_known)
        return false;
    *work = recorder->work;
    *w = recorder->screen_width;
    *h = recorder->screen_height;
    return true;
}
void fake_move(void*, const WindowRect* r)
{
    recorder->calls.push_back("move");
    recorder->last_rect = *r;
}
void fake_show(void*) { recorder->calls.push_back("show"); }
void fake_raise(void*, int above) { recorder->calls.push_back(above ? "raise above" : "raise normal"); }
void fake_pointer(void*, int visible) { recorder->calls.push_back(visible ? "pointer shown" : "pointer hidden"); }
void fake_title(void*, const char* t)
{
    recorder->calls.push_back("title");
    recorder->title = t;
}
void fake_quit(void*, int code)
{
    recorder->calls.push_back("quit");
    recorder->quit_code = code;
}
const WindowDesktop fake_desktop{nullptr,    fake_query,   fake_move, fake_show, fake_raise,
                                 fake_pointer, fake_title, fake_quit};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder = &rec;
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        w->desktop = &fake_desktop;
        w->work_area = WindowRect{0, 0, 1920, 1040};
    }
    void TearDown() override
    {
        playlist_free(ctx);
        player_context_free(ctx);
        recorder = nullptr;
    }
    intptr_t send(unsigned msg, uintptr_t a = 0, intptr_t b = 0) { return window_procedure(w, msg, a, b); }

    Recorder rec;
    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
};

TEST(FitToWorkArea, shifts_and_shrinks_rectangles_into_the_work_area)
{
    const WindowRect work{0, 0, 1920, 1040};
    const struct {
        const char* name;
        WindowRect in, out;
    } cases[] = {
        {"inside stays", {100, 100, 1060, 640}, {100, 100, 1060, 640}},
        {"larger is shrunk to the work area at its top-left", {-50, -20, 2500, 1500}, {0, 0, 1920, 1040}},
        {"hanging past the right moves left by the overhang", {1000, 100, 2000, 600}, {920, 100, 1920, 600}},
        {"hanging past the left moves right by the gap", {-30, 100, 970, 600}, {0, 100, 1000, 600}},
        {"hanging past the bottom moves up", {10, 900, 970, 1440}, {10, 500, 970, 1040}},
        {"above the top moves down", {10, -5, 970, 535}, {10, 0, 970, 540}},
        {"too wide and too far left keeps the right edge shift", {-100, 0, 2000, 100}, {0, 0, 1920, 100}},
    };
    for (const auto& c : cases) {
        WindowRect r = c.in;
        fit_rect_into(&work, &r);
        EXPECT_EQ(r.left, c.out.left) << c.name;
        EXPECT_EQ(r.top, c.out.top) << c.name;
        EXPECT_EQ(r.right, c.out.right) << c.name;
        EXPECT_EQ(r.bottom, c.out.bottom) << c.name;
    }
}

TEST(FitToWorkArea, extreme_values_from_a_file_do_not_overflow)
{
    const WindowRect work{0, 0, 1920, 1040};
    WindowRect r{INT32_MIN + 1, INT32_MIN + 1, INT32_MAX, INT32_MAX};
    fit_rect_into(&work, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 1920);
    EXPECT_EQ(r.bottom, 1040);
}

TEST_F(WindowTest, the_default_placement_is_960_by_540_centred_in_the_work_area)
{
    w->work_area = WindowRect{0, 30, 1281, 1024};
    WindowRect r = window_default_rect(w);
    EXPECT_EQ(r.left, 160); // (1281 - 960) / 2 truncates
    EXPECT_EQ(r.top, 30 + 227);
    EXPECT_EQ(r.right - r.left, 960);
    EXPECT_EQ(r.bottom - r.top, 540);
}

TEST_F(WindowTest, creation_tracks_the_work_area_titles_takes_the_command_line_and_shows_the_window_centred)
{
    rec.work = WindowRect{0, 0, 1280, 1000};
    std::vector<std::string> items{"/x=1", "/title=Film", "/media/a.mkv", "/media/b.mkv", "/late=1"};
    CommandLinePlaylist playlist = command_line_playlist_of(ctx);
    WindowCreation creation{&items, &playlist, nullptr};
    send(MSG_CREATE, reinterpret_cast<uintptr_t>(&creation));
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"query", "title", "move", "show"}));
    EXPECT_EQ(rec.title, title_base_text());
    EXPECT_EQ(w->screen_width, 1920);
    EXPECT_EQ(rec.last_rect.left, 160);
    EXPECT_EQ(rec.last_rect.top, 230);
    EXPECT_EQ(rec.last_rect.right, 1120);
    EXPECT_EQ(rec.last_rect.bottom, 770);
    ASSERT_EQ(ctx->item_count.load(), 2u);
    EXPECT_STREQ(ctx->playlist.items[0].params, "x=1");
    EXPECT_STREQ(ctx->playlist.items[0].title, "Film");
    EXPECT_EQ(ctx->playlist.items[1].params, nullptr);
    EXPECT_EQ(ctx->playlist.items[1].title, nullptr);
}

PlayerContext* loaded_by;
TEST_F(WindowTest, creation_leaves_placing_and_showing_to_the_settings_when_they_are_read)
{
    loaded_by = nullptr;
    WindowCreation creation{nullptr, nullptr, [](PlayerContext* c) { loaded_by = c; }};
    send(MSG_CREATE, reinterpret_cast<uintptr_t>(&creation));
    EXPECT_EQ(loaded_by, ctx);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"query", "title"}));
}

TEST_F(WindowTest, work_area_tracking_follows_the_desktop_and_moves_full_screen_and_maximised_windows)
{
    const struct {
        const char* name;
        int32_t mode;
        bool known;
        std::vector<std::string> calls;
        WindowRect moved_to;
    } cases[] = {
        {"windowed: only the values change", 0, true, {"query"}, {}},
        {"full screen covers the screen", 1, true, {"query", "move"}, {0, 0, 1920, 1080}},
        {"maximised covers the work area", -1, true, {"query", "move"}, {0, 0, 1920, 1040}},
        {"an unknown screen keeps the last values", 1, false, {"query"}, {}},
    };
    for (const auto& c : cases) {
        rec.calls.clear();
        rec.screen_known = c.known;
        w->screen_mode = c.mode;
        w->work_area = WindowRect{0, 0, 800, 600};
        send(MSG_DISPLAY_CHANGE);
        EXPECT_EQ(rec.calls, c.calls) << c.name;
        EXPECT_EQ(w->work_area.right, c.known ? 1920 : 800) << c.name;
        if (c.calls.size() > 1) {
            EXPECT_EQ(rec.last_rect.right, c.moved_to.right) << c.name;
            EXPECT_EQ(rec.last_rect.bottom, c.moved_to.bottom) << c.name;
        }
    }
}

TEST_F(WindowTest, size_and_show_messages_decide_whether_pictures_are_drawn)
{
    const struct {
        unsigned msg;
        uintptr_t a;
        int32_t visible;
    } cases[] = {
        {MSG_SIZE, SIZE_MINIMIZED, 0}, {MSG_SIZE, SIZE_RESTORED, 1}, {MSG_SIZE, SIZE_MAXHIDE, 0},
        {MSG_SIZE, SIZE_MAXSHOW, 1},   {MSG_SHOW_WINDOW, 0, 0},      {MSG_SHOW_WINDOW, 1, 1},
    };
    for (const auto& c : cases) {
        ctx->copy_request.store(0);
        send(c.msg, c.a);
        EXPECT_EQ(ctx->window_visible.load(), c.visible) << c.msg << " " << c.a;
    }
}

TEST_F(WindowTest, an_exposure_asks_for_a_redraw_only_when_visible_and_keeps_a_pending_copy)
{
    const struct {
        int32_t visible, before, after;
    } cases[] = {{1, 0, 1}, {0, 0, 0}, {1, 2, 2}, {1, 3, 3}};
    for (const auto& c : cases) {
        ctx->window_visible.store(c.visible);
        ctx->copy_request.store(c.before);
        EXPECT_EQ(send(MSG_ERASE_BACKGROUND), 1);
        EXPECT_EQ(ctx->copy_request.load(), c.after);
    }
}

TEST_F(WindowTest, activation_sets_the_focus_state_the_osd_shows)
{
    const struct {
        uintptr_t active;
        int32_t playing, focus;
        intptr_t result;
    } cases[] = {{1, 1, -1, 0}, {0, 0, 1, 1}, {0, 1, 0, 1}, {1, 0, -1, 0}};
    for (const auto& c : cases) {
        ctx->playing.store(c.playing);
        ctx->copy_request.store(0);
        EXPECT_EQ(send(MSG_ACTIVATE, c.active), c.result);
        EXPECT_EQ(ctx->focus_state.load(), c.focus);
        EXPECT_EQ(ctx->copy_request.load(), 1);
    }
}

TEST_F(WindowTest, position_changes_keep_the_client_size_and_the_rectangle_to_save)
{
    WindowRect r{100, 50, 740, 410};
    send(MSG_POSITION_CHANGED, POSITION_MOVED | POSITION_SIZED, reinterpret_cast<intptr_t>(&r));
    EXPECT_EQ(w->window_screen_x, 100);
    EXPECT_EQ(w->window_screen_y, 50);
    EXPECT_EQ(w->window_screen_width, 640);
    EXPECT_EQ(w->client_width, 640);
    EXPECT_EQ(w->client_height, 360);
    EXPECT_EQ(ctx->display.stored_width.load(), 640);
    EXPECT_EQ(ctx->display.stored_height.load(), 360);
    EXPECT_EQ(window_normal_rect(w).right, 740);

    // Full screen: the bookkeeping follows, the rectangle to save does not.
    w->screen_mode = 1;
    WindowRect full{0, 0, 1920, 1080};
    send(MSG_POSITION_CHANGED, POSITION_MOVED | POSITION_SIZED, reinterpret_cast<intptr_t>(&full));
    EXPECT_EQ(w->client_width, 1920);
    EXPECT_EQ(window_normal_rect(w).left, 100);
    EXPECT_EQ(window_normal_rect(w).right, 740);

    // A move alone keeps the size.
    w->screen_mode = 0;
    WindowRect moved{5, 6, 645, 366};
    send(MSG_POSITION_CHANGED, POSITION_MOVED, reinterpret_cast<intptr_t>(&moved));
    EXPECT_EQ(w->window_screen_x, 5);
    EXPECT_EQ(w->client_width, 1920);
}

TEST_F(WindowTest, degenerate_sizes_reach_the_frame_presentation_limited)
{
    const struct {
        WindowRect r;
        int32_t width, height;
    } cases[] = {{{0, 0, 1, 1}, 1, 1}, {{0, 0, 8000, 8000}, 8000, 8000}, {{10, 10, 10, 10}, 1, 1}};
    for (const auto& c : cases) {
        send(MSG_POSITION_CHANGED, POSITION_SIZED, reinterpret_cast<intptr_t>(&c.r));
        EXPECT_EQ(ctx->display.stored_width.load(), c.width);
        EXPECT_EQ(ctx->display.stored_height.load(), c.height);
    }
}

TEST_F(WindowTest, the_engine_can_show_and_raise_the_window_and_hide_the_pointer)
{
    EXPECT_EQ(send(MSG_PLAYLIST, PLAYLIST_SHOW_WINDOW, 1), 0);
    EXPECT_EQ(send(MSG_PLAYLIST, PLAYLIST_SHOW_WINDOW, 0), 0);
    ctx->clock_ticks.store(7);
    ctx->copy_request.store(0);
    EXPECT_EQ(send(MSG_PLAYLIST, PLAYLIST_HIDE_POINTER, 0), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"show", "raise above", "show", "raise normal", "pointer hidden"}));
    EXPECT_EQ(w->cursor_hidden.load(), 1);
    EXPECT_EQ(ctx->clock_ticks.load(), 0);
    EXPECT_EQ(ctx->copy_request.load(), 1);

    rec.calls.clear();
    ctx->clock_ticks.store(7);
    window_show_pointer(w);
    window_show_pointer(w); // already shown: nothing more
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"pointer shown"}));
    EXPECT_EQ(w->cursor_hidden.load(), 0);
    EXPECT_EQ(ctx->clock_ticks.load(), 0);
}

TEST_F(WindowTest, the_other_playlist_sub_codes_reach_the_playlist)
{
    playlist_add_entry(ctx, "/media/a.mkv", 0);
    EXPECT_EQ(send(MSG_PLAYLIST, PLAYLIST_GET_PATH, 0), 1);
    EXPECT_STREQ(ctx->media_path, "/media/a.mkv");
    EXPECT_EQ(send(MSG_PLAYLIST, PLAYLIST_GET_PATH, 5), 0);
    EXPECT_TRUE(rec.calls.empty());
}

int exit_steps_run;
int exit_step_code = -1;
TEST_F(WindowTest, closing_runs_the_exit_sequence_once_and_ends_the_loop_with_the_code)
{
    exit_sequence_add([](PlayerContext*, int code) {
        exit_steps_run++;
        exit_step_code = code;
    });
    send(MSG_CLOSE, 0);
    send(MSG_CLOSE, 0);
    EXPECT_EQ(exit_steps_run, 1);
    EXPECT_EQ(exit_step_code, 0);
    EXPECT_EQ(rec.quit_code, 0);
    EXPECT_EQ(w->exit_code, 0);
}

TEST_F(WindowTest, titles_carry_the_item_label_and_are_cut_to_780_units)
{
    char title[4096];
    format_window_title(ctx, nullptr, title, sizeof title);
    EXPECT_STREQ(title, "Moravista 16.11.18.1022 64位");
    format_window_title(ctx, "", title, sizeof title);
    EXPECT_STREQ(title, "Moravista 16.11.18.1022 64位");

    set_item_label(ctx, 1, 5, "电影"); // the second entry of five
    format_window_title(ctx, "/media/电影.mkv", title, sizeof title);
    EXPECT_STREQ(title, "2/5.电影 / Moravista 16.11.18.1022 64位 / /media/电影.mkv");

    std::string long_name(2000, 'x');
    size_t length = format_window_title(ctx, long_name.c_str(), title, sizeof title);
    EXPECT_EQ(utf16_units(title, length), 780u);

    std::string long_label(1000, 'y');
    set_item_label(ctx, 1, 1, long_label.c_str());
    char label[2048];
    EXPECT_EQ(item_label_copy(ctx, label, sizeof label), 270u);
    set_item_label(ctx, 1, 1, nullptr);
    EXPECT_EQ(item_label_copy(ctx, label, sizeof label), 0u);

    const char* title_text = "a title";
    send(MSG_SET_TITLE, 0, reinterpret_cast<intptr_t>(title_text));
    EXPECT_EQ(rec.title, "a title");
}

} // namespace
