// What the engine tells the desktop of the item it opened: the tags, legacy
// ones converted, and the cover as a file (the embedded picture in the
// cache, else one beside the file), with a cache that cannot be written or
// a full disk costing only the cover.
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>

#include "engine/engine_harness.h"

using namespace engine_test;

namespace {

off_t file_size(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::vector<std::string> files_in(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

bool has_news(unsigned message)
{
    TestWindow& w = window();
    std::lock_guard<std::mutex> lock(w.notices_mutex);
    return std::any_of(w.desktop_news.begin(), w.desktop_news.end(), [&](const auto& n) { return n.first == message; });
}

// A copy of the tags once the item has opened and its cover's writer is done.
ItemTags settled_tags(PlayerContext* ctx, int32_t item)
{
    ItemTags copy{};
    bool settled = wait_for(
        [&] {
            SpinGuard guard(&ctx->item_tags_lock);
            if (!ctx->item_tags || ctx->item_tags->item != item || ctx->cover_job.load() ||
                ctx->cover_writer_running.load())
                return false;
            copy = *ctx->item_tags;
            return true;
        },
        20000);
    EXPECT_TRUE(settled) << "no tags for item " << item;
    return copy;
}

// A 1 MB file system filled to the last byte; empty when it cannot be mounted.
std::string full_disk(const std::string& dir)
{
    std::string mount_point = dir + "/full";
    mkdir(mount_point.c_str(), 0700);
    if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=1m") != 0)
        return std::string();
    std::string filler = "dd if=/dev/zero of='" + mount_point + "/filler' bs=64k 2>/dev/null";
    EXPECT_NE(system(filler.c_str()), 0) << "the disk did not fill up";
    return mount_point;
}

TEST(ItemTags, tags_and_covers_of_the_items_and_what_an_unusable_cache_leaves_of_them)
{
    PlayerContext* ctx = engine();
    ctx->covers_wanted.store(1);
    std::string dir = make_test_folder("mv-tags"), cache = dir + "/cache";
    std::string not_a_folder = dir + "/file";
    std::ofstream(not_a_folder) << "a file, so nothing can be made under it";
    std::string full = full_disk(dir);
    std::string covers = cache + "/moravista/covers/";
    const off_t cover_bytes = file_size(fixture_path("tags_cover.jpg"));
    enum Art { NONE, CACHED, BESIDE };
    const struct {
        const char* file;
        std::string cache_home;
        const char *title, *artist, *album, *album_artist, *genre, *date;
        int32_t track;
        Art art;
        off_t art_bytes;
    } cases[] = {
        {"tags/cover.mp3", cache, "Song Title", "Some Artist", "The Album", "Album Artist", "Jazz", "2019", 3, CACHED,
         cover_bytes},
        // The same picture in another container is the same file.
        {"tags/film.mkv", cache, "Film Title", "Film Artist", "Film Album", "", "Drama", "2021-05-04", 0, CACHED,
         cover_bytes},
        {"tags/legacy.mp3", cache, "测试歌曲", "老歌手", "旧专辑", "", "", "1999", 0, NONE, 0},
        {"tags/big_cover.mp3", cache, "", "Big Cover", "", "", "", "", 0, CACHED, cover_bytes + (20 << 20)},
        {"tags/broken/song.mp3", cache, "", "Broken Cover", "", "", "", "", 0, BESIDE, cover_bytes},
        {"tags/untagged/song.mp3", cache, "", "", "", "", "", "", 0, NONE, 0},
        {"tags/cover.mp3", not_a_folder, "Song Title", "Some Artist", "The Album", "Album Artist", "Jazz", "2019", 3,
         NONE, 0},
        {"tags/cover.mp3", full, "Song Title", "Some Artist", "The Album", "Album Artist", "Jazz", "2019", 3, NONE, 0},
    };
    for (const auto& c : cases) {
        std::string path = fixture_path(c.file);
        if (c.cache_home.empty()) {
            printf("  (no full disk: a file system cannot be mounted here)\n");
            continue;
        }
        setenv("XDG_CACHE_HOME", c.cache_home.c_str(), 1);
        load_list(ctx, {path}, false);
        int32_t item = ctx->items_opened.load() + 1;
        open_entry(ctx, 0, 1, 0);
        ItemTags tags = settled_tags(ctx, item);
        std::string where = std::string(c.file) + " with the cache in " + c.cache_home;
        EXPECT_EQ(ctx->items_opened.load(), item) << where << ": the item did not open";
        EXPECT_EQ(tags.title, c.title) << where;
        EXPECT_EQ(tags.artist, c.artist) << where;
        EXPECT_EQ(tags.album, c.album) << where;
        EXPECT_EQ(tags.album_artist, c.album_artist) << where;
        EXPECT_EQ(tags.genre, c.genre) << where;
        EXPECT_EQ(tags.date, c.date) << where;
        EXPECT_EQ(tags.track_number, c.track) << where;
        std::string beside = path.substr(0, path.rfind('/') + 1) + "cover.jpg";
        EXPECT_EQ(tags.art_path.empty(), c.art == NONE) << where << ": " << tags.art_path;
        if (c.art == CACHED) {
            EXPECT_EQ(tags.art_path.rfind(covers, 0), 0u) << where << ": " << tags.art_path;
        } else if (c.art == BESIDE) {
            EXPECT_EQ(tags.art_path, beside) << where;
        }
        if (c.art != NONE) {
            EXPECT_EQ(file_size(tags.art_path), c.art_bytes) << where;
        }
    }
    unsetenv("XDG_CACHE_HOME");
    // Tags that come while the item plays replace those it opened with, and are announced.
    load_list(ctx, {fixture_path("tags/chained.ogg")}, false);
    open_entry(ctx, 0, 1, 0);
    EXPECT_EQ(settled_tags(ctx, ctx->items_opened.load() + 1).title, "Part One");
    auto title_now = [&] {
        SpinGuard guard(&ctx->item_tags_lock);
        return ctx->item_tags ? ctx->item_tags->title : std::string();
    };
    EXPECT_TRUE(wait_for([&] { return title_now() == "Part Two"; }, 10000)) << title_now();
    EXPECT_TRUE(has_news(MSG_ITEM_TAGS));
    load_list(ctx, {}, false);
    if (!full.empty()) {
        EXPECT_EQ(file_size(full + "/filler"), 1 << 20) << "the full disk lost its file";
        umount2(full.c_str(), MNT_DETACH);
    }
    // Two covers, written once each, and no half-written file beside them.
    std::vector<std::string> written = files_in(covers);
    EXPECT_EQ(written.size(), 2u) << testing::PrintToString(written);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
