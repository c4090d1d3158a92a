// Window modes, always on top and the tray, driven through the window
// procedure and the routines the input calls, against a recording desktop
// with two monitors side by side; the window sits on the right-hand one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/ui.h"
#include "ui/menu_internal.h"
#include "ui/ui_internal.h"

namespace {

struct Posted {
    unsigned msg;
    uintptr_t a;
    intptr_t b;
};

struct Desk {
    std::vector<std::string> calls;
    WindowRect monitor{1920, 0, 3840, 1080};
    WindowRect work{1920, 0, 3840, 1040};
    WindowRect last_rect{};
    int fullscreen_hint = 0;
    int band = -1;
    int ctrl = 0;
    int tray = 1; // a tray host is there
    std::string tip, summary, body;
    std::vector<Posted> posted;
    std::vector<std::string> notices;
};
Desk* desk;

void record(const std::string& call)
{
    desk->calls.push_back(call);
}
bool query(void*, WindowRect* work, int32_t* w, int32_t* h)
{
    *work = WindowRect{0, 0, 1920, 1040};
    *w = 1920;
    *h = 1080;
    return true;
}
bool query_monitor(void*, WindowRect* monitor, WindowRect* work)
{
    *monitor = desk->monitor;
    *work = desk->work;
    return true;
}
void move(void*, const WindowRect* r)
{
    record("move");
    desk->last_rect = *r;
}
void show(void*) { record("show"); }
void raise(void*, int above) { record(above ? "raise above" : "raise normal"); }
void fullscreen_hint(void*, int on)
{
    record(on ? "fullscreen on" : "fullscreen off");
    desk->fullscreen_hint = on;
}
void unmaximize(void*) { record("unmaximize"); }
void band(void*, int on)
{
    record(on ? "band top" : "band normal");
    desk->band = on;
}
void hide(void*) { record("hide"); }
int ctrl_held(void*) { return desk->ctrl; }
void tray_show(void*, const char* tip)
{
    record("tray shown");
    desk->tip = tip;
}
void tray_hide(void*) { record("tray hidden"); }
int tray_available(void*) { return desk->tray; }
void minimize(void*) { record("minimise"); }
void tray_tip(void*, const char* tip) { desk->tip = tip; }
void balloon_show(void*, const char* summary, const char* body)
{
    record("balloon");
    desk->summary = summary;
    desk->body = body;
}
void balloon_close(void*) { record("balloon closed"); }

WindowDesktop make_desktop()
{
    WindowDesktop d{};
    d.query_screen = query;
    d.move_resize = move;
    d.show = show;
    d.raise = raise;
    d.query_monitor = query_monitor;
    d.set_fullscreen_hint = fullscreen_hint;
    d.unmaximize = unmaximize;
    d.set_band = band;
    d.hide = hide;
    d.ctrl_held = ctrl_held;
    d.tray_available = tray_available;
    d.minimize = minimize;
    d.tray_show = tray_show;
    d.tray_hide = tray_hide;
    d.tray_set_tip = tray_tip;
    d.balloon_show = balloon_show;
    d.balloon_close = balloon_close;
    return d;
}
const WindowDesktop fake = make_desktop();

intptr_t loop_send(void*, unsigned, uintptr_t, intptr_t)
{
    return 0;
}
void loop_post(void*, unsigned msg, uintptr_t a, intptr_t b)
{
    desk->posted.push_back(Posted{msg, a, b});
}
const WindowLoop loop{loop_send, loop_post, nullptr};

void record_notice(PlayerContext*, const char* text)
{
    desk->notices.push_back(text);
}

const WindowRect WINDOWED{2100, 200, 3060, 740};

class ModesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desk = &d;
        settings_reset(&settings);
        window_bridge_install(&loop);
        set_notice_hook(record_notice);
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        w->desktop = &fake;
        w->work_area = WindowRect{0, 0, 1920, 1040};
        w->screen_width = 1920;
        w->screen_height = 1080;
        window_place_and_show(w, &WINDOWED);
        d.calls.clear();
    }
    void TearDown() override
    {
        // A right click on the tray icon builds the menu and caches it.
        menu_free_cached(ctx);
        window_bridge_install(nullptr);
        set_notice_hook(nullptr);
        settings_reset(&settings);
        playlist_free(ctx);
        player_context_free(ctx);
        desk = nullptr;
    }
    intptr_t send(unsigned msg, uintptr_t a = 0, intptr_t b = 0) { return window_procedure(w, msg, a, b); }
    // The posted messages go through the window procedure, as the loop would.
    void run_posted()
    {
        std::vector<Posted> posted;
        posted.swap(d.posted);
        for (const Posted& p : posted)
            send(p.msg, p.a, p.b);
    }
    static void expect_rect(const WindowRect& got, const WindowRect& want, const char* what)
    {
        EXPECT_EQ(got.left, want.left) << what;
        EXPECT_EQ(got.top, want.top) << what;
        EXPECT_EQ(got.right, want.right) << what;
        EXPECT_EQ(got.bottom, want.bottom) << what;
    }

    Desk d;
    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
};

