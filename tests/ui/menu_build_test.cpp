// The context menu as data: the list's groups and columns, the tracks and
// chapters of an open item, the marks, the texts made from file names and
// metadata, and the cache the window thread keeps. No display is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/menu_internal.h"
#include "ui/ui.h"

namespace {

std::vector<std::string> texts(const std::vector<MenuItem>& items)
{
    std::vector<std::string> out;
    for (const MenuItem& item : items)
        out.push_back(item.separator ? "---" : item.text);
    return out;
}

const MenuItem* submenu(const MenuTree* tree, const char* text)
{
    for (const MenuItem& item : tree->items)
        if (item.submenu && item.text == text)
            return &item;
    return nullptr;
}

// Delivers the window thread's messages straight to the window procedure,
// so that a dropped menu is destroyed as in the program.
intptr_t direct_send(void* user, unsigned msg, uintptr_t a, intptr_t b)
{
    return window_procedure(static_cast<MainWindow*>(user), msg, a, b);
}
void direct_post(void* user, unsigned msg, uintptr_t a, intptr_t b)
{
    direct_send(user, msg, a, b);
}

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset(&settings);
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        loop = WindowLoop{direct_send, direct_post, w};
        window_bridge_install(&loop);
    }
    void TearDown() override
    {
        cancel_menu(ctx);
        if (tree)
            menu_free(tree);
        ctx->subtitles.sub_track.store(nullptr);
        ctx->subtitles.external_count.store(0);
        delete ctx->menu_source;
        ctx->menu_source = nullptr;
        window_bridge_install(nullptr);
        playlist_free(ctx);
        player_context_free(ctx);
    }

    void add_entries(uint32_t count)
    {
        for (uint32_t i = 0; i < count; i++)
            playlist_add_entry(ctx, ("/media/clip" + std::to_string(i + 1) + ".mkv").c_str(), 0);
    }

    // An open item with these streams (video, audio, subtitle kinds by index).
    MenuSource* open_item(std::vector<MenuStream> streams)
    {
        ctx->menu_source = new MenuSource{std::move(streams), {}};
        return ctx->menu_source;
    }

    MenuTree* build()
    {
        if (tree)
            menu_free(tree);
        tree = menu_build(ctx);
        return tree;
    }

    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
    WindowLoop loop{};
    MenuTree* tree = nullptr;
};

MenuStream video_stream(int32_t index)
{
    MenuStream s{};
    s.index = index;
    s.kind = MENU_STREAM_VIDEO;
    s.width = 1920;
    s.height = 1080;
    s.codec = "h264";
    s.profile = "High";
    s.default_track = true;
    return s;
}

MenuStream audio_stream(int32_t index, const char* title, const char* language)
{
    MenuStream s{};
    s.index = index;
    s.kind = MENU_STREAM_AUDIO;
    s.title = title;
    s.language = language;
    s.channels = 6;
    s.sample_rate = 48000;
    s.bit_rate = 640000;
    s.codec = "ac3";
    return s;
}

TEST_F(MenuTest, the_list_is_flat_up_to_30_entries_then_grouped_by_25_with_a_column_every_500)
{
    const struct {
        uint32_t entries, current;
        std::vector<std::string> first_items; // of the list submenu
        size_t groups;
    } cases[] = {
        {30, 29, {"    1 - /media/clip1.mkv", "    2 - /media/clip2.mkv"}, 0},
        {31, 30, {"    1 -    25", "   26 -    31", "---", "随机打乱列表(&R)\tR"}, 2},
        {700, 599, {"    1 -    25", "   26 -    50"}, 28},
    };
    for (const auto& c : cases) {
        playlist_free(ctx);
        add_entries(c.entries);
        ctx->current_item.store(c.current);
        const MenuItem* list = submenu(build(), "列表");
        ASSERT_NE(list, nullptr);
        std::vector<std::string> got = texts(list->items);
        for (size_t i = 0; i < c.first_items.size(); i++)
            EXPECT_EQ(got.at(i), c.first_items[i]) << c.entries << " entries, item " << i;
        // The list ends with a separator and its three commands.
        std::vector<std::string> tail(got.end() - 4, got.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"---", "随机打乱列表(&R)\tR", "顺序排列列表(&S)\tS", "退出时保存列表"}));
        size_t groups = 0;
        for (const MenuItem& item : list->items)
            groups += item.submenu;
        EXPECT_EQ(groups, c.groups) << c.entries;
        // The current entry is marked, and so is the group holding it.
        const MenuItem* current = menu_find(&tree->items, CMD_FIRST_ENTRY + int32_t(c.current));
        ASSERT_NE(current, nullptr);
        EXPECT_TRUE(current->checked);
        for (const MenuItem& item : list->items) {
            if (!item.submenu)
                continue;
            bool holds = menu_find(const_cast<std::vector<MenuItem>*>(&item.items),
                                   CMD_FIRST_ENTRY + int32_t(c.current)) != nullptr;
            EXPECT_EQ(item.checked, holds) << item.text;
        }
    }
    // Entry 600 of 700 is reached through "  576 -   600", the fourth group
    // of the second column, which begins with "  501 -   525".
    const MenuItem* list = submenu(tree, "列表");
    int column = 0;
    for (const MenuItem& group : list->items) {
        column += group.column_break;
        EXPECT_EQ(group.column_break, group.text == "  501 -   525") << group.text;
        if (group.text == "  576 -   600") {
            EXPECT_EQ(column, 1);
            EXPECT_TRUE(group.checked);
            EXPECT_EQ(group.items.back().text, "  600 - /media/clip600.mkv");
            EXPECT_EQ(group.items.back().id, CMD_FIRST_ENTRY + 599);
        }
    }
}

