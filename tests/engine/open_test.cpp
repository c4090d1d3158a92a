// The pure parts of opening and decoding: aspect text, subtitle files beside
// a film, the BGRA conversion of pictures with transparency, the statistics
// file. No engine threads run here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "decode/decode_internal.h"
#include "engine/engine_internal.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

namespace {

TEST(OpenItem, the_aspect_text_shows_the_display_ratio_its_approximation_and_the_sample_aspect)
{
    struct Case {
        uint32_t width, height;
        int sar_num, sar_den;
        const char* text;
    } cases[] = {
        {1920, 1080, 1, 1, "16:9<1>"},
        {720 * 64, 576 * 45, 64, 45, "16:9<1.422>"},
        {640, 480, 1, 1, "4:3<1>"},
        {720, 409, 1, 1, "720:409≈7:4<1>"},
        {1000, 1000, 3, 2, "1:1<1.5>"},
        {853, 480, 1, 1, "853:480≈16:9<1>"},
    };
    for (const Case& c : cases) {
        char text[64];
        format_aspect_text(text, sizeof text, c.width, c.height, c.sar_num, c.sar_den);
        EXPECT_STREQ(text, c.text) << c.width << "x" << c.height;
    }
}

TEST(OpenItem, timestamps_become_milliseconds_and_broken_ones_saturate)
{
    struct Case {
        int64_t ts;
        int num, den;
        int64_t ms;
    } cases[] = {
        {90000, 1, 90000, 1000},
        {-4500, 1, 90000, -50},
        {1, 1001, 30000, 33},
        {1500000000, 1, 1000000000, 1500},
        {INT64_MAX / 2, 1, 90000, INT64_MAX / 90000},
        {INT64_MIN / 2, 1, 90000, INT64_MIN / 90000},
        {123, 1, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timestamp_to_ms(c.ts, c.num, c.den), c.ms) << c.ts << " " << c.num << "/" << c.den;
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char templ[] = "/tmp/mv-engine-XXXXXX";
        path = mkdtemp(templ);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string touch(const char* name) const
    {
        std::string p = path + "/" + name;
        std::ofstream(p) << "x";
        return p;
    }
};

void collect(void* user, const char* path)
{
    static_cast<std::vector<std::string>*>(user)->push_back(path);
}

// A film finds its subtitle files through both patterns ("name.*", then
// "name*"): names that only share a prefix through the second, nothing that
// is not a subtitle file, letters of either case, and names whose
// characters would mean something in a pattern taken literally.
TEST(OpenItem, subtitle_files_beside_the_film_are_found_with_both_patterns)
{
    struct Case {
        const char* film;
        std::vector<std::pair<const char*, int>> files; // name, times found
    } cases[] = {
        {"film.mkv",
         {{"film.srt", 2}, {"film.en.ASS", 2}, {"film2.lrc", 1}, {"film.txt", 0}, {"other.srt", 0}}},
        {"Film.mkv", {{"film.srt", 2}, {"FILM.EN.ass", 2}, {"Film.SSA", 2}}},
        {"Show [1080p].mkv", {{"Show [1080p].srt", 2}, {"Show 1.srt", 0}, {"show [1080P].zh.ass", 2}}},
        {"a*b?.mkv", {{"a*b?.srt", 2}, {"aXbY.srt", 0}, {"a\\b.srt", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.film);
        TempDir dir;
        std::string film = dir.touch(c.film);
        for (const auto& f : c.files)
            dir.touch(f.first);
        std::vector<std::string> found;
        int count = find_subtitle_files(film.c_str(), collect, &found);
        EXPECT_EQ(count, int(found.size()));
        for (const auto& f : c.files)
            EXPECT_EQ(std::count(found.begin(), found.end(), dir.path + "/" + f.first), f.second) << f.first;
    }
}

TEST(OpenItem, a_film_in_a_missing_folder_finds_no_subtitles)
{
    std::vector<std::string> found;
    EXPECT_EQ(find_subtitle_files("/nonexistent/folder/film.mkv", collect, &found), 0);
    EXPECT_TRUE(found.empty());
}

TEST(Decoding, rgba_becomes_premultiplied_bgra)
{
    struct Case {
        uint8_t in[4], out[4];
    } cases[] = {
        {{255, 0, 0, 255}, {0, 0, 255, 255}},
        {{10, 20, 30, 0}, {0, 0, 0, 0}}, // fully transparent: black
        {{255, 128, 0, 127}, {0, 64, 127, 127}},
        {{200, 100, 50, 254}, {49, 99, 199, 254}},
    };
    for (const Case& c : cases) {
        uint8_t pixel[8] = {c.in[0], c.in[1], c.in[2], c.in[3], 1, 2, 3, 4};
        rgba_to_premultiplied_bgra(pixel, 4); // only the first pixel
        EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 4), std::vector<uint8_t>(c.out, c.out + 4));
        EXPECT_EQ(pixel[4], 1);
    }
}

// The SSE2 conversion and the one-pixel-at-a-time reference agree on every
// byte, for every length (whole groups of 16 bytes, the pixels left over and
// a trailing partial pixel that both leave alone).
TEST(Decoding, the_sse2_premultiplication_matches_the_scalar_one_at_every_length)
{
    std::mt19937 random(7);
    for (int64_t bytes = 0; bytes <= 131; bytes++) {
        std::vector<uint8_t> wide(size_t(bytes) + 3), plain;
        for (uint8_t& b : wide)
            b = uint8_t(random());
        // Some fully opaque and fully transparent pixels among the random ones.
        for (size_t i = 3; i < wide.size(); i += 12)
            wide[i] = (i / 12) % 2 ? 255 : 0;
        plain = wide;
        rgba_to_premultiplied_bgra(wide.data() + 1, bytes); // unaligned on purpose
        rgba_to_premultiplied_bgra_scalar(plain.data() + 1, bytes);
        ASSERT_EQ(wide, plain) << bytes << " bytes";
    }
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Statistics, the_json_file_holds_items_counts_offsets_and_seeks)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    stats_enable(ctx, now_ms());
    stats_item_begun(ctx, "/media/a \"quoted\" film.mkv");
    stats_item_begun(ctx, "/media/second.mp4");
    stats_of(ctx)->video_frames_decoded.store(10);
    stats_of(ctx)->video_frames_presented.store(9);
    stats_of(ctx)->video_frames_dropped.store(1);
    for (int32_t offset : {-10, 10, 20, 30})
        stats_av_offset(ctx, offset);
    stats_seek_started(ctx);
    stats_seek_done(ctx, 5000);
    StatsOffsets o = stats_offsets(ctx);
    EXPECT_EQ(o.count, 4);
    EXPECT_DOUBLE_EQ(o.mean_ms, 12.5);
    EXPECT_EQ(o.p95_ms, 30);
    EXPECT_EQ(o.max_ms, 30);

    std::string path = "/tmp/mv-engine-stats-" + std::to_string(getpid()) + ".json";
    ASSERT_TRUE(stats_write_json(ctx, path.c_str(), "quit"));
    std::string json = read_file(path);
    unlink(path.c_str());
    EXPECT_NE(json.find("\"path\":\"/media/a \\\"quoted\\\" film.mkv\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"opened\":false"), std::string::npos);
    EXPECT_NE(json.find("\"subtitle\":{\"source\":\"none\""), std::string::npos);
    EXPECT_NE(json.find("\"video_frames_presented\":9"), std::string::npos);
    EXPECT_NE(json.find("\"av_offset_ms\":{\"mean\":12.50,\"p95\":30,\"max\":30"), std::string::npos) << json;
    EXPECT_NE(json.find("\"seeks\":[{\"target_ms\":5000,\"first_frame_ms\":-1"), std::string::npos) << json;
    EXPECT_NE(json.find("\"exit_reason\":\"quit\""), std::string::npos);
    EXPECT_FALSE(stats_write_json(ctx, "/nonexistent/dir/stats.json", "quit"));
    player_context_free(ctx);
}

// The picture the presentation had already taken when a seek finished is
// drawn after it, but it is not the seek's first picture: the next one is.
// Only a picture drawn while the sound heard is known counts an offset.
TEST(Statistics, a_seek_is_closed_only_by_a_picture_taken_after_it_finished_and_the_offset_is_sound_minus_picture)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    stats_enable(ctx, now_ms());
    int32_t before = stats_picture_taken(ctx);
    stats_seek_started(ctx);
    stats_seek_done(ctx, 1200);
    stats_picture_shown(ctx, 2021, before, nullptr);
    EXPECT_EQ(stats_of(ctx)->seeks[0].first_frame_ms, -1);
    // The sound of 1150 ms heard as the picture of 1170 ms appears: the
    // sound comes 20 ms late, sound minus picture is +20.
    const int32_t heard = 1150;
    stats_picture_shown(ctx, 1170, stats_picture_taken(ctx), &heard);
    EXPECT_EQ(stats_of(ctx)->seeks[0].first_frame_ms, 1170);
    // Closed once: a later picture does not move it.
    stats_picture_shown(ctx, 1203, stats_picture_taken(ctx), nullptr);
    EXPECT_EQ(stats_of(ctx)->seeks[0].first_frame_ms, 1170);
    StatsOffsets o = stats_offsets(ctx);
    EXPECT_EQ(o.count, 1);
    EXPECT_DOUBLE_EQ(o.mean_ms, 20.0);
    player_context_free(ctx);
}

} // namespace