TEST_F(ModesTest, each_screen_mode_takes_its_rectangle_on_the_windows_monitor_and_leaving_gives_back_the_exact_one)
{
    const struct {
        const char* name;
        int maximise, ctrl;
        int32_t mode;
        WindowRect rect;
        int hint;
    } cases[] = {
        {"Enter: full screen over the monitor", 0, 0, 1, {1920, 0, 3840, 1080}, 1},
        {"Ctrl+Enter: the monitor's work area", 0, 1, -1, {1920, 0, 3840, 1040}, 0},
        {"the maximise button: the work area", 1, 0, -1, {1920, 0, 3840, 1040}, 0},
    };
    for (const auto& c : cases) {
        settings.show_clock.store(1);
        d.ctrl = c.ctrl;
        toggle_screen_mode(w, c.maximise);
        EXPECT_EQ(w->screen_mode, c.mode) << c.name;
        expect_rect(d.last_rect, c.rect, c.name);
        EXPECT_EQ(d.fullscreen_hint, c.hint) << c.name;
        EXPECT_EQ(ctx->clock_shown.load(), 1) << c.name;
        EXPECT_EQ(ctx->clock_ticks.load(), 1) << c.name << ": the time shows within two ticks";
        // The desktop reports the mode's rectangle; the one to save stays.
        send(MSG_POSITION_CHANGED, POSITION_MOVED | POSITION_SIZED, reinterpret_cast<intptr_t>(&c.rect));
        expect_rect(window_normal_rect(w), WINDOWED, c.name);

        d.ctrl = 0;
        toggle_screen_mode(w, 0);
        EXPECT_EQ(w->screen_mode, 0) << c.name;
        expect_rect(d.last_rect, WINDOWED, c.name);
        EXPECT_EQ(d.fullscreen_hint, 0) << c.name;
        EXPECT_EQ(ctx->clock_shown.load(), 0) << c.name;
    }
    // With "系统时间" off no clock is shown.
    settings.show_clock.store(0);
    toggle_screen_mode(w, 0);
    EXPECT_EQ(ctx->clock_shown.load(), 0);
}

TEST_F(ModesTest, always_on_top_keeps_the_band_leaves_full_screen_first_and_gives_way_in_the_work_area_mode)
{
    toggle_always_on_top(w, 0);
    EXPECT_EQ(settings.always_on_top.load(), 1);
    EXPECT_EQ(d.band, 1);
    ASSERT_EQ(d.posted.size(), 1u);
    EXPECT_EQ(d.posted[0].msg, MSG_PLAYLIST);
    EXPECT_EQ(d.posted[0].a, uintptr_t(PLAYLIST_SHOW_WINDOW));
    EXPECT_EQ(d.posted[0].b, 1);
    d.calls.clear();
    run_posted();
    EXPECT_EQ(d.calls, (std::vector<std::string>{"show", "raise above"}));
    EXPECT_EQ(d.notices, (std::vector<std::string>{" 开启窗口总在最前面 "}));

    // The work-area mode lets other windows come above; leaving it restores the band.
    toggle_screen_mode(w, 1);
    EXPECT_EQ(d.band, 0);
    toggle_screen_mode(w, 1);
    EXPECT_EQ(d.band, 1);
    // Always on top switched off in the work-area mode leaves the band alone.
    toggle_screen_mode(w, 1);
    d.calls.clear();
    toggle_always_on_top(w, 0);
    EXPECT_EQ(d.calls, std::vector<std::string>{});
    toggle_screen_mode(w, 1);
    EXPECT_EQ(d.band, 0);

    // Switching it on in full screen leaves full screen first.
    toggle_screen_mode(w, 0);
    ASSERT_EQ(w->screen_mode, 1);
    d.calls.clear();
    toggle_always_on_top(w, 0);
    EXPECT_EQ(w->screen_mode, 0);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"fullscreen off", "move", "band top"}));
    expect_rect(d.last_rect, WINDOWED, "left full screen");

    // The silent form settings loading uses: no notice, the option stays on.
    d.notices.clear();
    settings.always_on_top.store(1);
    apply_always_on_top_setting(ctx);
    EXPECT_EQ(settings.always_on_top.load(), 1);
    EXPECT_EQ(d.band, 1);
    EXPECT_TRUE(d.notices.empty());
}

