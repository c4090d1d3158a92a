// Tracks and styles: the default style block, events from decoded
// subtitles with their read order, tag stripping and the standard style.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern "C" {
#include <libavutil/mem.h>
}

#include "subtitle/subtitle_support.h"
#include "support/fixtures.h"

namespace {

// A decoded text subtitle of one rectangle, as FFmpeg's decoders make it.
AVSubtitle text_subtitle(const char* ass, int64_t pts_us, uint32_t end_ms)
{
    AVSubtitle sub = {};
    sub.pts = pts_us;
    sub.end_display_time = end_ms;
    sub.num_rects = 1;
    sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    sub.rects[0] = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    sub.rects[0]->type = SUBTITLE_ASS;
    sub.rects[0]->ass = av_strdup(ass);
    return sub;
}

ASS_Track* load_fixture(TestSubtitles& subs, const char* name)
{
    add_external_file(subs.state, fixture_path(name).c_str());
    return load_external_file(subs.state, subs.state->external_count.load() - 1);
}

TEST(DefaultSubStyle, is_the_three_line_block_with_simhei_16_bottom_centre)
{
    EXPECT_EQ(strlen(DEFAULT_SUB_STYLE), 360u);
    EXPECT_EQ(std::string(DEFAULT_SUB_STYLE).rfind("Style: Default,SimHei,16,", std::string::npos) != std::string::npos,
              true);
    TestSubtitles subs;
    ASS_Track* track = new_subtitle_track(subs.state, nullptr);
    ASSERT_NE(track, nullptr);
    const ASS_Style& style = track->styles[track->n_styles - 1];
    EXPECT_STREQ(style.Name, "Default");
    EXPECT_STREQ(style.FontName, "SimHei");
    EXPECT_EQ(style.FontSize, 16);
    EXPECT_EQ(style.PrimaryColour, 0xFFFFFF00u);
    EXPECT_EQ(style.BackColour, 0x00000090u);
    EXPECT_EQ(style.Alignment, SUB_ALIGN_BOTTOM_CENTRE);
    EXPECT_EQ(style.MarginV, 8);
    ass_free_track(track);
}

TEST(NewSubtitleTrack, takes_an_ass_streams_own_styles_and_gives_srt_the_default_block)
{
    TestSubtitles subs;
    ASS_Track* ass = load_fixture(subs, "sub_utf8.ass");
    ASSERT_NE(ass, nullptr);
    ASSERT_EQ(ass->n_styles, 3);
    EXPECT_STREQ(ass->styles[1].Name, "Red");
    EXPECT_STREQ(ass->styles[2].Name, "Top");
    EXPECT_EQ(ass->PlayResX, 640);
    ASS_Track* srt = load_fixture(subs, "sub_utf8.srt");
    ASSERT_NE(srt, nullptr);
    EXPECT_STREQ(srt->styles[srt->n_styles - 1].FontName, "SimHei");
}

TEST(AddSubtitleEvents, takes_the_leading_number_of_the_read_order_text_and_the_subtitle_times)
{
    struct Case {
        const char* read_order;
        int expected;
    } cases[] = {{"17,0,Default,,0,0,0,,x", 17}, {nullptr, 0}, {"Dialogue", 0}, {"  42,", 42}, {"-3,", -3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.read_order ? c.read_order : "(none)");
        TestSubtitles subs;
        ASS_Track* track = new_subtitle_track(subs.state, nullptr);
        ASSERT_NE(track, nullptr);
        AVSubtitle sub = text_subtitle("5,0,Default,,0,0,0,,Hello", 5000000, 1500);
        add_subtitle_events(subs.state, track, &sub, c.read_order, c.read_order ? int(strlen(c.read_order)) : 0);
        EXPECT_EQ(sub.num_rects, 0u) << "the subtitle is freed";
        ASSERT_EQ(track->n_events, 1);
        EXPECT_EQ(track->events[0].ReadOrder, c.expected);
        EXPECT_EQ(track->events[0].Start, 5000);
        EXPECT_EQ(track->events[0].Duration, 1500);
        EXPECT_STREQ(track->events[0].Text, "Hello");
        ass_free_track(track);
    }
}

TEST(AddSubtitleEvents, reads_no_further_than_the_read_order_size_and_keeps_open_ends_on_screen)
{
    TestSubtitles subs;
    ASS_Track* track = new_subtitle_track(subs.state, nullptr);
    ASSERT_NE(track, nullptr);
    AVSubtitle sub = text_subtitle("1,0,Default,,0,0,0,,Open", AV_NOPTS_VALUE, UINT32_MAX);
    add_subtitle_events(subs.state, track, &sub, "123", 2);
    ASSERT_EQ(track->n_events, 1);
    EXPECT_EQ(track->events[0].ReadOrder, 12);
    EXPECT_EQ(track->events[0].Start, 0);
    EXPECT_GE(track->events[0].Duration, 3600 * 1000);
    ass_free_track(track);
}

TEST(AddSubtitleEvents, strips_tags_of_new_events_when_the_standard_style_is_on)
{
    TestSubtitles subs;
    subs.state->standard_style_on.store(1);
    ASS_Track* track = new_subtitle_track(subs.state, nullptr);
    ASSERT_NE(track, nullptr);
    AVSubtitle sub = text_subtitle("1,0,Default,,0,0,0,,{\\c&HFF&\\b1}Hi", 0, 1000);
    add_subtitle_events(subs.state, track, &sub, nullptr, 0);
    ASSERT_EQ(track->n_events, 1);
    EXPECT_STREQ(track->events[0].Text, "{\\b1}Hi");
    ass_free_track(track);
}

TEST(StripStyleTags, removes_font_colour_border_shadow_blur_and_position_tags_only)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"{\\fnArial\\bord3\\i1}Hello", "{\\i1}Hello"},
        {"{\\pos(10,20)}Hi", "Hi"},
        {"{\\1c&H0000FF&}Red", "Red"},
        {"a\\{b", "a\\{b"},
        {"{\\shad2\\blur3\\clip(0,0,5,5)\\c&HFF&\\2c&H0&\\3c&H0&\\4c&H0&}x", "x"},
        {"{\\b1\\fs20\\5c&H0&}x", "{\\b1\\fs20\\5c&H0&}x"},
        {"{\\pos(1,2)}{\\fnArial}After", "After"},
        {"{\\pos(1,2)}{\\b1}After", "{\\b1}After"},
        {"{}Empty", "Empty"},
        {"a\\Nb{\\i1}c{\\i0}", "a\\Nb{\\i1}c{\\i0}"},
        {"{\\fnArial", "{"},
        {"{\\i1", "{\\i1"},
        {"tail\\", "tail\\"},
        {"{\\fn}}x", "}x"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string text = c.in;
        size_t n = strip_style_tags_text(text.data());
        EXPECT_STREQ(text.c_str(), c.out);
        EXPECT_EQ(n, strlen(c.out));
    }
}

