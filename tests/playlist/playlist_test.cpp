// The playlist: adding files and folders, committing batches, natural order,
// shuffling, next and previous, and the window-thread answers to the engine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "support/stress.h"

namespace {

struct PlaylistTest : ::testing::Test {
    PlayerContext* ctx = nullptr;
    std::string folder;

    void SetUp() override
    {
        ctx = player_context_new();
        player_setup(ctx);
        char name[] = "/tmp/mv_playlist_XXXXXX";
        folder = mkdtemp(name);
    }
    void TearDown() override
    {
        playlist_free(ctx);
        av_dict_free(&ctx->open_options);
        player_context_free(ctx);
        std::string command = "rm -rf '" + folder + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    void add(std::initializer_list<const char*> paths)
    {
        for (const char* p : paths)
            ASSERT_TRUE(playlist_add_entry(ctx, p, 0));
    }
    std::vector<std::string> paths() const
    {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < ctx->item_count.load(); i++)
            out.push_back(ctx->playlist.items[i].path);
        return out;
    }
    std::string notice() const
    {
        char text[2048];
        notice_copy(ctx, text, sizeof text);
        return text;
    }
    // Makes folder/relative (and its folders) holding a few bytes.
    std::string touch(const std::string& relative)
    {
        std::string path = folder + "/" + relative;
        for (size_t slash = path.find('/', folder.size() + 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0755);
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            fputs("x", f);
            fclose(f);
        }
        return path;
    }
    void expect_open_request(int32_t index, int32_t play, int32_t start_ms)
    {
        EXPECT_EQ(ctx->open_index.load(), index);
        EXPECT_EQ(ctx->open_play.load(), play);
        EXPECT_EQ(ctx->open_start_ms.load(), start_ms);
        EXPECT_EQ(ctx->open_request.load(), 1);
    }
};

TEST_F(PlaylistTest, duplicate_check_compares_whole_paths_byte_for_byte_as_the_file_system_does)
{
    struct Case {
        const char* second;
        int added;
    } cases[] = {
        {"/m/film.mkv", 0}, {"/m/Film.MKV", 1}, {"/m/FILM.mkv", 1}, {"/m/film.mkv.part", 1}, {"/m/film.mk", 1},
        {"/m/电影.mkv", 1}, {"/m/\xb5\xe7.mkv", 1},
    };
    for (const Case& c : cases) {
        playlist_free(ctx);
        ASSERT_TRUE(playlist_add_entry(ctx, "/m/film.mkv", 1));
        EXPECT_EQ(playlist_add_entry(ctx, c.second, 1), c.added) << c.second;
        EXPECT_EQ(playlist_add_entry(ctx, c.second, 0), 1) << "without the check everything is added";
    }
}

TEST_F(PlaylistTest, duplicate_check_still_works_after_sorting_shuffling_and_replacing)
{
    for (int i = 0; i < 200; i++)
        ASSERT_TRUE(playlist_add_entry(ctx, ("/m/" + std::to_string(i) + ".mkv").c_str(), 1));
    playlist_sort(ctx);
    playlist_shuffle(ctx);
    EXPECT_FALSE(playlist_add_entry(ctx, "/m/150.mkv", 1));
    EXPECT_TRUE(playlist_add_entry(ctx, "/M/150.MKV", 1));
    ASSERT_TRUE(playlist_add_entry(ctx, "/n/new.mkv", 0));
    ASSERT_EQ(playlist_commit_added(ctx, 0, 201), 1);
    EXPECT_FALSE(playlist_add_entry(ctx, "/n/new.mkv", 1));
    EXPECT_TRUE(playlist_add_entry(ctx, "/m/150.mkv", 1)) << "replaced entries no longer count";
}

// Every way in (the command line, drops, the dialogs, the bus, data
// messages, the saved list) asks this one check.
TEST_F(PlaylistTest, the_intake_admits_files_folders_and_locations_and_refuses_pipes_devices_and_cut_paths)
{
    std::string file = touch("a.mkv"), odd = touch("\xb5\xe7\xd3\xb0.mkv"), fifo = folder + "/pipe.mkv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string deep = folder + "/" + std::string(4096 - folder.size() - 1, 'd'); // 4096 bytes
    std::string fits = folder; // 779 units, in folders of 200
    for (; fits.size() + 201 < 779; mkdir(fits.c_str(), 0755))
        fits += "/" + std::string(200, 'f');
    fits += "/" + std::string(779 - fits.size() - 1, 'f');
    std::string wide = folder + "/";
    while (utf16_units(wide.data(), wide.size()) < 780)
        wide += "长";
    FILE* f = fopen(fits.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    const int REFUSED = -1;
    struct Case {
        std::string path;
        int keep_missing;
        int kind;
        std::string entry; // what the entry holds; empty: the path itself
        int reason;        // when refused
    } cases[] = {
        {file, 0, PLAYLIST_INTAKE_FILE, "", 0},
        {odd, 0, PLAYLIST_INTAKE_FILE, "", 0}, // not UTF-8: kept byte for byte
        {folder, 0, PLAYLIST_INTAKE_FOLDER, "", 0},
        {"https://example.org/live.m3u8", 0, PLAYLIST_INTAKE_LOCATION, "", 0},
        {"file://" + file, 0, PLAYLIST_INTAKE_FILE, file, 0},
        {fits, 0, PLAYLIST_INTAKE_FILE, "", 0},
        {fifo, 1, REFUSED, "", PLAYLIST_INTAKE_NOT_A_FILE},
        {"file://" + fifo, 1, REFUSED, fifo, PLAYLIST_INTAKE_NOT_A_FILE},
        {"/dev/zero", 1, REFUSED, "", PLAYLIST_INTAKE_NOT_A_FILE},
        {"/dev/null", 1, REFUSED, "", PLAYLIST_INTAKE_NOT_A_FILE},
        {folder + "/gone.mkv", 0, REFUSED, "", PLAYLIST_INTAKE_MISSING},
        {folder + "/gone.mkv", 1, PLAYLIST_INTAKE_MISSING, "", 0}, // a disk not mounted yet
        {"pipe:0", 1, REFUSED, "", PLAYLIST_INTAKE_MISSING},       // a protocol, not a file
        {deep, 1, REFUSED, "", PLAYLIST_INTAKE_TOO_LONG},
        {wide, 1, REFUSED, "", PLAYLIST_INTAKE_TOO_LONG},
    };
    for (const Case& c : cases) {
        PlaylistRefusals refused;
        std::string entry;
        EXPECT_EQ(playlist_admit(c.path.c_str(), c.keep_missing, &entry, &refused), c.kind) << c.path;
        EXPECT_EQ(entry, c.entry.empty() ? c.path : c.entry) << c.path;
        EXPECT_EQ(refused.count, c.kind == REFUSED ? 1u : 0u) << c.path;
        if (c.kind == REFUSED)
            EXPECT_EQ(refused.first_reason, c.reason) << c.path;
    }
    // One notice for what a batch refused, naming the first.
    PlaylistRefusals refused;
    std::string entry;
    playlist_admit(fifo.c_str(), 0, &entry, &refused);
    playlist_refusals_notice(ctx, &refused);
    EXPECT_EQ(notice(), " 未添加 (不是文件或目录): " + fifo + " ");
    playlist_admit("/dev/zero", 0, &entry, &refused);
    playlist_admit(odd.c_str(), 0, &entry, &refused);
    playlist_refusals_notice(ctx, &refused);
    EXPECT_EQ(notice(), " 未添加2项 (不是文件或目录): " + fifo + " 等 ");
    // The command line's way in: a missing file is kept, a pipe is not.
    EXPECT_EQ(playlist_add_path(ctx, fifo.c_str(), 1, &refused), 0u);
    EXPECT_EQ(playlist_add_path(ctx, (folder + "/gone.mkv").c_str(), 1, &refused), 1u);
    EXPECT_EQ(paths(), (std::vector<std::string>{folder + "/gone.mkv"}));
    EXPECT_EQ(refused.count, 3u);
}

// A folder is listed as the platform the player comes from lists it: by
// name, case folded, ordinal, at every level (readdir's order is arbitrary).
TEST_F(PlaylistTest, a_folder_is_listed_by_case_folded_name_at_every_level_whatever_the_disk_order)
{
    for (const char* name : {"clip3.mkv", "clip1.mkv", "clip2.mkv", "clip4.mkv", "clip10.mkv", "B.mkv", "a.mkv",
                             "_x.mkv", "Zed/b.mp4", "Zed/A.mp4", "zed2/c.mkv", "Ä.mkv", "ä1.mkv"})
        touch(std::string("tree/") + name);
    for (int i = 800; i >= 1; i--)
        touch("many/item" + std::to_string(i) + ".mp3");
    std::string fifo = folder + "/tree/clip0.mkv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("..", (folder + "/tree/Zed/loop").c_str()), 0);
    PlaylistFolderFiles files;
    playlist_collect_media((folder + "/tree").c_str(), &files, nullptr);
    std::vector<std::string> names;
    for (const std::string& p : files.paths)
        names.push_back(p.substr(folder.size() + 6));
    EXPECT_EQ(names, (std::vector<std::string>{"_x.mkv", "a.mkv", "B.mkv", "clip1.mkv", "clip10.mkv", "clip2.mkv",
                                               "clip3.mkv", "clip4.mkv", "Zed/A.mp4", "Zed/b.mp4", "zed2/c.mkv",
                                               "Ä.mkv", "ä1.mkv"}));
    EXPECT_EQ(files.refused.count, 1u) << "the pipe named like a film";
    EXPECT_EQ(files.refused.first_path, fifo);
    playlist_collect_media((folder + "/many").c_str(), &files, nullptr);
    ASSERT_EQ(files.paths.size(), 800u);
    EXPECT_EQ(files.paths[0], folder + "/many/item1.mp3");
    EXPECT_EQ(files.paths[1], folder + "/many/item10.mp3");
    // A walk that is told to stop stops.
    std::atomic<int> cancel{1};
    playlist_collect_media((folder + "/many").c_str(), &files, &cancel);
    EXPECT_TRUE(files.paths.empty());
}

TEST_F(PlaylistTest, folder_of_video_song_and_picture_adds_video_then_song_only)
{
    touch("mixed/c.jpg");
    touch("mixed/b.mp3");
    touch("mixed/a.mkv");
    touch("pictures/x.PNG");
    touch("pictures/y.jpeg");
    touch("pictures/notes.txt");
    EXPECT_EQ(playlist_add_path(ctx, (folder + "/mixed").c_str(), 1), 2u);
    EXPECT_EQ(paths(), (std::vector<std::string>{folder + "/mixed/a.mkv", folder + "/mixed/b.mp3"}));
    playlist_free(ctx);
    EXPECT_EQ(playlist_add_path(ctx, (folder + "/pictures").c_str(), 1), 2u);
    playlist_sort(ctx);
    EXPECT_EQ(paths(), (std::vector<std::string>{folder + "/pictures/x.PNG", folder + "/pictures/y.jpeg"}));
}

TEST_F(PlaylistTest, folder_scan_recurses_skips_dot_folders_and_ends_at_link_loops)
{
    touch("top/one.mp4");
    touch("top/sub/deeper/two.MKV");
    touch("top/.hidden/three.mkv");
    touch("top/.dotfile.mkv"); // only folders are skipped by their dot
    ASSERT_EQ(symlink("..", (folder + "/top/sub/up").c_str()), 0);
    ASSERT_EQ(symlink("..", (folder + "/top/sub/deeper/up2").c_str()), 0);
    EXPECT_EQ(playlist_scan_folder(ctx, (folder + "/top").c_str(), PLAYLIST_VIDEO_PATTERNS, 0), 3u);
    playlist_sort(ctx);
    EXPECT_EQ(paths(), (std::vector<std::string>{folder + "/top/.dotfile.mkv", folder + "/top/one.mp4",
                                                 folder + "/top/sub/deeper/two.MKV"}));
    // A duplicate refused still counts as met.
    EXPECT_EQ(playlist_scan_folder(ctx, (folder + "/top").c_str(), PLAYLIST_VIDEO_PATTERNS, 1), 3u);
    EXPECT_EQ(ctx->item_count.load(), 3u);
    EXPECT_EQ(playlist_scan_folder(ctx, (folder + "/missing").c_str(), PLAYLIST_VIDEO_PATTERNS, 1), 0u);
}

TEST_F(PlaylistTest, a_path_that_is_not_a_folder_is_added_whatever_its_extension)
{
    EXPECT_EQ(playlist_add_path(ctx, "https://example.org/live", 1), 1u);
    EXPECT_EQ(playlist_add_path(ctx, (folder + "/notes.txt").c_str(), 1), 1u);
    EXPECT_EQ(ctx->item_count.load(), 2u);
    EXPECT_TRUE(playlist_name_matches("/a/b/Subs.SRT", PLAYLIST_SUBTITLE_PATTERNS));
    EXPECT_FALSE(playlist_name_matches("/a/b.srt/film.mkv", PLAYLIST_SUBTITLE_PATTERNS));
}

TEST_F(PlaylistTest, append_commit_keeps_playing_and_reports_the_count)
{
    add({"/m/old.mkv"});
    ctx->subtitle_choice.store(3);
    // Adding the same file twice in append mode adds it once.
    uint32_t before = ctx->item_count.load();
    playlist_add_path(ctx, "/m/new.mkv", 1);
    playlist_add_path(ctx, "/m/new.mkv", 1);
    EXPECT_EQ(playlist_commit_added(ctx, 1, before), 1);
    EXPECT_EQ(paths(), (std::vector<std::string>{"/m/old.mkv", "/m/new.mkv"}));
    EXPECT_EQ(notice(), " 已添加1个文件到播放列表! ");
    EXPECT_EQ(ctx->open_index.load(), -1);
    EXPECT_EQ(ctx->subtitle_choice.load(), 3);
    EXPECT_EQ(playlist_commit_added(ctx, 1, ctx->item_count.load()), 0) << "nothing added";
}

TEST_F(PlaylistTest, replace_commit_moves_the_new_entries_to_the_front_and_opens_the_first)
{
    struct Case {
        int32_t subtitle_before, subtitle_after;
    } cases[] = {{3, -1}, {-2, -2}, {-1, -1}};
    for (const Case& c : cases) {
        playlist_free(ctx);
        add({"/m/a.mkv", "/m/b.mkv"});
        ASSERT_TRUE(playlist_set_title(ctx, 0, "old title"));
        ctx->video_choice.store(1);
        ctx->audio_choice.store(2);
        ctx->subtitle_choice.store(c.subtitle_before);
        ctx->open_index.store(-1);
        // Without Ctrl duplicates among the new files all stay.
        playlist_add_path(ctx, "/m/c.mkv", 0);
        playlist_add_path(ctx, "/m/c.mkv", 0);
        EXPECT_EQ(playlist_commit_added(ctx, 0, 2), 1);
        EXPECT_EQ(paths(), (std::vector<std::string>{"/m/c.mkv", "/m/c.mkv"}));
        EXPECT_EQ(ctx->playlist.items[0].title, nullptr);
        EXPECT_EQ(ctx->video_choice.load(), -1);
        EXPECT_EQ(ctx->audio_choice.load(), -1);
        EXPECT_EQ(ctx->subtitle_choice.load(), c.subtitle_after);
        expect_open_request(0, 1, -1);
    }
}

TEST_F(PlaylistTest, natural_order_of_names)
{
    struct Case {
        std::vector<const char*> names, sorted;
    } cases[] = {
        {{"ep10", "ep9", "Ep1"}, {"Ep1", "ep9", "ep10"}},
        {{"a2b10", "a2b9", "a10", "a1"}, {"a1", "a2b9", "a2b10", "a10"}},
        // Runs longer than any integer type, compared by value.
        {{"x 100000000000000000000001", "x 99999999999999999999999", "x 18446744073709551617",
          "x 18446744073709551616"},
         {"x 18446744073709551616", "x 18446744073709551617", "x 99999999999999999999999",
          "x 100000000000000000000001"}},
        {{"第10集.mkv", "第2集.mkv", "第1集.mkv"}, {"第1集.mkv", "第2集.mkv", "第10集.mkv"}},
        {{"ÄPFEL 10", "äpfel 9"}, {"äpfel 9", "ÄPFEL 10"}},
        {{"b", "10", "a", "9"}, {"9", "10", "a", "b"}},
        {{"track", "track 2", "track 1"}, {"track", "track 1", "track 2"}},
    };
    for (const Case& c : cases) {
        playlist_free(ctx);
        for (const char* n : c.names)
            ASSERT_TRUE(playlist_add_entry(ctx, n, 0));
        playlist_sort(ctx);
        EXPECT_EQ(paths(), std::vector<std::string>(c.sorted.begin(), c.sorted.end()));
    }
}

TEST_F(PlaylistTest, compare_treats_zero_padding_as_equal_and_is_antisymmetric)
{
    PlaylistEntry a{const_cast<char*>("clip 007"), nullptr, nullptr};
    PlaylistEntry b{const_cast<char*>("CLIP 7"), nullptr, nullptr};
    EXPECT_EQ(playlist_compare(&a, &b), 0);
    // Random names of letters, digits and zeros: every pair must agree with
    // its mirror, or the sort may run off the array.
    std::mt19937 rng(7);
    const char alphabet[] = "aB0019 ._";
    std::vector<std::string> names(300);
    for (std::string& n : names) {
        int length = int(rng() % 8);
        for (int i = 0; i < length; i++)
            n += alphabet[rng() % (sizeof alphabet - 1)];
    }
    for (size_t i = 0; i < names.size(); i++) {
        for (size_t j = 0; j < names.size(); j++) {
            PlaylistEntry x{names[i].data(), nullptr, nullptr}, y{names[j].data(), nullptr, nullptr};
            int xy = playlist_compare(&x, &y), yx = playlist_compare(&y, &x);
            ASSERT_EQ((xy > 0) - (xy < 0), -((yx > 0) - (yx < 0))) << names[i] << " | " << names[j];
        }
    }
}

TEST_F(PlaylistTest, sort_orders_by_title_when_present_and_follows_the_current_entry)
{
    add({"/m/z.mkv", "/m/y.mkv", "/m/x.mkv"});
    ASSERT_TRUE(playlist_set_title(ctx, 0, "0 first"));
    ctx->current_item.store(1);
    playlist_sort(ctx);
    EXPECT_EQ(paths(), (std::vector<std::string>{"/m/z.mkv", "/m/x.mkv", "/m/y.mkv"}));
    EXPECT_EQ(ctx->current_item.load(), 2u);
    EXPECT_EQ(notice(), " 列表排序完成! ");
}

TEST_F(PlaylistTest, sorting_one_entry_moves_nothing_but_shows_the_notice)
{
    add({"/m/only.mkv"});
    playlist_sort(ctx);
    EXPECT_EQ(paths(), (std::vector<std::string>{"/m/only.mkv"}));
    EXPECT_EQ(notice(), " 列表排序完成! ");
}

TEST_F(PlaylistTest, shuffle_keeps_the_current_entry_and_every_entry)
{
    for (int i = 0; i < 50; i++)
        ASSERT_TRUE(playlist_add_entry(ctx, ("/m/" + std::to_string(i)).c_str(), 0));
    std::vector<std::string> before = paths();
    for (uint32_t current : {0u, 17u, 49u}) {
        ctx->current_item.store(current);
        std::string playing = ctx->playlist.items[current].path;
        playlist_shuffle(ctx);
        EXPECT_EQ(ctx->playlist.items[ctx->current_item.load()].path, playing);
        EXPECT_EQ(notice(), " 列表已被打乱! ");
    }
    std::vector<std::string> after = paths();
    EXPECT_NE(after, before);
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(after, before);
}

TEST_F(PlaylistTest, next_previous_and_play_when_idle_wrap_around)
{
    struct Case {
        uint32_t count, current;
        int32_t next, previous, idle; // -1: no request
    } cases[] = {
        {0, 0, -1, -1, -1}, {1, 0, -1, -1, 0}, {2, 1, 0, 0, 1},
        {3, 0, 1, 2, 0},    {3, 2, 0, 1, 2},   {3, 7, 0, 2, 0}, // a current index past the end
    };
    for (const Case& c : cases) {
        playlist_free(ctx);
        for (uint32_t i = 0; i < c.count; i++)
            playlist_add_entry(ctx, ("/m/" + std::to_string(i)).c_str(), 0);
        ctx->current_item.store(c.current);
        int32_t results[3];
        int (*actions[3])(PlayerContext*) = {playlist_next, playlist_previous, playlist_play_idle};
        for (int k = 0; k < 3; k++) {
            ctx->open_index.store(-1);
            int wrote = actions[k](ctx);
            results[k] = ctx->open_index.load();
            EXPECT_EQ(wrote, results[k] >= 0);
        }
        EXPECT_EQ(results[0], c.next) << c.count << "/" << c.current;
        EXPECT_EQ(results[1], c.previous) << c.count << "/" << c.current;
        EXPECT_EQ(results[2], c.idle) << c.count << "/" << c.current;
    }
}

// Records what the playlist posts to the window loop.
struct PostLog {
    std::vector<unsigned> messages;
    static void post(void* self, unsigned msg, uintptr_t, intptr_t)
    {
        static_cast<PostLog*>(self)->messages.push_back(msg);
    }
    static intptr_t send(void*, unsigned, uintptr_t, intptr_t) { return 0; }
};

TEST_F(PlaylistTest, item_end_opens_the_next_entry_repeats_a_single_one_or_closes_when_asked)
{
    struct Case {
        uint32_t count, current;
        int32_t quit_at_end;
        int32_t open_index; // -1: none
        bool restarted, closed;
    } cases[] = {
        {3, 0, 0, 1, false, false}, {3, 2, 0, 0, false, false}, {1, 0, 0, -1, true, false},
        {3, 1, 1, 2, false, false}, {3, 2, 1, -1, false, true}, {1, 0, 1, -1, false, true},
    };
    PostLog log;
    WindowLoop loop{PostLog::send, PostLog::post, &log};
    window_bridge_install(&loop);
    for (const Case& c : cases) {
        playlist_free(ctx);
        for (uint32_t i = 0; i < c.count; i++)
            playlist_add_entry(ctx, ("/m/" + std::to_string(i)).c_str(), 0);
        ctx->current_item.store(c.current);
        ctx->quit_at_end.store(c.quit_at_end);
        ctx->open_index.store(-1);
        ctx->seek_target_ms.store(-1);
        ctx->playing.store(0);
        log.messages.clear();
        EXPECT_EQ(playlist_handle_message(ctx, PLAYLIST_ITEM_ENDED, 0), 0);
        EXPECT_EQ(ctx->open_index.load(), c.open_index);
        EXPECT_EQ(ctx->seek_target_ms.load() == 0 && ctx->playing.load() == 1, c.restarted);
        EXPECT_EQ(log.messages == std::vector<unsigned>{MSG_CLOSE}, c.closed);
    }
    window_bridge_install(nullptr);
}

TEST_F(PlaylistTest, path_request_fills_path_and_display_name_within_their_sizes)
{
    std::string fits = "/" + std::string(778, 'a');       // 779 units
    std::string too_long = "/" + std::string(779, 'a');   // 780 units
    std::string wide = "/" + std::string();
    for (int i = 0; i < 778; i++)
        wide += "音"; // 779 units in 2335 bytes
    std::string long_title(300, 't');
    add({fits.c_str(), too_long.c_str(), wide.c_str(), "/m/\xb5\xe7\xd3\xb0.mkv"});
    playlist_set_title(ctx, 0, long_title.c_str());
    struct Case {
        intptr_t index;
        intptr_t result;
        std::string path, name;
    } cases[] = {
        {0, 1, fits, std::string(259, 't')},
        {1, 0, "", too_long.substr(0, 259)}, // not opened, but named for the notice that says so
        {2, 1, wide, wide.substr(0, 1 + 258 * 3)},
        {3, 1, "/m/\xb5\xe7\xd3\xb0.mkv", ""}, // a name in another encoding is shown as UTF-8
        {-1, 0, "", ""},
        {4, 0, "", ""},
    };
    for (const Case& c : cases) {
        memset(ctx->media_path, 0, sizeof ctx->media_path);
        memset(ctx->display_name, 0, sizeof ctx->display_name);
        EXPECT_EQ(playlist_handle_message(ctx, PLAYLIST_GET_PATH, c.index), c.result) << c.index;
        EXPECT_EQ(ctx->media_path, c.path) << c.index;
        if (c.index == 3)
            EXPECT_TRUE(utf8_is_valid(ctx->display_name, strlen(ctx->display_name)) && ctx->display_name[0] == '/');
        else
            EXPECT_EQ(ctx->display_name, c.name) << c.index;
    }
}

TEST_F(PlaylistTest, options_request_builds_a_fresh_dictionary_from_the_parameters)
{
    add({"/m/a", "/m/b", "/m/c", "/m/d"});
    playlist_set_params(ctx, 0, "a=1\x01" "b\x01" "c=x\\ny\x01" "d=\\\\s\\q\\r=e\\");
    playlist_set_params(ctx, 1, "nothing\x01here");
    playlist_set_params(ctx, 3, "k=v");
    intptr_t result = playlist_handle_message(ctx, PLAYLIST_GET_OPTIONS, 0);
    ASSERT_EQ(result, reinterpret_cast<intptr_t>(&ctx->open_options));
    AVDictionary* options = *reinterpret_cast<AVDictionary**>(result);
    EXPECT_EQ(av_dict_count(options), 3);
    EXPECT_STREQ(av_dict_get(options, "a", nullptr, 0)->value, "1");
    EXPECT_EQ(av_dict_get(options, "b", nullptr, 0), nullptr);
    EXPECT_STREQ(av_dict_get(options, "c", nullptr, 0)->value, "x\ny");
    EXPECT_STREQ(av_dict_get(options, "d", nullptr, 0)->value, "\\sq\r=e");
    // Each later request releases the previous dictionary (the leak checker
    // sees it otherwise).
    struct Case {
        intptr_t index;
        bool dictionary;
    } cases[] = {{1, false}, {2, false}, {3, true}, {9, false}, {-4, false}, {0, true}};
    for (const Case& c : cases) {
        intptr_t r = playlist_handle_message(ctx, PLAYLIST_GET_OPTIONS, c.index);
        EXPECT_EQ(r != 0, c.dictionary) << c.index;
        EXPECT_EQ(ctx->open_options != nullptr, c.dictionary) << c.index;
    }
}

TEST_F(PlaylistTest, deferred_seek_waits_for_the_decoder_elsewhere_and_gives_way_to_what_came_since)
{
    struct Case {
        int64_t frames_out; // already decoded when the request comes
        int32_t end_of_file;
        bool decoder_runs;  // another thread keeps decoding meanwhile
        int32_t user_seek;  // asked for while it waits (-1: none)
        int32_t landed;     // the seek target in the end
    } cases[] = {{200, 0, false, -1, 42000}, {0, 1, false, -1, 42000}, {0, 0, true, -1, 42000},
                 {0, 0, false, 5000, 5000}};
    for (const Case& c : cases) {
        ctx->video_frames_out.store(c.frames_out);
        ctx->end_of_file.store(c.end_of_file);
        ctx->packets_in_flight.store(0);
        ctx->seek_target_ms.store(-1);
        ctx->clock_ms.store(500);
        std::atomic<bool> stop{false};
        auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(playlist_handle_message(ctx, PLAYLIST_DEFERRED_SEEK, 42000), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(50) * TIME_SCALE) << "the window thread waited";
        if (c.frames_out < 128)
            EXPECT_EQ(ctx->clock_ms.load(), OPEN_INDEX_STOP) << "the position is parked while waiting";
        if (c.user_seek >= 0)
            request_seek(ctx, c.user_seek, 0);
        std::thread decoder([&] {
            while (c.decoder_runs && !stop.load()) {
                ctx->video_frames_out.fetch_add(8);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        for (int i = 0; i < 2000 && ctx->seek_target_ms.load() != c.landed; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int64_t frames_at_seek = ctx->video_frames_out.load();
        stop.store(true);
        decoder.join();
        if (c.decoder_runs)
            EXPECT_GE(frames_at_seek, 128) << "the seek waited for the decoder";
        // The waiter has ended (one still running would end at a newer request).
        for (int i = 0; i < 100 && ctx->deferred_seek_waiters.load(std::memory_order_acquire) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ctx->deferred_seek_serial.fetch_add(1);
        for (int i = 0; i < 2000 && ctx->deferred_seek_waiters.load(std::memory_order_acquire) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ctx->deferred_seek_waiters.load(), 0);
        EXPECT_EQ(ctx->seek_target_ms.load(), c.landed) << c.frames_out << " " << c.user_seek;
    }
}

} // namespace