TEST_F(MenuTest, with_nothing_open_the_menu_holds_the_list_the_subtitles_the_settings_and_exit_only)
{
    settings.subs_outside.store(1);
    settings.hotkeys_enabled.store(1);
    settings.save_playlist.store(0);
    build();
    EXPECT_EQ(texts(tree->items), (std::vector<std::string>{"列表", "字幕", "设置", "退出(&X)"}));
    EXPECT_EQ(tree->items.back().id, CMD_EXIT);
    // An empty list has no separator before its commands.
    EXPECT_EQ(texts(submenu(tree, "列表")->items),
              (std::vector<std::string>{"随机打乱列表(&R)\tR", "顺序排列列表(&S)\tS", "退出时保存列表"}));
    const MenuItem* subtitles = submenu(tree, "字幕");
    EXPECT_EQ(texts(subtitles->items), (std::vector<std::string>{"禁用字幕", "字幕可输出在画面外", "使用标准字幕样式"}));
    EXPECT_TRUE(subtitles->items[1].checked);
    EXPECT_FALSE(subtitles->items[2].checked);
    const MenuItem* options = submenu(tree, "设置");
    EXPECT_EQ(texts(options->items),
              (std::vector<std::string>{"总在最前面", "显示标题信息\tTab", "始终显示播放进度", "中间显示播放信息",
                                        "全屏时显示系统时间", "开启全局热键", "启用Cool菜单", "播放视频时禁止屏保和睡眠",
                                        "自动清理内存<不推荐>", "开启硬件解码"}));
    const std::vector<std::pair<int32_t, bool>> marks = {
        {CMD_ALWAYS_ON_TOP, false}, {CMD_SHOW_TITLE, false}, {CMD_SHOW_PROGRESS, true}, {CMD_SHOW_PLAY_INFO, true},
        {CMD_SHOW_CLOCK, true},     {CMD_HOTKEYS, true},     {CMD_COOL_MENU, true},      {CMD_BLOCK_SCREENSAVER, true},
        {CMD_TRIM_MEMORY, false},   {CMD_HW_DECODE, true},   {CMD_SAVE_PLAYLIST, false},
    };
    for (auto [id, on] : marks)
        EXPECT_EQ(menu_find(&tree->items, id)->checked, on) << id;
}