TEST(ApplySubStyle, on_strips_bottom_centre_events_and_overrides_and_off_restores_the_track_but_not_the_tags)
{
    TestSubtitles subs;
    ASS_Track* track = load_fixture(subs, "sub_utf8.ass");
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->ScaledBorderAndShadow, 0);

    set_standard_sub_style(subs.state, 1);
    EXPECT_EQ(track->ScaledBorderAndShadow, 1);
    EXPECT_EQ(event_texts(track),
              (std::vector<std::string>{"{\\i1}Hello 世界", "{\\pos(10,20)}Top line", "Plain"}))
        << "the top-centre event keeps its tags";
    {
        SpinGuard guard(&subs.state->subtitle_lock);
        ASS_Image* images = subtitles_render(subs.state, 8000, 640, 360, nullptr);
        ASSERT_NE(images, nullptr);
        bool white = false;
        for (ASS_Image* i = images; i; i = i->next)
            white |= i->color == 0xFFFFFF00u;
        EXPECT_TRUE(white) << "the standard style's white replaces the file's red";
    }

    set_standard_sub_style(subs.state, 0);
    EXPECT_EQ(track->ScaledBorderAndShadow, 0);
    EXPECT_STREQ(track->events[0].Text, "{\\i1}Hello 世界") << "removed tags stay removed";
    SpinGuard guard(&subs.state->subtitle_lock);
    ASS_Image* images = subtitles_render(subs.state, 8000, 640, 360, nullptr);
    ASSERT_NE(images, nullptr);
    for (ASS_Image* i = images; i; i = i->next)
        EXPECT_EQ(i->color, 0xFF000000u) << "the file's own red is back";
}

TEST(ApplySubStyle, does_nothing_without_a_current_track)
{
    TestSubtitles subs;
    set_standard_sub_style(subs.state, 1);
    EXPECT_EQ(subs.state->sub_track.load(), nullptr);
    ASS_Track* track = load_fixture(subs, "sub_utf8.ass");
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->events[0].Text, "{\\i1}Hello 世界") << "a file loaded with the option on is stripped";
}

} // namespace