TEST_F(ModesTest, the_desktops_own_requests_become_the_players_toggles)
{
    // A window manager that resizes before it reports the maximised state.
    WindowRect maximised{1920, 0, 3840, 1040};
    send(MSG_POSITION_CHANGED, POSITION_MOVED | POSITION_SIZED, reinterpret_cast<intptr_t>(&maximised));
    send(MSG_SIZE, SIZE_MAXIMIZED);
    EXPECT_EQ(w->screen_mode, -1);
    EXPECT_EQ(d.calls.front(), "unmaximize");
    send(MSG_SIZE, SIZE_MAXIMIZED);
    EXPECT_EQ(w->screen_mode, 0);
    expect_rect(d.last_rect, WINDOWED, "the rectangle before the maximise");

    send(MSG_FULLSCREEN_REQUEST, 1);
    EXPECT_EQ(w->screen_mode, 1);
    send(MSG_FULLSCREEN_REQUEST, 1);
    EXPECT_EQ(w->screen_mode, 1);
    send(MSG_FULLSCREEN_REQUEST, 0);
    EXPECT_EQ(w->screen_mode, 0);
    expect_rect(d.last_rect, WINDOWED, "left full screen");
    // From the work-area mode a full-screen request goes to full screen.
    toggle_screen_mode(w, 1);
    send(MSG_FULLSCREEN_REQUEST, 1);
    EXPECT_EQ(w->screen_mode, 1);
    send(MSG_FULLSCREEN_REQUEST, 0);
    expect_rect(d.last_rect, WINDOWED, "back from both modes");

    // A minimised full-screen window takes its time along, and brings it back.
    toggle_screen_mode(w, 0);
    ASSERT_EQ(ctx->clock_shown.load(), 1);
    send(MSG_SIZE, SIZE_MINIMIZED);
    EXPECT_EQ(ctx->clock_shown.load(), 0);
    send(MSG_SIZE, SIZE_RESTORED, 1280 | 1024 << 16);
    EXPECT_EQ(ctx->clock_shown.load(), 1);
    toggle_screen_mode(w, 0);

    // Minimised while always on top (no task-bar button): to the tray.
    send(MSG_SIZE, SIZE_MINIMIZED);
    EXPECT_EQ(w->tray_flags.load(), 0);
    toggle_always_on_top(w, 1);
    send(MSG_SIZE, SIZE_MINIMIZED);
    EXPECT_EQ(w->tray_flags.load(), TRAY_ICON_SHOWN);
}

TEST_F(ModesTest, a_change_of_monitors_puts_a_screen_mode_on_the_monitor_that_now_holds_the_window)
{
    toggle_screen_mode(w, 0);
    d.monitor = WindowRect{0, 0, 1280, 1024};
    d.work = WindowRect{0, 0, 1280, 1000};
    ctx->clock_ticks.store(7);
    send(MSG_DISPLAY_CHANGE);
    expect_rect(d.last_rect, d.monitor, "full screen on what remains");
    EXPECT_EQ(ctx->clock_ticks.load(), 0) << "the clock follows at the next tick";
    toggle_screen_mode(w, 0);
    d.ctrl = 1;
    toggle_screen_mode(w, 0);
    send(MSG_SETTING_CHANGE);
    expect_rect(d.last_rect, d.work, "the work area, tracked");
}

