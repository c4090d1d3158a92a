// The cover cache on its own: what counts as a picture, the bound with the
// least recently used files going first, and a store that cannot be made
// leaving nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>
#include <string>
#include <vector>

#include "engine/engine_internal.h"
#include "support/fixtures.h"

namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void write_file(const std::string& path, size_t bytes, time_t used)
{
    std::ofstream(path) << std::string(bytes, 'x');
    timespec times[2] = {{used, 0}, {used, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(CoverCache, pictures_are_told_by_their_first_bytes)
{
    using namespace std::string_literals;
    auto padded = [](std::string head) { return head + std::string(16, '\0'); };
    const struct {
        std::string bytes;
        const char* kind;
    } cases[] = {
        {padded("\xFF\xD8\xFF\xE0"), "jpg"},   {padded("\x89PNG\r\n\x1A\n"), "png"}, {padded("GIF89a"), "gif"},
        {padded("BM"), "bmp"},                 {padded("RIFF\x10\0\0\0WEBPVP8 "s), "webp"},
        {padded("RIFF\x10\0\0\0WAVEfmt "s), nullptr}, {padded("NOPICTUR"), nullptr}, {"\xFF\xD8\xFF", nullptr},
    };
    for (const auto& c : cases) {
        const char* kind = picture_kind(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_STREQ(kind, c.kind) << c.bytes.substr(0, 12);
    }
    EXPECT_EQ(cover_cache_folder("/c", "/h"), "/c/moravista/covers");
    EXPECT_EQ(cover_cache_folder("relative", "/h"), "/h/.cache/moravista/covers");
    EXPECT_EQ(cover_cache_folder(nullptr, nullptr), "");
}

TEST(CoverCache, past_the_bound_the_least_recently_used_files_go_and_a_cover_used_again_stays)
{
    std::string dir = make_test_folder("mv-covers");
    write_file(dir + "/oldest.jpg", 400, 1000);
    write_file(dir + "/older.jpg", 400, 2000);
    write_file(dir + "/used-again.jpg", 400, 500);
    write_file(dir + "/newer.jpg", 400, 3000);
    // Using a file marks it as used now; one of another size is not the one asked for.
    EXPECT_TRUE(cover_cache_use(dir + "/used-again.jpg", 400));
    EXPECT_FALSE(cover_cache_use(dir + "/newer.jpg", 401));
    std::string picture = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(396, 'p');
    auto* bytes = reinterpret_cast<const uint8_t*>(picture.data());
    std::string path = cover_cache_name(dir, bytes, picture.size(), "jpg");
    EXPECT_EQ(path, cover_cache_name(dir, bytes, picture.size(), "jpg"));
    ASSERT_TRUE(cover_cache_store(path, bytes, picture.size(), 0, 1200));
    // 2000 bytes against a bound of 1200: the two least recently used go.
    EXPECT_FALSE(exists(dir + "/oldest.jpg"));
    EXPECT_FALSE(exists(dir + "/older.jpg"));
    EXPECT_TRUE(exists(dir + "/used-again.jpg"));
    EXPECT_TRUE(exists(dir + "/newer.jpg"));
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST(CoverCache, a_folder_that_cannot_be_made_a_disk_without_room_or_a_failed_write_store_nothing)
{
    std::string dir = make_test_folder("mv-covers");
    std::ofstream(dir + "/file") << "x";
    std::string picture(64 << 10, 'p');
    auto* bytes = reinterpret_cast<const uint8_t*>(picture.data());
    EXPECT_FALSE(cover_cache_store(dir + "/file/covers/a.jpg", bytes, picture.size(), 0, 1 << 20));
    // The room the cache leaves to others: never more than the disk has.
    EXPECT_FALSE(cover_cache_store(dir + "/covers/a.jpg", bytes, picture.size(), UINT64_MAX / 2, 1 << 20));
    // The write itself fails (here at a limit of the file size, as on a
    // disk that fills up meanwhile): nothing of it is left.
    signal(SIGXFSZ, SIG_IGN);
    rlimit before{}, limit{16 << 10, 16 << 10};
    getrlimit(RLIMIT_FSIZE, &before);
    limit.rlim_max = before.rlim_max;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(cover_cache_store(dir + "/covers/a.jpg", bytes, picture.size(), 0, 1 << 20));
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(system(("test -z \"$(ls -A '" + dir + "/covers')\"").c_str()), 0) << "a part was left behind";
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