TEST_F(MenuTest, one_video_and_two_audio_streams_with_the_second_in_use_are_marked_and_described)
{
    MenuStream video = video_stream(0);
    video.bits_per_raw_sample = 8;
    MenuStream cover{};
    cover.index = 3;
    cover.kind = MENU_STREAM_VIDEO;
    cover.width = 600;
    cover.height = 600;
    cover.codec = "mjpeg";
    cover.attached_picture = true;
    cover.default_track = true;
    MenuStream forced = audio_stream(2, "Director & crew", "");
    forced.forced = true;
    forced.default_track = true;
    open_item({video, audio_stream(1, "", "eng"), forced});
    ctx->slots[SLOT_VIDEO].stream_index.store(0);
    ctx->slots[SLOT_AUDIO].stream_index.store(2);
    ctx->video_refs.store(4);
    build();
    // No chapters: no chapter submenu.
    EXPECT_EQ(texts(tree->items), (std::vector<std::string>{"列表", "视频", "音频", "字幕", "设置", "退出(&X)"}));
    const MenuItem* video_menu = submenu(tree, "视频");
    EXPECT_EQ(texts(video_menu->items),
              (std::vector<std::string>{"#0 / 1920x1080 / 4refs / 8bits / h264.High\t默认轨道", "---",
                                        "复制当前图像到剪贴板(&C)\tCtrl+C", "复制当前图像(字幕)到剪贴板(&S)\tAlt+C"}));
    const MenuItem* audio_menu = submenu(tree, "音频");
    EXPECT_EQ(texts(audio_menu->items),
              (std::vector<std::string>{"#1 / eng / 6声道 / 48000Hz / 640Kbps / ac3",
                                        "#2.Director && crew / 6声道 / 48000Hz / 640Kbps / ac3\t强制轨道"}));
    EXPECT_TRUE(video_menu->items[0].checked);
    EXPECT_FALSE(audio_menu->items[0].checked);
    EXPECT_TRUE(audio_menu->items[1].checked);
    EXPECT_EQ(audio_menu->items[1].id, 1021);
    // Streams not being decoded show the reference frames they were described with.
    EXPECT_EQ(menu_stream_text(&cover, cover.refs), "#3 / 600x600 / mjpeg\t封面");
    MenuStream one_ref = video_stream(5);
    EXPECT_EQ(menu_stream_text(&one_ref, 1), "#5 / 1920x1080 / 1ref / h264.High\t默认轨道");
    // The embedded subtitles have no stream here: the copy command stays out.
    EXPECT_EQ(texts(submenu(tree, "字幕")->items),
              (std::vector<std::string>{"禁用字幕", "字幕可输出在画面外", "使用标准字幕样式"}));
}

TEST_F(MenuTest, subtitle_streams_files_and_the_off_switch_carry_their_marks)
{
    MenuStream subtitle{};
    subtitle.index = 1;
    subtitle.kind = MENU_STREAM_SUBTITLE;
    subtitle.language = "chi";
    subtitle.codec = "ass";
    open_item({video_stream(0), subtitle});
    char files[2][EXTERNAL_PATH_BYTES] = {"/media/film.chs.ass", "/media/film & co\tx.srt"};
    ctx->subtitles.external_files = files;
    ctx->subtitles.external_count.store(2);
    ctx->subtitles.external_index.store(1);
    ctx->subtitles.sub_track.store(reinterpret_cast<ASS_Track*>(1));
    build();
    const MenuItem* subs = submenu(tree, "字幕");
    EXPECT_EQ(texts(subs->items), (std::vector<std::string>{"#1 / chi / ass", "film.chs.ass", "film && co x.srt", "---",
                                                             "复制当前字幕到剪贴板(&C)\tC", "禁用字幕",
                                                             "字幕可输出在画面外", "使用标准字幕样式"}));
    EXPECT_EQ(subs->items[1].id, 2020);
    EXPECT_EQ(subs->items[2].id, 2021);
    EXPECT_FALSE(subs->items[1].checked);
    EXPECT_TRUE(subs->items[2].checked);
    EXPECT_FALSE(subs->items[5].checked);
    // Subtitles switched off: only the off item is marked.
    ctx->subtitle_choice.store(-2);
    ctx->subtitles.sub_track.store(nullptr);
    menu_sync_marks(ctx, tree);
    EXPECT_FALSE(subs->items[2].checked);
    EXPECT_TRUE(subs->items[5].checked);
    ctx->subtitles.external_files = nullptr;
}

TEST_F(MenuTest, the_chapter_holding_the_position_gets_the_radio_mark_before_each_showing)
{
    MenuSource* source = open_item({video_stream(0)});
    source->chapters = {{-2, 60000, "开始"}, {60000, 3723004, ""}, {3723004, 3800000, "Tab\there"}};
    build();
    const MenuItem* chapters = submenu(tree, "章节");
    ASSERT_NE(chapters, nullptr);
    EXPECT_EQ(texts(chapters->items),
              (std::vector<std::string>{"00:00:00.000 - 00:01:00.000 / 开始", "00:01:00.000 - 01:02:03.004",
                                        "01:02:03.004 - 01:03:20.000 / Tab here"}));
    const struct {
        int32_t clock_ms;
        int marked; // -1 none
    } cases[] = {{0, 0}, {59999, 0}, {60000, 1}, {3723004, 2}, {3800000, -1}, {-50, -1}};
    for (const auto& c : cases) {
        ctx->clock_ms.store(c.clock_ms);
        menu_sync_marks(ctx, tree);
        for (int i = 0; i < 3; i++) {
            EXPECT_TRUE(chapters->items[size_t(i)].radio);
            EXPECT_EQ(chapters->items[size_t(i)].checked, i == c.marked) << c.clock_ms << " chapter " << i;
        }
    }
}