TEST_F(ModesTest, the_tray_hides_once_turns_notices_into_balloons_and_brings_the_window_back_as_it_was)
{
    set_item_label(ctx, 1, 3, "film.mkv");
    // An item is open (the tip shows its label); the value only needs to be set.
    ctx->format.store(reinterpret_cast<AVFormatContext*>(&d));
    toggle_screen_mode(w, 0);
    hide_to_tray(w);
    EXPECT_EQ(w->tray_flags.load(), TRAY_ICON_SHOWN);
    EXPECT_EQ(ctx->clock_shown.load(), 0);
    EXPECT_EQ(d.tip, "2/3.film.mkv");
    d.calls.clear();
    hide_to_tray(w);
    EXPECT_TRUE(d.calls.empty()) << "hiding twice does nothing the second time";

    // A notice becomes a balloon of about 5.6 s; nothing is drawn for it.
    ctx->copy_request.store(0);
    show_notice(ctx, " %s ", std::string(300, 'x').c_str());
    EXPECT_EQ(ctx->notice_ticks.load(), 55);
    EXPECT_EQ(w->tray_flags.load(), TRAY_BALLOON_SHOWN);
    EXPECT_EQ(ctx->copy_request.load(), 0);
    run_posted();
    EXPECT_EQ(d.summary, "Moravista 16.11.18.1022 64位");
    EXPECT_EQ(d.body, " " + std::string(255, 'x')) << "cut at 256 characters";
    // The countdown's end closes it; the icon stays.
    notice_countdown_ended(ctx);
    EXPECT_EQ(w->tray_flags.load(), TRAY_ICON_SHOWN);
    d.calls.clear();
    run_posted();
    EXPECT_EQ(d.calls, std::vector<std::string>{"balloon closed"});

    // A new title changes the tip; a right click leaves the window hidden.
    set_item_label(ctx, 2, 3, "next.mkv");
    send(MSG_SET_TITLE, 0, reinterpret_cast<intptr_t>("3/3.next.mkv / Moravista 16.11.18.1022 64位 / next.mkv"));
    EXPECT_EQ(d.tip, "3/3.next.mkv");
    // Stopped: the title and the tip are the base text.
    ctx->format.store(nullptr);
    send(MSG_SET_TITLE, 0, reinterpret_cast<intptr_t>(title_base_text()));
    EXPECT_EQ(d.tip, title_base_text());
    send(MSG_TRAY, 0, TRAY_EVENT_RIGHT_UP);
    EXPECT_EQ(w->tray_flags.load(), TRAY_ICON_SHOWN);
    // Always on top posts its band while hidden: the window stays hidden.
    d.calls.clear();
    send(MSG_PLAYLIST, PLAYLIST_SHOW_WINDOW, 1);
    EXPECT_TRUE(d.calls.empty());

    // A click brings back the full-screen window with its clock.
    settings.show_clock.store(1);
    d.calls.clear();
    send(MSG_TRAY, 0, TRAY_EVENT_LEFT_UP);
    EXPECT_EQ(w->tray_flags.load(), 0);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"tray hidden", "balloon closed", "show", "fullscreen on", "move",
                                                 "raise normal"}));
    expect_rect(d.last_rect, d.monitor, "still full screen");
    EXPECT_EQ(ctx->clock_shown.load(), 1);
    // Events of an icon that is gone are ignored; notices show in the window again.
    d.calls.clear();
    send(MSG_TRAY, 0, TRAY_EVENT_BALLOON_CLICK);
    EXPECT_TRUE(d.calls.empty());
    show_notice(ctx, " 再见 ");
    EXPECT_EQ(ctx->notice_ticks.load(), 30);
    EXPECT_TRUE(d.posted.empty());
}

TEST_F(ModesTest, a_raise_from_outside_shows_a_window_that_is_not_in_the_tray)
{
    restore_from_tray(w);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"show", "raise normal"}));
    EXPECT_EQ(w->tray_flags.load(), 0);
}

TEST_F(ModesTest, at_exit_the_tray_icon_goes)
{
    hide_to_tray(w);
    d.calls.clear();
    remove_tray_icon(ctx, 0);
    EXPECT_EQ(d.calls, std::vector<std::string>{"tray hidden"});
    EXPECT_EQ(w->tray_flags.load(), 0);
}

} // namespace

namespace {

TEST_F(ModesTest, without_a_tray_the_hide_request_minimises_into_the_task_list_and_a_lost_tray_brings_the_window_back)
{
    d.tray = 0;
    toggle_always_on_top(w, 1);
    d.calls.clear();
    hide_to_tray(w);
    EXPECT_EQ(w->tray_flags.load(), 0);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"band normal", "minimise"}));
    // The desktop's answer, and a second request, change nothing more.
    window_procedure(w, MSG_SIZE, SIZE_MINIMIZED, 0);
    hide_to_tray(w);
    EXPECT_EQ(d.calls.size(), 2u);
    // Back from the task list: the top band again.
    window_procedure(w, MSG_SIZE, SIZE_RESTORED, 0);
    EXPECT_EQ(d.band, 1);
    EXPECT_EQ(w->minimised_for_tray, 0);

    // With a tray that goes away while the window is hidden in it.
    d.tray = 1;
    hide_to_tray(w);
    ASSERT_EQ(w->tray_flags.load(), TRAY_ICON_SHOWN);
    window_procedure(w, MSG_TRAY, 0, TRAY_EVENT_HOST_GONE);
    EXPECT_EQ(w->tray_flags.load(), 0);
    EXPECT_NE(std::find(d.calls.begin(), d.calls.end(), "show"), d.calls.end());
}

} // namespace
