// The settings file: its exact bytes, the lookup rules, loading order and
// effects, the saved playlist, bad files, and saving that never loses the
// old file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "support/stress.h"

namespace {

// settings_default_path as a user who owns none of the test's files: a
// child process that, when the test runs as root, becomes "nobody" (as a
// plain user, the test's files are made by that user and stand in for
// another's only where their modes say so).
std::string default_path_as_other_user(const std::string& executable)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(1);
        std::string path = settings_default_path(executable.c_str(), "/cfg", "/home/u");
        ssize_t n = write(fds[1], path.data(), path.size());
        _exit(n == ssize_t(path.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, size_t(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return out;
}

std::string read_bytes(const std::string& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    fclose(f);
    return out;
}

void write_bytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// The file form of a text, built here from a UTF-16 literal so the test does
// not share the program's own conversion.
std::string utf16_file(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

const std::u16string HEADER = u"\uFEFF[Moravista]\r\n";

// Remembers the calls of the desktop steps.
struct HookLog {
    int always_on_top = 0, hotkeys = 0, cool_menu = 0, placed = 0;
    SettingsRect placed_rect{};
};
HookLog hook_log;

struct SettingsTest : ::testing::Test {
    PlayerContext* ctx = nullptr;
    std::string folder, path;
    SettingsHooks hooks{};

    void SetUp() override
    {
        ctx = player_context_new();
        player_setup(ctx);
        char name[] = "/tmp/mv_settings_XXXXXX";
        folder = mkdtemp(name);
        path = folder + "/moravista.ini";
        settings_set_path(path.c_str());
        settings_reset(&settings);
        hook_log = HookLog{};
        hooks.get_work_area = [](PlayerContext*, SettingsRect* area) { *area = SettingsRect{0, 0, 1600, 900}; };
        hooks.apply_always_on_top = [](PlayerContext*) { hook_log.always_on_top++; };
        hooks.register_hotkeys = [](PlayerContext*) { hook_log.hotkeys++; };
        hooks.install_cool_menu = [](PlayerContext*) { hook_log.cool_menu++; };
        hooks.place_window = [](PlayerContext*, const SettingsRect* r) {
            hook_log.placed++;
            hook_log.placed_rect = *r;
        };
        settings_set_hooks(&hooks);
    }
    void TearDown() override
    {
        settings_set_hooks(nullptr);
        settings_set_path(nullptr);
        settings_reset(&settings);
        playlist_free(ctx);
        player_context_free(ctx);
        std::string command = "rm -rf '" + folder + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    void load_text(const std::u16string& lines) { load_bytes(utf16_file(HEADER + lines)); }
    void load_bytes(const std::string& bytes)
    {
        write_bytes(path, bytes);
        settings_load(ctx);
    }
    std::vector<std::string> paths() const
    {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < ctx->item_count.load(); i++)
            out.push_back(ctx->playlist.items[i].path);
        return out;
    }
    // A fresh context for the second half of a round trip.
    void restart()
    {
        playlist_free(ctx);
        player_context_free(ctx);
        ctx = player_context_new();
        player_setup(ctx);
        settings_reset(&settings);
    }
};

TEST_F(SettingsTest, save_writes_the_exact_bytes_in_order_and_leaves_out_defaults)
{
    load_text(u"");
    settings.always_on_top.store(1);
    settings.show_progress.store(0);
    settings.hw_decode.store(0);
    settings.standard_sub_style.store(1);
    audio_set_volume(&ctx->audio, 100);
    ctx->subtitle_choice.store(-2);
    ctx->current_item.store(1);
    ctx->clock_ms.store(61000);
    ASSERT_TRUE(playlist_add_entry(ctx, "/v/一.mkv", 0));
    ASSERT_TRUE(playlist_add_entry(ctx, "/v/two.mp4", 0));
    playlist_set_title(ctx, 1, "line one\r\nline two\nthree");
    playlist_set_params(ctx, 1, "headers=A: b\r\nC: d\x01" "rw_timeout=5");
    ASSERT_EQ(settings_save(ctx), 1);
    std::u16string expected = HEADER + u"总在最前=1\r\n显示进度=0\r\n硬解=0\r\n"
                                       u"left=320\r\nright=1280\r\ntop=180\r\nbottom=720\r\n"
                                       u"字幕样式=1\r\n音量=100\r\n"
                                       u"字幕轨道=-2\r\n当前播放=1\r\n当前时间=61000\r\n播放中=-1\r\n列表数=2\r\n"
                                       u"0=/v/一.mkv\r\n1=/v/two.mp4\r\n1_标题=line one line two three\r\n"
                                       u"1_参数=headers=A: b\\r\\nC: d\u0001rw_timeout=5\r\n";
    EXPECT_EQ(read_bytes(path), utf16_file(expected));
}

TEST_F(SettingsTest, header_only_file_gives_defaults_and_saves_the_short_form)
{
    load_text(u"");
    EXPECT_EQ(settings.show_progress.load(), 1);
    EXPECT_EQ(settings.cool_menu.load(), 1);
    EXPECT_EQ(settings.save_playlist.load(), 1);
    EXPECT_EQ(ctx->audio.volume.load(), 110u);
    EXPECT_EQ(hook_log.cool_menu, 1);
    EXPECT_EQ(hook_log.always_on_top + hook_log.hotkeys, 0);
    EXPECT_EQ(hook_log.placed, 1);
    EXPECT_EQ(hook_log.placed_rect.left, 320); // 960 x 540 centred in 1600 x 900
    EXPECT_EQ(hook_log.placed_rect.bottom, 720);
    ASSERT_EQ(settings_save(ctx), 1);
    EXPECT_EQ(read_bytes(path),
              utf16_file(HEADER + u"left=320\r\nright=1280\r\ntop=180\r\nbottom=720\r\n播放中=-1\r\n"));
    settings.save_playlist.store(0);
    ASSERT_EQ(settings_save(ctx), 1);
    EXPECT_EQ(read_bytes(path),
              utf16_file(HEADER + u"left=320\r\nright=1280\r\ntop=180\r\nbottom=720\r\n保存列表=0\r\n"));
}

TEST_F(SettingsTest, lookup_rules_for_keys_and_numbers)
{
    struct Case {
        std::u16string lines;
        int32_t left;
    } cases[] = {
        {u"left=10\r\n", 10},
        {u"  \t left=11\r\n", 11},
        {u"LEFT=12\r\n", 12},
        {u"Left=13\r\nleft=99\r\n", 13},   // the first match wins
        {u"leftx=14\r\nleft =15\r\n", 0},  // "=" must follow the key at once
        {u"left= 16abc\r\n", 16},
        {u"left=-17\r\n", -17},
        {u"left=+18\r\n", 18},
        {u"left=abc\r\n", 0},
        {u"left=\r\n19\r\n", 0},           // a value ends with its line
        {u"left=99999999999\r\n", 2147483647},
        {u"left=-99999999999\r\n", -2147483647 - 1},
        {u"x=1\rleft=20\n", 20},           // a lone CR or LF ends a line too
    };
    for (const Case& c : cases) {
        SettingsFile* file = settings_file_parse(utf16_file(HEADER + c.lines).data(), (HEADER + c.lines).size() * 2);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(settings_get_int(file, "left", 0), c.left) << std::string(c.lines.begin(), c.lines.end());
        settings_file_free(file);
    }
    // Without a mark the first line can hold a key; with it, never.
    std::string no_mark = utf16_file(u"left=5\r\n");
    SettingsFile* file = settings_file_parse(no_mark.data(), no_mark.size());
    EXPECT_EQ(settings_get_int(file, "left", 0), 5);
    settings_file_free(file);
    std::string marked = utf16_file(u"\uFEFFleft=5\r\n");
    file = settings_file_parse(marked.data(), marked.size());
    EXPECT_EQ(settings_get_int(file, "left", 0), 0);
    EXPECT_EQ(settings_get_text(file, "missing"), "");
    settings_file_free(file);
    EXPECT_EQ(settings_get_int(nullptr, "left", 7), 7);
}

TEST_F(SettingsTest, volume_applies_only_within_its_range)
{
    struct Case {
        std::u16string line;
        uint32_t volume;
    } cases[] = {{u"音量=301\r\n", 110}, {u"音量=-5\r\n", 110}, {u"音量=0\r\n", 0}, {u"音量=300\r\n", 300}};
    for (const Case& c : cases) {
        audio_set_volume(&ctx->audio, 110);
        load_text(c.line);
        EXPECT_EQ(ctx->audio.volume.load(), c.volume);
    }
}

TEST_F(SettingsTest, window_rectangle_is_used_when_large_enough_and_fitted_into_the_work_area)
{
    struct Case {
        std::u16string lines;
        SettingsRect placed;
    } cases[] = {
        {u"left=100\r\nright=900\r\ntop=50\r\nbottom=650\r\n", {100, 50, 900, 650}},
        {u"left=100\r\nright=199\r\ntop=50\r\nbottom=650\r\n", {320, 180, 1280, 720}}, // 99 wide
        {u"left=1000\r\nright=1800\r\ntop=-40\r\nbottom=400\r\n", {800, 0, 1600, 440}},
        {u"left=-5000\r\nright=5000\r\ntop=0\r\nbottom=2000\r\n", {0, 0, 1600, 900}},
        {u"left=-2147483648\r\nright=2147483647\r\ntop=0\r\nbottom=500\r\n", {0, 0, 1600, 500}},
    };
    for (const Case& c : cases) {
        load_text(c.lines);
        SettingsRect r = hook_log.placed_rect;
        EXPECT_EQ(r.left, c.placed.left);
        EXPECT_EQ(r.top, c.placed.top);
        EXPECT_EQ(r.right, c.placed.right);
        EXPECT_EQ(r.bottom, c.placed.bottom);
    }
}

TEST_F(SettingsTest, options_and_their_desktop_steps)
{
    load_text(u"总在最前=1\r\n开启热键=1\r\nCOOL菜单=0\r\n清理内存=1\r\n画面外字幕=1\r\n硬解=0\r\n");
    EXPECT_EQ(settings.always_on_top.load(), 1);
    EXPECT_EQ(settings.hotkeys_enabled.load(), 1);
    EXPECT_EQ(settings.cool_menu.load(), 0);
    EXPECT_EQ(settings.trim_memory.load(), 1);
    EXPECT_EQ(settings.subs_outside.load(), 1);
    EXPECT_EQ(settings.hw_decode.load(), 0);
    EXPECT_EQ(hook_log.always_on_top, 1);
    EXPECT_EQ(hook_log.hotkeys, 1);
    EXPECT_EQ(hook_log.cool_menu, 0);
}

TEST_F(SettingsTest, saved_list_is_restored_with_gaps_titles_parameters_and_state)
{
    load_text(u"视频轨道=2\r\n字幕轨道=-2\r\n当前播放=2\r\n当前时间=5000\r\n播放中=0\r\n列表数=4\r\n"
              u"0=/a.mkv\r\n0_标题=片名\r\n2=/c.mkv\r\n2_参数=a=1\r\n02=/never.mkv\r\n3=\r\n4=/beyond.mkv\r\n"
              u"1_标题=orphan\r\n5_参数=x\r\n"
              u"\r\n列表数=9\r\n");
    EXPECT_EQ(paths(), (std::vector<std::string>{"/a.mkv", "/c.mkv"}));
    EXPECT_STREQ(ctx->playlist.items[0].title, "片名");
    EXPECT_EQ(ctx->playlist.items[0].params, nullptr);
    EXPECT_STREQ(ctx->playlist.items[1].params, "a=1");
    EXPECT_EQ(ctx->video_choice.load(), 2);
    EXPECT_EQ(ctx->audio_choice.load(), -1);
    EXPECT_EQ(ctx->subtitle_choice.load(), -2);
    // The saved index is used unchanged although the gap moved the entry.
    EXPECT_EQ(ctx->current_item.load(), 2u);
    EXPECT_EQ(ctx->open_index.load(), 2);
    EXPECT_EQ(ctx->open_play.load(), 0);
    EXPECT_EQ(ctx->open_start_ms.load(), 5000);
}

// A path is never cut: one that needs more than 779 UTF-16 units could not
// be opened, and cut it would name another file.
TEST_F(SettingsTest, saved_paths_are_read_whole_and_one_too_long_to_open_is_left_out_with_one_notice)
{
    std::u16string stem = u"/" + std::u16string(772, u'x') + u"/x.mkv"; // 779 units
    std::u16string wide = u"/" + std::u16string(780, u'长');             // 781 units, 2343 bytes
    std::u16string title(900, u't');
    struct Case {
        std::u16string lines;
        std::vector<size_t> loaded; // path lengths in bytes
        std::string notice;
    } cases[] = {
        {u"0=" + stem + u"\r\n1=" + stem + u"-part2.mkv\r\n", {779}, "未添加 (路径过长): /xxxx"},
        {u"0=" + wide + u"\r\n1=" + std::u16string(4095, u'/') + u"\r\n2=/a.mkv\r\n", {6}, "未添加2项 (路径过长): /长"},
        {u"0=" + stem + u"\r\n0_标题=" + title + u"\r\n", {779}, ""},
    };
    for (const Case& c : cases) {
        restart();
        load_text(u"列表数=3\r\n" + c.lines);
        std::vector<size_t> loaded;
        for (uint32_t i = 0; i < ctx->item_count.load(); i++)
            loaded.push_back(strlen(ctx->playlist.items[i].path));
        EXPECT_EQ(loaded, c.loaded);
        char text[4096];
        notice_copy(ctx, text, sizeof text);
        EXPECT_EQ(std::string(text).find(c.notice), c.notice.empty() ? 0u : 1u) << text;
    }
    EXPECT_EQ(strlen(ctx->playlist.items[0].title), 779u) << "a title is only shown: it is cut";
}

TEST_F(SettingsTest, play_state_decides_what_opens)
{
    struct Case {
        std::u16string lines;
        bool command_line_entry;
        int32_t open_index, open_play, open_start_ms;
        uint32_t count;
    } cases[] = {
        {u"播放中=-1\r\n列表数=1\r\n0=/a.mkv\r\n", false, -1, 0, 0, 1},
        {u"播放中=1\r\n当前时间=700\r\n列表数=1\r\n0=/a.mkv\r\n", false, 0, 1, 700, 1},
        // A file on the command line: the saved list and state are ignored.
        {u"播放中=0\r\n当前播放=1\r\n当前时间=700\r\n视频轨道=3\r\n列表数=2\r\n0=/a.mkv\r\n1=/b.mkv\r\n", true, 0, 1,
         0, 1},
        {u"保存列表=0\r\n播放中=-1\r\n列表数=1\r\n0=/a.mkv\r\n", false, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        restart();
        ctx->open_play.store(0);
        ctx->open_start_ms.store(0);
        if (c.command_line_entry)
            playlist_add_entry(ctx, "/cmd.mkv", 1);
        load_text(c.lines);
        EXPECT_EQ(ctx->open_index.load(), c.open_index);
        EXPECT_EQ(ctx->open_play.load(), c.open_play);
        EXPECT_EQ(ctx->open_start_ms.load(), c.open_start_ms);
        EXPECT_EQ(ctx->item_count.load(), c.count);
        EXPECT_EQ(ctx->video_choice.load(), -1);
    }
}

TEST_F(SettingsTest, list_of_many_entries_with_titles_parameters_and_odd_paths_round_trips)
{
    const uint32_t count = 100000 / STRESS_SCALE;
    load_text(u"");
    for (uint32_t i = 0; i < count; i++) {
        std::string p = "/媒体/folder " + std::to_string(i % 97) + "/episode " + std::to_string(i) + ".mkv";
        ASSERT_TRUE(playlist_add_entry(ctx, p.c_str(), 0));
        if (i % 3 == 0)
            playlist_set_title(ctx, i, ("标题 " + std::to_string(i)).c_str());
        if (i % 5 == 0)
            playlist_set_params(ctx, i, ("user_agent=a\\\\b\x01" "headers=X: " + std::to_string(i) + "\\r\\n").c_str());
    }
    // Names that are not UTF-8, or hold a line break, come back byte for byte.
    const char* odd[] = {"/m/\xb5\xe7\xd3\xb0.mkv", "/m/line\nbreak.mkv", "/m/cr\r.mkv", "/m/\xff\xfe.mkv",
                         "/m/😀 emoji.mkv"};
    for (const char* p : odd)
        ASSERT_TRUE(playlist_add_entry(ctx, p, 0));
    uint32_t total = ctx->item_count.load();
    std::vector<PlaylistEntry> before(ctx->playlist.items, ctx->playlist.items + total);
    std::vector<std::string> texts;
    for (const PlaylistEntry& e : before) {
        texts.push_back(e.path);
        texts.push_back(e.title ? e.title : "-");
        texts.push_back(e.params ? e.params : "-");
    }
    ctx->current_item.store(total - 1);
    ASSERT_EQ(settings_save(ctx), 1);
    restart();
    settings_load(ctx);
    ASSERT_EQ(ctx->item_count.load(), total);
    EXPECT_EQ(ctx->current_item.load(), total - 1);
    for (uint32_t i = 0; i < total; i++) {
        const PlaylistEntry& e = ctx->playlist.items[i];
        ASSERT_EQ(e.path, texts[3 * i]) << i;
        ASSERT_EQ(e.title ? e.title : "-", texts[3 * i + 1]) << i;
        ASSERT_EQ(e.params ? e.params : "-", texts[3 * i + 2]) << i;
    }
}

TEST_F(SettingsTest, bad_files_load_what_parses_and_are_replaced_only_by_a_complete_save)
{
    std::mt19937 rng(11);
    std::string random_bytes(1 << 16, 0);
    for (char& b : random_bytes)
        b = char(rng());
    std::string good = utf16_file(HEADER + u"显示进度=0\r\n音量=50\r\n列表数=1\r\n0=/a.mkv\r\n");
    std::string large = utf16_file(HEADER + u"显示进度=0\r\n");
    size_t large_bytes = size_t(100) << 20 >> (STRESS_SCALE > 1 ? 3 : 0);
    std::string filler = utf16_file(u"junk line without an equals sign\r\nk=v\r\n");
    while (large.size() < large_bytes)
        large += filler;
    std::string no_equals;
    for (int i = 0; i < 5000; i++)
        no_equals += utf16_file(u"显示进度0 音量 300\r\n");
    struct Case {
        const char* name;
        std::string bytes;
        int32_t show_progress;
        uint32_t volume;
        uint32_t entries;
    } cases[] = {
        {"truncated mid-line", good.substr(0, good.size() - 9), 0, 50, 1},
        {"odd byte count", good + "\x41", 0, 50, 1},
        {"random bytes", random_bytes, 1, 110, 0},
        {"UTF-8 text", "[Moravista]\r\n显示进度=0\r\n音量=50\r\n列表数=1\r\n0=/a.mkv\r\n", 0, 50, 1},
        {"100 MB", large, 0, 110, 0},
        {"lines without =", no_equals, 1, 110, 0},
        {"empty", "", 1, 110, 0},
        {"zero units", std::string(4096, '\0') + good, 0, 50, 1},
    };
    for (const Case& c : cases) {
        restart();
        load_bytes(c.bytes);
        EXPECT_EQ(settings.show_progress.load(), c.show_progress) << c.name;
        EXPECT_EQ(ctx->audio.volume.load(), c.volume) << c.name;
        EXPECT_EQ(ctx->item_count.load(), c.entries) << c.name;
        EXPECT_EQ(read_bytes(path), c.bytes) << c.name << ": loading never writes";
        ASSERT_EQ(settings_save(ctx), 1) << c.name;
        std::string saved = read_bytes(path);
        EXPECT_EQ(saved.compare(0, 28, utf16_file(HEADER)), 0) << c.name;
        restart();
        settings_load(ctx);
        EXPECT_EQ(settings.show_progress.load(), c.show_progress) << c.name;
        EXPECT_EQ(ctx->item_count.load(), c.entries) << c.name;
    }
}

TEST_F(SettingsTest, a_save_that_fails_midway_leaves_the_old_file_intact)
{
    load_text(u"音量=50\r\n");
    std::string old = read_bytes(path);
    for (int i = 0; i < 2000; i++)
        playlist_add_entry(ctx, ("/a/long/enough/path/number/" + std::to_string(i) + ".mkv").c_str(), 0);
    // A full disk, as the file-size limit makes it: the write stops part way.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved_limit;
    getrlimit(RLIMIT_FSIZE, &saved_limit);
    struct rlimit small = saved_limit;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = settings_save(ctx);
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_bytes(path), old);
    std::string listing;
    FILE* ls = popen(("ls -A '" + folder + "'").c_str(), "r");
    char line[512];
    while (fgets(line, sizeof line, ls))
        listing += line;
    pclose(ls);
    EXPECT_EQ(listing, "moravista.ini\n") << "no temporary file is left behind";
    // A location that cannot be made fails the same way and creates nothing.
    settings_set_path((path + "/below_a_file.ini").c_str());
    EXPECT_EQ(settings_save(ctx), 0);
    EXPECT_EQ(read_bytes(path), old);
}

TEST_F(SettingsTest, disabled_settings_neither_read_nor_write)
{
    write_bytes(path, utf16_file(HEADER + u"显示进度=0\r\n"));
    settings_disable();
    settings_load(ctx);
    EXPECT_EQ(settings.show_progress.load(), 1);
    EXPECT_EQ(settings_save(ctx), 0);
    EXPECT_EQ(read_bytes(path), utf16_file(HEADER + u"显示进度=0\r\n"));
    EXPECT_EQ(settings_path(), "");
}

TEST_F(SettingsTest, location_is_beside_the_program_when_usable_else_the_config_folder)
{
    std::string exe = folder + "/bin/moravista";
    mkdir((folder + "/bin").c_str(), 0755);
    struct Case {
        std::string executable;
        const char *config_home, *home;
        std::string expected;
    } cases[] = {
        {exe, "/cfg", "/home/u", folder + "/bin/moravista.ini"},
        {folder + "/bin/moravista.bin", "/cfg", "/home/u", folder + "/bin/moravista.ini"},
        {"/nonexistent/bin/moravista", "/cfg", "/home/u", "/cfg/moravista/moravista.ini"},
        {"/nonexistent/bin/moravista", "", "/home/u", "/home/u/.config/moravista/moravista.ini"},
        {"/nonexistent/bin/moravista", "relative", "/home/u", "/home/u/.config/moravista/moravista.ini"},
        {"/nonexistent/bin/moravista", nullptr, nullptr, ""},
        // Installed by the package: /usr/bin is writable by root, yet no place for settings.
        {"/usr/bin/moravista", "/cfg", "/home/u", "/cfg/moravista/moravista.ini"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings_default_path(c.executable.c_str(), c.config_home, c.home), c.expected) << c.executable;
    // Beside the program only where this user can write: another user's
    // folder, or another user's file in a folder anyone may write, is not
    // read (nothing changed there could be saved).
    struct Shared {
        const char* name;
        mode_t folder_mode;
        bool file;
        bool beside;
    } shared[] = {{"root's folder and file", 0755, true, false},
                  {"root's file in a folder anyone writes", 0777, true, false},
                  {"a folder anyone writes", 0777, false, true}};
    chmod(folder.c_str(), 0755);
    for (const Shared& c : shared) {
        std::string bin = folder + "/" + std::to_string(c.folder_mode) + (c.file ? "f" : "");
        mkdir(bin.c_str(), 0755);
        if (c.file)
            write_bytes(bin + "/moravista.ini", utf16_file(HEADER + u"音量=42\r\n"));
        chmod(bin.c_str(), c.folder_mode);
        std::string expected = c.beside ? bin + "/moravista.ini" : "/cfg/moravista/moravista.ini";
        EXPECT_EQ(default_path_as_other_user(bin + "/moravista"), expected) << c.name;
    }
    // The configuration folder is made when the first save needs it.
    settings_set_path((folder + "/cfg/moravista/moravista.ini").c_str());
    EXPECT_EQ(settings_save(ctx), 1);
    EXPECT_EQ(read_bytes(folder + "/cfg/moravista/moravista.ini").compare(0, 28, utf16_file(HEADER)), 0);
}

} // namespace
