// Moving, sizing and file intake of the window procedure, driven with
// synthetic messages: the resize bands, sticking to the work-area edges,
// the aspect-keeping resize, dropped files and data messages from other
// programs. No display is needed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "subtitle/subtitle.h"
#include "ui/ui.h"
#include "ui/ui_internal.h"
#include "support/stress.h"

namespace {

std::vector<intptr_t>* drags_begun;
void record_drag(void*, intptr_t hit)
{
    drags_begun->push_back(hit);
}
const WindowDesktop drag_desktop{.begin_drag = record_drag};

// Any non-null address stands for an open item; nothing reads through it.
AVFormatContext* const OPEN_ITEM = reinterpret_cast<AVFormatContext*>(uintptr_t(0x1000));

class GeometryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drags_begun = &drags;
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        w->desktop = &drag_desktop;
        w->work_area = WindowRect{0, 0, 1920, 1040};
    }
    void TearDown() override
    {
        ctx->format.store(nullptr);
        intake_release(w);
        playlist_free(ctx);
        player_context_free(ctx);
        drags_begun = nullptr;
    }
    intptr_t send(unsigned msg, uintptr_t a = 0, intptr_t b = 0) { return window_procedure(w, msg, a, b); }
    void open_video(uint32_t aspect_width, uint32_t aspect_height)
    {
        ctx->format.store(OPEN_ITEM);
        ctx->slots[SLOT_VIDEO].stream_index.store(0);
        ctx->display_width.store(aspect_width);
        ctx->display_height.store(aspect_height);
    }
    WindowRect sizing(uintptr_t edge, WindowRect r)
    {
        EXPECT_EQ(send(MSG_SIZING, edge, reinterpret_cast<intptr_t>(&r)), 1);
        return r;
    }
    // One step of the move loop: the last rectangle moved by the pointer.
    WindowRect& move_by(WindowRect& r, int dx, int dy)
    {
        r = WindowRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
        send(MSG_MOVING, 0, reinterpret_cast<intptr_t>(&r));
        return r;
    }

    std::vector<intptr_t> drags;
    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
};

void expect_rect(const WindowRect& got, const WindowRect& want, const char* name)
{
    EXPECT_EQ(got.left, want.left) << name;
    EXPECT_EQ(got.top, want.top) << name;
    EXPECT_EQ(got.right, want.right) << name;
    EXPECT_EQ(got.bottom, want.bottom) << name;
}