TEST_F(MenuTest, names_and_metadata_from_files_give_safe_texts)
{
    std::string long_name(10000, 'n');
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"ampersand shows as itself", "Tom & Jerry.mkv", "    1 - Tom && Jerry.mkv"},
        {"tab and line breaks become spaces", "a\tb\nc\r\x01.mkv", "    1 - a b c  .mkv"},
        {"a C1 control becomes a space", "x\xC2\x85y", "    1 - x y"},
        {"legacy bytes are converted", "\xB5\xE7\xD3\xB0.mkv", "    1 - 电影.mkv"},
        {"a long name is cut to 292 units", long_name, "    1 - " + std::string(284, 'n')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(menu_entry_text(0, c.in.c_str()), c.out) << c.name;
    // Four-byte characters count two units each and are never split.
    std::string emoji;
    for (int i = 0; i < 200; i++)
        emoji += "\xF0\x9F\x8E\xAC";
    std::string text = menu_entry_text(99999, emoji.c_str());
    EXPECT_EQ(text.substr(0, 9), "100000 - ");
    EXPECT_EQ(text.size(), 9 + 141 * 4u); // 9 units of head, 283 left: 141 whole characters
    // Invalid UTF-8 that no legacy encoding takes still gives valid text.
    std::string bad = menu_plain_text("\xFF\xFE\xC0", 3);
    EXPECT_TRUE(utf8_is_valid(bad.data(), bad.size()));
    // Empty metadata leaves the fields out; a stream with nothing known still has its number and codec.
    MenuStream bare{};
    bare.kind = MENU_STREAM_SUBTITLE;
    EXPECT_EQ(menu_stream_text(&bare, 0), "#0 / unknown");
}

TEST_F(MenuTest, a_list_of_100000_entries_builds_quickly_with_200_columns)
{
    add_entries(100000);
    ctx->current_item.store(99999);
    auto start = std::chrono::steady_clock::now();
    build();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0); // generous: sanitizer builds on a loaded machine
    const MenuItem* list = submenu(tree, "列表");
    size_t groups = 0, breaks = 0;
    for (const MenuItem& item : list->items) {
        groups += item.submenu;
        breaks += item.column_break;
    }
    EXPECT_EQ(groups, 4000u);
    EXPECT_EQ(breaks, 199u);
    EXPECT_TRUE(menu_find(&tree->items, CMD_FIRST_ENTRY + 99999)->checked);
}

TEST_F(MenuTest, the_cache_is_built_once_kept_current_and_dropped_with_the_list)
{
    Stats* stats = stats_enable(ctx, now_ms());
    add_entries(3);
    show_context_menu(w); // headless: built, recorded, not drawn
    auto* cached = static_cast<MenuTree*>(ctx->menu.load());
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(ctx->menu_depth.load(), 0);
    EXPECT_NE(stats->menu_json.find("{\"id\":4023,\"text\":\"    1 - /media/clip1.mkv\",\"checked\":true,"
                                    "\"radio\":false,\"separator\":false,\"column_break\":false}"),
              std::string::npos)
        << stats->menu_json;
    EXPECT_NE(stats->menu_json.find("\"text\":\"随机打乱列表(&R)\\tR\""), std::string::npos);
    // A toggle marks its item in the cached menu; the next showing keeps the cache.
    menu_set_check(ctx, CMD_ALWAYS_ON_TOP, 1);
    EXPECT_TRUE(menu_find(&cached->items, CMD_ALWAYS_ON_TOP)->checked);
    ctx->current_item.store(2);
    show_context_menu(w);
    EXPECT_EQ(ctx->menu.load(), cached);
    EXPECT_TRUE(menu_find(&cached->items, CMD_FIRST_ENTRY + 2)->checked);
    EXPECT_FALSE(menu_find(&cached->items, CMD_FIRST_ENTRY)->checked);
    // Sorting drops it; the next showing builds a new one.
    playlist_sort(ctx);
    EXPECT_EQ(ctx->menu.load(), nullptr);
    show_context_menu(w);
    EXPECT_NE(ctx->menu.load(), nullptr);
    stats_disable(ctx);
}

} // namespace
