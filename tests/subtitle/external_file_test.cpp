// External subtitle files: the list, reading with its limits, every text
// encoding users bring, parsing every format, and what a failure leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "subtitle/subtitle_support.h"
#include "support/fixtures.h"

std::string write_temp_file(const char* name, const std::string& bytes)
{
    static std::string dir = [] {
        char pattern[] = "/tmp/mv_subtitle_test.XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

namespace {

// A named pipe nobody writes to: opening it for reading would wait forever.
std::string named_pipe(const char* name)
{
    std::string path = write_temp_file(name, "");
    unlink(path.c_str());
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
}

ASS_Track* load_path(TestSubtitles& subs, const std::string& path)
{
    int added = add_external_file(subs.state, path.c_str());
    EXPECT_GE(added, 0);
    uint32_t count = subs.state->external_count.load();
    for (uint32_t i = 0; i < count; i++) {
        char entry[EXTERNAL_PATH_BYTES];
        if (external_file_path(subs.state, i, entry, sizeof entry) && path == entry)
            return load_external_file(subs.state, i);
    }
    return nullptr;
}

TEST(ExternalFileList, ignores_a_path_already_listed_byte_for_byte_and_grows_by_ten_spare_entries)
{
    TestSubtitles subs;
    EXPECT_EQ(add_external_file(subs.state, "/films/电影.SRT"), 1);
    EXPECT_EQ(add_external_file(subs.state, "/films/电影.SRT"), 0);
    EXPECT_EQ(add_external_file(subs.state, "/films/电影.srt"), 1); // another file on this system
    EXPECT_EQ(add_external_file(subs.state, "/films/\xb5\xe7.srt"), 1); // not UTF-8
    EXPECT_EQ(add_external_file(subs.state, "/films/\xb5\xe7.srt"), 0);
    EXPECT_EQ(subs.state->external_count.load(), 3u);
    EXPECT_EQ(subs.state->external_capacity, 11u) << "the first entry makes room for ten more";

    for (int i = 3; i < 11; i++)
        EXPECT_EQ(add_external_file(subs.state, ("/films/part" + std::to_string(i) + ".srt").c_str()), 1);
    EXPECT_EQ(subs.state->external_capacity, 11u);
    EXPECT_EQ(add_external_file(subs.state, "/films/eleventh.srt"), 1);
    EXPECT_EQ(subs.state->external_capacity, 22u) << "count 11 + 11: the new entry and ten spare";

    char path[EXTERNAL_PATH_BYTES];
    ASSERT_TRUE(external_file_path(subs.state, 0, path, sizeof path));
    EXPECT_STREQ(path, "/films/电影.SRT");
    EXPECT_FALSE(external_file_path(subs.state, 12, path, sizeof path));
    EXPECT_FALSE(external_file_path(subs.state, 0, path, 4)) << "a buffer too small gets nothing";
}

TEST(ExternalFileList, the_eleventh_entry_of_a_full_list_of_ten_grows_it_to_21_places)
{
    TestSubtitles subs;
    subs.state->external_files = static_cast<char(*)[EXTERNAL_PATH_BYTES]>(calloc(10, EXTERNAL_PATH_BYTES));
    subs.state->external_capacity = 10;
    for (int i = 0; i < 10; i++)
        snprintf(subs.state->external_files[i], EXTERNAL_PATH_BYTES, "/films/%d.srt", i);
    subs.state->external_count.store(10);
    EXPECT_EQ(add_external_file(subs.state, "/films/10.srt"), 1);
    EXPECT_EQ(subs.state->external_capacity, 21u);
    EXPECT_EQ(subs.state->external_count.load(), 11u);
    char path[EXTERNAL_PATH_BYTES];
    ASSERT_TRUE(external_file_path(subs.state, 9, path, sizeof path));
    EXPECT_STREQ(path, "/films/9.srt") << "entries survive the growth";
}

TEST(ExternalFileList, refuses_paths_longer_than_259_units_whole)
{
    TestSubtitles subs;
    std::string fits = "/" + std::string(258, 'a');
    std::string too_long = "/" + std::string(259, 'a');
    std::string cjk_too_long = "/";
    for (int i = 0; i < 259; i++)
        cjk_too_long += "字"; // 3 bytes, one unit each
    EXPECT_EQ(add_external_file(subs.state, fits.c_str()), 1);
    EXPECT_EQ(add_external_file(subs.state, too_long.c_str()), -1);
    EXPECT_EQ(add_external_file(subs.state, cjk_too_long.c_str()), -1);
    EXPECT_EQ(subs.state->external_count.load(), 1u);
}

struct LoadCase {
    const char* fixture;
    std::vector<std::string> texts;
};

TEST(LoadExternalFile, reads_each_format_and_encoding_into_events_with_the_right_text)
{
    const std::vector<std::string> ass = {"{\\fnArial\\bord3\\i1}Hello 世界", "{\\pos(10,20)}Top line", "Plain"};
    const LoadCase cases[] = {
        {"sub_utf8.ass", ass},
        {"sub_utf8_bom.ass", ass},
        {"sub_utf16le_bom.ass", ass},
        {"sub_utf16be.ass", ass},
        {"sub.ssa", {"SSA line one", "SSA line two"}},
        {"sub.lrc", {"第一句歌词", "Second line", "最后一句"}},
        {"sub_utf8.srt", {"Hello, world", "你好，世界！", "Line one\\Nline two"}},
        {"sub_gbk.srt", {"我们明天去看电影吧。", "你好，世界！这是第二行字幕。", "他说：“走吧”"}},
        {"sub_gbk_one_line.srt", {"电影"}},
        {"sub_gbk_one_line.lrc", {"我们去看电影吧"}},
        {"sub_big5.srt", {"我們明天去看電影吧。", "這是一個測試", "謝謝你的幫忙"}},
        {"sub_sjis.srt", {"今日は映画を見に行きます。", "こんにちは", "ありがとうございます"}},
        {"sub_euckr.srt", {"안녕하세요", "영화를 보러 갑시다.", "감사합니다"}},
        {"sub_cp1252.srt", {"Ça va très bien, merci.", "Größe und Übermaß", "“Señor” — naïve façade"}},
        {"sub_cp1252_one_line.srt", {"Café"}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        TestSubtitles subs;
        ASS_Track* track = load_path(subs, fixture_path(c.fixture));
        ASSERT_NE(track, nullptr);
        EXPECT_EQ(subs.state->sub_track.load(), track);
        EXPECT_EQ(event_texts(track), c.texts);
    }
}

TEST(LoadExternalFile, gives_events_their_file_times_and_makes_the_file_current)
{
    TestSubtitles subs;
    add_external_file(subs.state, "/nonexistent/first.srt");
    ASS_Track* track = load_path(subs, fixture_path("sub_utf8.srt"));
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->n_events, 3);
    EXPECT_EQ(track->events[0].Start, 1000);
    EXPECT_EQ(track->events[0].Duration, 2000);
    EXPECT_EQ(track->events[1].Start, 4000);
    EXPECT_EQ(track->events[1].Duration, 2500);
    EXPECT_EQ(subs.state->external_index.load(), 1);
    for (int i = 0; i < track->n_events; i++)
        EXPECT_EQ(track->events[i].ReadOrder, 0) << "SRT events carry no read order";
    EXPECT_EQ(track->n_styles, 2) << "libass's own Default plus the one style of the default block";
    EXPECT_STREQ(track->styles[track->n_styles - 1].FontName, "SimHei");
}

TEST(LoadExternalFile, refuses_bad_indices_missing_short_and_unrecognised_files_and_keeps_the_current_source)
{
    TestSubtitles subs;
    ASS_Track* current = load_path(subs, fixture_path("sub_utf8.srt"));
    ASSERT_NE(current, nullptr);
    const std::string refused[] = {
        fixture_path("sub_unknown.txt"),
        write_temp_file("five.srt", "1\r\n00"),
        write_temp_file("empty.srt", ""),
        write_temp_file("binary.srt", std::string("\x00\x01\x02\x03\x04\x05\x06\x07\xff\xfe\x00\x00", 12)),
        "/nonexistent/folder/film.srt",
        "/tmp", // a folder
        // Formats that would make FFmpeg open the files they name.
        write_temp_file("playlist.srt", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nfile:///etc/hostname\n"
                                        "#EXT-X-ENDLIST\n"),
        write_temp_file("concat.srt", "ffconcat version 1.0\nfile /etc/hostname\n"),
        named_pipe("pipe.srt"),
    };
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        EXPECT_EQ(load_path(subs, path), nullptr);
        EXPECT_EQ(subs.state->sub_track.load(), current);
        EXPECT_EQ(subs.state->external_index.load(), 0);
    }
    EXPECT_EQ(load_external_file(subs.state, subs.state->external_count.load()), nullptr);
    EXPECT_EQ(load_external_file(subs.state, UINT32_MAX), nullptr);
    EXPECT_EQ(subs.state->sub_track.load(), current);
}

// An SRT file of exactly size bytes whose last event reads "last".
std::string srt_of_size(size_t size)
{
    std::string text;
    char event[128];
    int n = 0;
    while (text.size() + 200 < size) {
        int start = n * 10, end = start + 5;
        snprintf(event, sizeof event, "%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\nline %d\n\n", n + 1,
                 start / 3600000, start / 60000 % 60, start / 1000 % 60, start % 1000, end / 3600000,
                 end / 60000 % 60, end / 1000 % 60, end % 1000, n);
        text += event;
        n++;
    }
    text += "99999999\n10:00:00,000 --> 10:00:01,000\nlast\n";
    text.append(size - text.size(), '\n');
    return text;
}

TEST(LoadExternalFile, reads_a_file_of_exactly_ten_mebibytes_and_refuses_one_byte_more)
{
    TestSubtitles subs;
    std::string text = srt_of_size(10485760);
    ASSERT_EQ(text.size(), 10485760u);
    ASS_Track* track = load_path(subs, write_temp_file("limit.srt", text));
    ASSERT_NE(track, nullptr);
    ASSERT_GT(track->n_events, 1000);
    EXPECT_STREQ(track->events[track->n_events - 1].Text, "last");

    text.push_back('\n');
    EXPECT_EQ(load_path(subs, write_temp_file("over.srt", text)), nullptr);
    EXPECT_EQ(subs.state->sub_track.load(), track);
}

TEST(LoadExternalFile, a_second_file_replaces_the_first_and_close_drops_it)
{
    TestSubtitles subs;
    ASSERT_NE(load_path(subs, fixture_path("sub_utf8.srt")), nullptr);
    ASS_Track* second = load_path(subs, fixture_path("sub.ssa"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(subs.state->sub_track.load(), second);
    EXPECT_EQ(subs.state->external_index.load(), 1);
    close_subtitles(subs.state);
    EXPECT_EQ(subs.state->sub_track.load(), nullptr);
    EXPECT_EQ(subs.state->external_index.load(), -1) << "no file is in use after a close";
    EXPECT_EQ(subs.state->frame_width, 1);
}

struct TextCase {
    const char* name;
    std::string bytes;
    std::string text;
};

std::string utf16(const char* ascii, bool big_endian, const char* mark)
{
    std::string out = mark;
    for (const char* p = ascii; *p; p++) {
        out.push_back(big_endian ? '\0' : *p);
        out.push_back(big_endian ? *p : '\0');
    }
    return out;
}

TEST(SubtitleText, tells_utf16_by_its_mark_or_zeros_and_utf8_by_its_mark_or_validity)
{
    const TextCase cases[] = {
        {"UTF-16LE with mark", utf16("[Script Info]", false, "\xff\xfe"), "[Script Info]"},
        {"UTF-16BE with mark", utf16("[Script Info]", true, "\xfe\xff"), "[Script Info]"},
        {"UTF-16LE without mark", utf16("1\r\n00:00", false, ""), "1\r\n00:00"},
        {"UTF-16BE without mark", utf16("[Script Info]", true, ""), "[Script Info]"},
        {"UTF-16LE mark, CJK first", std::string("\xff\xfe\x35\x75\x71\x5f\x0a\x00", 8), "电影\n"},
        {"UTF-16LE surrogate pair", std::string("\xff\xfe\x3d\xd8\x00\xde\x0a\x00", 8), "\xf0\x9f\x98\x80\n"},
        {"UTF-16LE lone surrogate", std::string("\xff\xfe\x3d\xd8\x41\x00\x0a\x00", 8), "\xef\xbf\xbd" "A\n"},
        {"UTF-8 with mark", "\xef\xbb\xbf" "1\nabc", "1\nabc"},
        {"UTF-8 without mark", "1\n\xe7\x94\xb5\xe5\xbd\xb1", "1\n\xe7\x94\xb5\xe5\xbd\xb1"},
        {"GBK", "1\n\xb5\xe7\xd3\xb0", "1\n\xe7\x94\xb5\xe5\xbd\xb1"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = c.bytes;
        std::vector<char> out(bytes.size() * 3 + 32);
        int64_t offset = -1;
        int64_t n = subtitle_text_to_utf8(reinterpret_cast<uint8_t*>(bytes.data()), int64_t(bytes.size()), out.data(),
                                          &offset);
        ASSERT_GE(n, 0);
        EXPECT_EQ(std::string(out.data() + offset, size_t(n)), c.text);
    }
}

TEST(MemoryReadPacket, copies_what_is_left_and_then_reports_the_end)
{
    const char text[] = "0123456789";
    MemoryReader reader = {reinterpret_cast<const uint8_t*>(text), 10};
    uint8_t buffer[8];
    EXPECT_EQ(memory_read_packet(&reader, buffer, 8), 8);
    EXPECT_EQ(memcmp(buffer, "01234567", 8), 0);
    EXPECT_EQ(memory_read_packet(&reader, buffer, 8), 2);
    EXPECT_EQ(memcmp(buffer, "89", 2), 0);
    EXPECT_EQ(reader.remaining, 0);
    EXPECT_LT(memory_read_packet(&reader, buffer, 8), 0);
}

TEST(ParseSubtitleMemory, gives_no_track_for_text_that_is_no_subtitle_format)
{
    TestSubtitles subs;
    const char* texts[] = {"hello", "1\n2\n3\n4\n5\n6\n", "{{{{{{{{{{{{", "00:00:01,000 --> 00:00:02,000"};
    for (const char* text : texts)
        EXPECT_EQ(parse_subtitle_memory(subs.state, text, int32_t(strlen(text))), nullptr) << text;
    EXPECT_EQ(parse_subtitle_memory(subs.state, "", 0), nullptr);
    EXPECT_EQ(parse_subtitle_memory(subs.state, nullptr, 10), nullptr);
}

} // namespace