TEST_F(GeometryTest, the_hit_test_gives_resize_bands_on_every_edge_except_beside_the_progress_bar)
{
    w->client_width = 640;
    w->client_height = 360;
    const struct {
        int32_t x, y;
        intptr_t hit;
    } cases[] = {
        {320, 180, HIT_CLIENT},        {0, 0, HIT_TOP_LEFT},           {7, 7, HIT_TOP_LEFT},
        {8, 7, HIT_TOP},               {320, 7, HIT_TOP},              {320, 8, HIT_CLIENT},
        {632, 0, HIT_TOP},             {633, 0, HIT_TOP_RIGHT},        {639, 100, HIT_RIGHT},
        {633, 329, HIT_RIGHT},         {633, 330, HIT_CLIENT},         {639, 352, HIT_CLIENT},
        {639, 353, HIT_BOTTOM_RIGHT},  {320, 353, HIT_BOTTOM},         {320, 352, HIT_CLIENT},
        {0, 359, HIT_BOTTOM_LEFT},     {7, 200, HIT_LEFT},             {0, 330, HIT_CLIENT},
        {-5, 100, HIT_LEFT},           {700, 400, HIT_BOTTOM_RIGHT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(send(MSG_HIT_TEST, uintptr_t(intptr_t(c.x)), c.y), c.hit) << c.x << "," << c.y;
    for (int32_t mode : {1, -1}) {
        w->screen_mode = mode;
        EXPECT_EQ(send(MSG_HIT_TEST, 0, 0), HIT_CLIENT) << "screen mode " << mode;
        EXPECT_EQ(send(MSG_HIT_TEST, 639, 359), HIT_CLIENT) << "screen mode " << mode;
    }
}

TEST_F(GeometryTest, moves_and_resizes_begin_only_in_windowed_mode_and_the_minimum_is_100)
{
    window_begin_move(w);
    send(MSG_NC_LBUTTON_DOWN, uintptr_t(HIT_BOTTOM_RIGHT));
    send(MSG_NC_LBUTTON_DOWN, uintptr_t(HIT_CLIENT)); // not a band
    w->screen_mode = 1;
    window_begin_move(w);
    send(MSG_NC_LBUTTON_DOWN, uintptr_t(HIT_LEFT));
    EXPECT_EQ(drags, (std::vector<intptr_t>{HIT_CAPTION, HIT_BOTTOM_RIGHT}));

    WindowMinSize min{};
    send(MSG_GET_MIN_SIZE, 0, reinterpret_cast<intptr_t>(&min));
    EXPECT_EQ(min.width, 100);
    EXPECT_EQ(min.height, 100);
}

TEST_F(GeometryTest, a_move_snaps_at_5_pixels_holds_and_breaks_free_once_held_back_more_than_10)
{
    send(MSG_ENTER_SIZE_MOVE);
    WindowRect r{20, 300, 660, 660};
    // 15 pixels left puts the edge 5 from the work area's: it jumps there.
    expect_rect(move_by(r, -15, 0), {0, 300, 640, 660}, "snapped");
    // The pointer goes on; the window holds until it lags by more than 10.
    int implied_left = 5;
    for (int step = 1; step <= 16; step++) {
        implied_left--;
        EXPECT_EQ(move_by(r, -1, 0).left, 0) << "held at step " << step;
    }
    implied_left--;
    expect_rect(move_by(r, -1, 0), {implied_left, 300, implied_left + 640, 660}, "broke free to the pointer");
    EXPECT_EQ(move_by(r, -1, 0).left, implied_left - 1);
    send(MSG_EXIT_SIZE_MOVE);

    // Every edge snaps, each to its own side of the work area.
    const struct {
        const char* name;
        WindowRect from;
        int dx, dy;
        WindowRect to;
    } edges[] = {
        {"top", {300, 20, 940, 380}, 0, -14, {300, 0, 940, 360}},
        {"right", {1200, 300, 1840, 660}, 75, 0, {1280, 300, 1920, 660}},
        {"bottom", {300, 600, 940, 960}, 0, 76, {300, 680, 940, 1040}},
        {"top-left corner", {30, 30, 670, 390}, -25, -23, {0, 0, 640, 360}},
        {"nowhere near", {300, 300, 940, 660}, 40, 40, {340, 340, 980, 700}},
    };
    for (const auto& e : edges) {
        send(MSG_ENTER_SIZE_MOVE);
        WindowRect moving = e.from;
        expect_rect(move_by(moving, e.dx, e.dy), e.to, e.name);
        send(MSG_EXIT_SIZE_MOVE);
    }
}

TEST_F(GeometryTest, a_snapped_window_follows_the_pointer_when_pulled_away_and_each_drag_starts_free)
{
    send(MSG_ENTER_SIZE_MOVE);
    WindowRect r{20, 300, 660, 660};
    move_by(r, -15, 0); // held back by 5
    expect_rect(move_by(r, 20, 0), {25, 300, 665, 660}, "pulled away: back under the pointer");
    move_by(r, -19, 0); // 6 from the edge: held back by 6
    EXPECT_EQ(r.left, 0);
    send(MSG_EXIT_SIZE_MOVE);
    // A new drag that pulls away moves by the pointer alone, not by the old hold.
    send(MSG_ENTER_SIZE_MOVE);
    expect_rect(move_by(r, 30, 0), {30, 300, 670, 660}, "fresh drag");
    send(MSG_EXIT_SIZE_MOVE);
}

TEST_F(GeometryTest, sizing_a_video_window_keeps_the_aspect_with_even_widths_and_fits_the_work_area)
{
    open_video(16, 9);
    const struct {
        const char* name;
        uintptr_t edge;
        WindowRect in, out;
    } cases[] = {
        // 400 * 16 / 9 = 711, + 1 = 712: even; the centre stays.
        {"bottom edge, centred", SIZING_BOTTOM, {100, 100, 740, 500}, {64, 100, 776, 500}},
        {"top edge, centred", SIZING_TOP, {100, 120, 740, 500}, {82, 120, 758, 500}},
        {"bottom edge on the left of the work area", SIZING_BOTTOM, {0, 100, 640, 500}, {0, 100, 712, 500}},
        {"bottom edge on the right", SIZING_BOTTOM, {1280, 100, 1920, 500}, {1208, 100, 1920, 500}},
        {"bottom edge on both sides", SIZING_BOTTOM, {0, 0, 1920, 1040}, {36, 0, 1884, 1040}},
        // 800 * 9 / 16 = 450, not made even; the middle stays.
        {"right edge", SIZING_RIGHT, {100, 100, 900, 460}, {100, 55, 900, 505}},
        {"left edge, 801 wide", SIZING_LEFT, {99, 100, 900, 460}, {99, 55, 900, 505}},
        {"left edge on the top of the work area", SIZING_LEFT, {100, 0, 900, 360}, {100, 0, 900, 450}},
        {"corner keeps the free shape", SIZING_BOTTOM_RIGHT, {100, 100, 900, 300}, {100, 100, 900, 300}},
        {"corner past the work area is pulled in", SIZING_TOP_LEFT, {-50, 100, 900, 300}, {0, 100, 950, 300}},
        {"too tall for the work area is cut to it", SIZING_BOTTOM, {0, 0, 900, 1200}, {0, 0, 1920, 1040}},
        {"1 pixel high", SIZING_BOTTOM, {100, 100, 740, 101}, {419, 100, 421, 101}},
    };
    for (const auto& c : cases)
        expect_rect(sizing(c.edge, c.in), c.out, c.name);

    open_video(4, 3); // 301 * 4 / 3 = 401, + 1 = 402
    expect_rect(sizing(SIZING_BOTTOM, {100, 100, 500, 401}), {99, 100, 501, 401}, "4:3, odd made even");
}

TEST_F(GeometryTest, without_a_picture_sizing_is_free_and_not_fitted)
{
    const WindowRect beyond{-300, -200, 2500, 1500};
    expect_rect(sizing(SIZING_BOTTOM, beyond), beyond, "nothing open");
    ctx->format.store(OPEN_ITEM);
    ctx->slots[SLOT_VIDEO].stream_index.store(-1);
    expect_rect(sizing(SIZING_RIGHT, beyond), beyond, "sound only");
    open_video(0, 9); // a broken aspect is no aspect
    expect_rect(sizing(SIZING_TOP, beyond), beyond, "no aspect");
    open_video(1, 0x7FFFFFFF); // an absurd one stays in range
    WindowRect r = sizing(SIZING_RIGHT, {100, 100, 900, 460});
    EXPECT_GE(r.bottom - r.top, 1);
    EXPECT_LE(r.bottom, 1040);
}

TEST_F(GeometryTest, a_move_of_the_window_moves_the_shown_clock_at_the_next_tick)
{
    ctx->clock_shown.store(1);
    ctx->clock_ticks.store(7);
    WindowRect r{10, 20, 650, 380};
    send(MSG_POSITION_CHANGED, POSITION_MOVED, reinterpret_cast<intptr_t>(&r));
    EXPECT_EQ(ctx->clock_ticks.load(), 0);
    ctx->clock_shown.store(0);
    ctx->clock_ticks.store(7);
    send(MSG_POSITION_CHANGED, POSITION_MOVED, reinterpret_cast<intptr_t>(&r));
    EXPECT_EQ(ctx->clock_ticks.load(), 7);
}

// ---- data messages from other programs ----

class CopyDataTest : public GeometryTest {
protected:
    void SetUp() override
    {
        GeometryTest::SetUp();
        char folder[] = "/tmp/moravista-copy-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        media = folder;
        for (const char* name : {"a.mkv", "b.mkv", "\xb5\xe7\xd3\xb0.mkv"})
            std::ofstream(media + "/" + name) << "x";
        mkfifo((media + "/pipe.mkv").c_str(), 0644);
    }
    void TearDown() override
    {
        GeometryTest::TearDown();
        system(("rm -rf '" + media + "'").c_str());
    }
    intptr_t copy_data(uint64_t code, const std::string& bytes)
    {
        CopyData data{code, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
        return send(MSG_COPY_DATA, 0, reinterpret_cast<intptr_t>(&data));
    }
    static std::string z(const std::string& text) { return text + std::string(1, '\0'); }
    const PlaylistEntry& entry(uint32_t i) { return ctx->playlist.items[i]; }
    std::string media;
};

constexpr uint64_t APPEND = 0x6170;
constexpr uint64_t title_of(uint64_t index) { return 0x7374ull << 16 | index; }
constexpr uint64_t params_of(uint64_t index) { return 0x7370ull << 16 | index; }

TEST_F(CopyDataTest, appends_return_the_new_index_and_set_titles_and_parameters_of_existing_entries)
{
    EXPECT_EQ(copy_data(APPEND, z(media + "/a.mkv")), 0);
    EXPECT_EQ(copy_data(APPEND, z(media + "/a.mkv")), 1); // no duplicate check
    // Bytes that are not UTF-8 arrive intact; no terminator: all of them.
    EXPECT_EQ(copy_data(APPEND, media + "/\xb5\xe7\xd3\xb0.mkv"), 2);
    EXPECT_EQ(copy_data(APPEND, z(media + "/b.mkv") + "trailing junk"), 3);
    ASSERT_EQ(ctx->item_count.load(), 4u);
    EXPECT_EQ(entry(2).path, media + "/\xb5\xe7\xd3\xb0.mkv");
    EXPECT_EQ(entry(3).path, media + "/b.mkv");
    EXPECT_EQ(ctx->open_index.load(), -1) << "an append starts nothing";

    const struct {
        const char* name;
        uint64_t code;
        std::string payload;
        intptr_t result;
    } cases[] = {
        {"title of entry 1", title_of(1), z("电影"), 0},
        {"parameters of entry 3", params_of(3), z("probesize=5000000\x01" "analyzeduration=0"), 0},
        {"title of an entry past the list", title_of(4), z("nobody"), 0},
        {"index 70000 cannot be addressed", (0x7374ull << 16) + 70000, z("nobody"), 0},
        {"tag with higher bits set", 1ull << 40 | title_of(0), z("nobody"), 0},
        {"unknown code", 0x1234, z("/media/x.mkv"), 0},
        {"code 0", 0, "", 0},
        {"an empty append is refused", APPEND, "", -1},
        {"an append of only a terminator is refused", APPEND, z(""), -1},
        {"an append longer than an entry is refused", APPEND, z("/" + std::string(779, 'a')), -1},
        {"an append of a named pipe is refused", APPEND, z(media + "/pipe.mkv"), -1},
        {"an append of a device is refused", APPEND, z("/dev/zero"), -1},
        {"an append of a relative name is refused", APPEND, z("pipe:0"), -1},
        {"a title longer than an entry is refused", title_of(0), z(std::string(780, 'b')), 0},
        {"a title of 779 units of CJK fits", title_of(2), z([] {
             std::string t;
             for (int i = 0; i < 779; i++)
                 t += "字";
             return t;
         }()), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(copy_data(c.code, c.payload), c.result) << c.name;
    ASSERT_EQ(ctx->item_count.load(), 4u);
    EXPECT_EQ(entry(0).title, nullptr);
    EXPECT_STREQ(entry(1).title, "电影");
    EXPECT_EQ(strlen(entry(2).title), 779u * 3);
    EXPECT_STREQ(entry(3).params, "probesize=5000000\x01" "analyzeduration=0");
    EXPECT_EQ(entry(3).title, nullptr);

    // An empty title clears it.
    EXPECT_EQ(copy_data(title_of(1), z("")), 0);
    EXPECT_EQ(entry(1).title, nullptr);
}

TEST_F(CopyDataTest, an_append_drops_the_cached_menu_unless_one_is_being_shown)
{
    int menu_a = 0, menu_b = 0;
    ctx->menu.store(&menu_a);
    copy_data(APPEND, z(media + "/a.mkv"));
    EXPECT_EQ(ctx->menu.load(), nullptr);
    ctx->menu.store(&menu_b);
    ctx->menu_depth.store(1);
    copy_data(APPEND, z(media + "/b.mkv"));
    EXPECT_EQ(ctx->menu.load(), &menu_b);
    ctx->menu.store(nullptr);
}

// ---- dropped files ----

class DropTest : public GeometryTest {
protected:
    void SetUp() override
    {
        GeometryTest::SetUp();
        char folder[] = "/tmp/moravista-drop-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir = folder;
        for (const char* name : {"film.mkv", "film.SRT", "film.ass", "song.mp3", "notes.txt"})
            std::ofstream(dir + "/" + name) << "x";
        mkdir((dir + "/album").c_str(), 0755);
        mkdir((dir + "/album/subs.srt").c_str(), 0755); // a folder, whatever its name
        for (const char* name : {"album/01.flac", "album/02.mp3"})
            std::ofstream(dir + "/" + name) << "x";
        mkfifo((dir + "/pipe.mkv").c_str(), 0644);
    }
    void TearDown() override
    {
        GeometryTest::TearDown();
        system(("rm -rf '" + dir + "'").c_str());
    }
    void drop(const std::vector<std::string>& names, bool ctrl)
    {
        auto dropped = std::chrono::steady_clock::now();
        drop_now(names, ctrl);
        EXPECT_LT(std::chrono::steady_clock::now() - dropped, std::chrono::milliseconds(50) * TIME_SCALE) << "the drop waited";
        // Folders are listed on a thread of their own; without a loop the
        // test hands their entries over itself.
        intake_settle(w, 10000);
    }
    // A drop whose folders are not waited for.
    void drop_now(const std::vector<std::string>& names, bool ctrl)
    {
        std::vector<std::string> paths;
        for (const std::string& n : names)
            paths.push_back(n[0] == '/' ? n : dir + "/" + n);
        std::vector<const char*> list;
        for (const std::string& p : paths)
            list.push_back(p.c_str());
        DroppedFiles files{list.data(), uint32_t(list.size()), ctrl ? 1 : 0};
        send(MSG_DROP_FILES, 0, reinterpret_cast<intptr_t>(&files));
    }
    std::vector<std::string> entries()
    {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < ctx->item_count.load(); i++) {
            std::string path = ctx->playlist.items[i].path;
            out.push_back(path.compare(0, dir.size(), dir) == 0 ? path.substr(dir.size() + 1) : path);
        }
        return out;
    }
    std::string notice()
    {
        char text[2048];
        notice_copy(ctx, text, sizeof text);
        return text;
    }

    std::string dir;
};

TEST_F(DropTest, a_drop_replaces_the_list_and_plays_ctrl_appends_and_what_cannot_play_is_skipped)
{
    playlist_add_entry(ctx, "/media/old.mkv", 0);
    ctx->open_index.store(-1);
    drop({"film.mkv", "pipe.mkv", "missing.mkv", "album", "/dev/null"}, false);
    EXPECT_EQ(entries(), (std::vector<std::string>{"film.mkv", "album/01.flac", "album/02.mp3"}));
    EXPECT_EQ(ctx->open_index.load(), 0) << "the first dropped entry opens";

    ctx->open_index.store(-1);
    drop({"song.mp3", "film.mkv", "notes.txt"}, true); // a duplicate is refused in append mode
    EXPECT_EQ(entries(),
              (std::vector<std::string>{"film.mkv", "album/01.flac", "album/02.mp3", "song.mp3", "notes.txt"}));
    EXPECT_EQ(ctx->open_index.load(), -1) << "appending starts nothing";

    drop({"missing.mkv", "pipe.mkv"}, false); // nothing usable: the list stays
    EXPECT_EQ(entries().size(), 5u);
    EXPECT_EQ(ctx->open_index.load(), -1);
    EXPECT_EQ(notice(), " 未添加2项 (不存在): " + dir + "/missing.mkv 等 ");
}

// Bad trees: a link loop, a folder that vanishes while it is listed, a name
// that is not UTF-8, a path too long to open; and drops while a folder is
// still being listed commit in their order, a replacing one making the
// earlier ones moot.
TEST_F(DropTest, folders_are_listed_elsewhere_and_batches_commit_in_order_whatever_the_tree_holds)
{
    mkdir((dir + "/tree").c_str(), 0755);
    mkdir((dir + "/tree/a").c_str(), 0755);
    std::ofstream(dir + "/tree/a/\xb5\xe7.mkv") << "x";
    ASSERT_EQ(symlink("..", (dir + "/tree/a/loop").c_str()), 0);
    std::string deep = dir + "/tree/b";
    for (mkdir(deep.c_str(), 0755); deep.size() < 800; mkdir(deep.c_str(), 0755))
        deep += "/" + std::string(100, 'd');
    std::ofstream(deep + "/far.mkv") << "x";
    for (int i = 0; i < 2000; i++) {
        std::string sub = dir + "/big/" + std::to_string(i % 20);
        mkdir((dir + "/big").c_str(), 0755);
        mkdir(sub.c_str(), 0755);
        std::ofstream(sub + "/" + std::to_string(i) + ".mp3") << "x";
    }
    drop({"tree"}, false);
    EXPECT_EQ(entries(), (std::vector<std::string>{"tree/a/\xb5\xe7.mkv"}));
    EXPECT_NE(notice().find("路径过长"), std::string::npos) << notice();

    // A folder removed while its listing runs gives what was met before.
    std::thread remover([&] { system(("rm -rf '" + dir + "/big'").c_str()); });
    drop({"big", "film.mkv"}, true);
    remover.join();
    EXPECT_EQ(entries().back(), "film.mkv");
    EXPECT_EQ(intake_pending(w), 0);

    // Queued behind a folder still being listed: an append waits its turn,
    // a replacing drop drops what waits before it.
    IntakeRequest slow;
    slow.paths = {"/"};
    slow.is_folder = {1};
    intake_submit(w, slow);
    drop_now({"song.mp3"}, true);
    EXPECT_EQ(intake_pending(w), 2);
    drop_now({"film.mkv"}, false);
    EXPECT_EQ(intake_pending(w), 0) << "the replacing drop had nothing left to wait for";
    EXPECT_EQ(entries(), (std::vector<std::string>{"film.mkv"}));
}

TEST_F(DropTest, subtitles_dropped_on_an_open_item_switch_to_the_first_of_them_without_touching_the_list)
{
    playlist_add_entry(ctx, (dir + "/film.mkv").c_str(), 0);
    ctx->open_index.store(-1);
    ctx->track_switch_request.store(-1);
    ASSERT_EQ(add_external_file(&ctx->subtitles, (dir + "/film.ass").c_str()), 1); // found beside the film

    drop({"film.SRT", "film.ass"}, false); // nothing open yet: listed, no switch
    EXPECT_EQ(ctx->subtitles.external_count.load(), 2u);
    EXPECT_EQ(ctx->track_switch_request.load(), -1);

    ctx->format.store(OPEN_ITEM);
    int menu = 0;
    ctx->menu.store(&menu);
    ASSERT_EQ(add_external_file(&ctx->subtitles, (dir + "/other.lrc").c_str()), 1);
    std::ofstream(dir + "/new.Lrc") << "x";
    drop({"film.ass", "new.Lrc"}, false); // the one already listed is not added twice
    EXPECT_EQ(ctx->subtitles.external_count.load(), 4u);
    EXPECT_EQ(ctx->track_switch_request.load(), 2020 + 3);
    EXPECT_EQ(ctx->menu.load(), nullptr);
    EXPECT_EQ(ctx->item_count.load(), 1u);
    EXPECT_EQ(ctx->open_index.load(), -1);

    // Subtitles together with a film: the film replaces the list, no switch.
    ctx->track_switch_request.store(-1);
    drop({"song.mp3", "album/subs.srt"}, false);
    EXPECT_EQ(ctx->track_switch_request.load(), -1);
    EXPECT_EQ(entries(), (std::vector<std::string>{"song.mp3"})); // the folder holds no media
}

} // namespace
