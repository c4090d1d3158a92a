// Status lines: progress markers and their conditions, chapter ticks, the
// information lines in their width formats and the hover-time text.
#include <string>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "render_support.h"

namespace {

using Status = RenderFixture;

const uint32_t MAGENTA = bgrx(0xFF, 0x00, 0xFF, 0x00);
const uint32_t GREEN = bgrx(0x00, 0xFF, 0x00, 0xFF);
const uint32_t DARK_GREEN = bgrx(0x00, 0xA0, 0x00, 0xA0);
const uint32_t RED = bgrx(0x00, 0x00, 0xFF, 0x00);
const uint32_t YELLOW = bgrx(0x00, 0xFF, 0xFF, 0xFF);

// The marker's rows from the bottom: three bars of two rows, gaps of two.
const int32_t MARKER_ROWS[] = {10, 9, 6, 5, 2, 1};
const int32_t GAP_ROWS[] = {8, 7, 4, 3};

void expect_marker(RenderFixture* t, int32_t x, uint32_t colour, int32_t H, const char* what)
{
    for (int32_t r : MARKER_ROWS) {
        EXPECT_EQ(t->pixel(x, H - r), colour) << what << " row H-" << r;
        EXPECT_EQ(t->pixel(x + 7, H - r), colour) << what << " row H-" << r;
    }
    for (int32_t r : GAP_ROWS)
        EXPECT_EQ(t->pixel(x, H - r), 0u) << what << " gap H-" << r;
    if (x > 0) {
        EXPECT_NE(t->pixel(x - 1, H - 1), colour) << what << " starts at " << x;
    }
    EXPECT_NE(t->pixel(x + 8, H - 1), colour) << what << " is 8 wide";
}

TEST_F(Status, the_position_marker_travels_over_w_minus_8_columns)
{
    struct Case {
        int32_t p, column;
    } cases[] = {{30000, 400}, {60000, 800}, {90000, 800}, {0, 0}, {-500, 0}};
    ctx->duration_ms = 60000;
    ctx->playing = 1;
    for (const Case& c : cases) {
        size_buffer(808, 100);
        fill_all(0);
        ctx->clock_ms = c.p;
        draw_progress_markers(ctx, c.p, true);
        expect_marker(this, c.column, GREEN, 100, std::to_string(c.p).c_str());
    }
}

TEST_F(Status, marker_colours_and_the_clock_and_seek_markers_follow_their_conditions)
{
    struct Case {
        const char* what;
        int32_t playing, hidden, step, clock, seek;
        bool video;
        uint32_t position_colour;
        bool clock_marker, seek_marker;
    } cases[] = {
        {"paused: magenta", 0, 0, 0, 30000, -1, true, MAGENTA, false, false},
        {"playing, pointer hidden over video: dark green", 1, 1, 0, 30000, -1, true, DARK_GREEN, false, false},
        {"playing, pointer hidden, sound only: green", 1, 1, 0, 30000, -1, false, GREEN, false, false},
        {"clock 599 ms ahead: no red marker", 1, 0, 0, 30599, -1, true, GREEN, false, false},
        {"clock 600 ms ahead: red marker", 1, 0, 0, 30600, -1, true, GREEN, true, false},
        {"clock 600 ms behind: red marker", 1, 0, 0, 29400, -1, true, GREEN, true, false},
        {"stepping: red marker at the clock", 0, 0, 1, 30000 + 8 * 75 * 10, -1, true, MAGENTA, true, false},
        {"seek pending at 0: yellow marker", 1, 0, 0, 30000, 0, true, GREEN, false, true},
    };
    ctx->duration_ms = 60000;
    for (const Case& c : cases) {
        size_buffer(808, 100);
        fill_all(0);
        ctx->playing = c.playing;
        set_cursor_hidden(c.hidden);
        ctx->step_frame = c.step;
        ctx->clock_ms = c.clock;
        ctx->seek_target_ms = c.seek;
        draw_progress_markers(ctx, 30000, c.video);
        expect_marker(this, 400, c.position_colour, 100, c.what);
        int32_t clock_x = int32_t(int64_t(800) * c.clock / 60000);
        if (c.clock_marker) {
            expect_marker(this, clock_x, RED, 100, c.what);
        } else {
            EXPECT_NE(pixel(clock_x, 99), RED) << c.what;
        }
        if (c.seek_marker) {
            expect_marker(this, 0, YELLOW, 100, c.what);
        } else {
            EXPECT_EQ(pixel(0, 99), 0u) << c.what;
        }
    }
}

TEST_F(Status, chapter_ticks_sit_in_the_middle_of_the_marker_positions)
{
    static Chapter chapters[3] = {};
    chapters[0].start_ms = 0;
    chapters[1].start_ms = 30000;
    chapters[2].start_ms = 60000;
    ctx->chapters = chapters;
    ctx->chapter_count = 3;
    ctx->duration_ms = 60000;
    for (int32_t hover : {0, 3}) {
        ctx->hover_region = hover;
        const uint32_t colour = hover == 3 ? bgrx(0x00, 0x80, 0xFF, 0x00) : bgrx(0x00, 0xFF, 0x00, 0x00);
        size_buffer(808, 100);
        fill_all(0);
        draw_chapter_ticks(ctx);
        for (int32_t x : {4, 404, 804}) {
            for (int32_t y = 93; y <= 98; y++) {
                EXPECT_EQ(pixel(x, y), colour) << x << "," << y;
                EXPECT_EQ(pixel(x + 1, y), colour) << x << "," << y;
            }
            EXPECT_EQ(pixel(x, 92), 0u);
            EXPECT_EQ(pixel(x, 99), 0u);
            EXPECT_EQ(pixel(x - 1, 95), 0u);
            EXPECT_EQ(pixel(x + 2, 95), 0u);
        }
    }
    ctx->chapters = nullptr;
    ctx->chapter_count = 0;
}

TEST_F(Status, the_progress_bar_appears_only_when_the_duration_and_the_pointer_state_allow)
{
    struct Case {
        const char* what;
        int32_t duration, show_progress, hidden, focus, hover;
        bool drawn;
    } cases[] = {
        {"setting on", 60000, 1, 1, 0, 0, true},
        {"setting off, pointer shown in an active window", 60000, 0, 0, -1, 0, true},
        {"setting off, pointer hidden", 60000, 0, 1, -1, 0, false},
        {"setting off, inactive and playing", 60000, 0, 0, 0, 0, false},
        {"setting off, hovering the bar", 60000, 0, 1, 0, 3, true},
        {"duration of 100 ms: never", 100, 1, 0, -1, 3, false},
    };
    ctx->display_width = 16;
    ctx->display_height = 9;
    ctx->playing = 1;
    AVFrame* f = solid_bgra_frame(16, 9, 0);
    for (const Case& c : cases) {
        set_display_options(0, 0, c.show_progress);
        ctx->duration_ms = c.duration;
        set_cursor_hidden(c.hidden);
        ctx->focus_state = c.focus;
        ctx->hover_region = c.hover;
        ctx->clock_ms = 0;
        render_set_client_size(ctx, 808, 454);
        present_picture(ctx, f, 0);
        uint32_t p = pixel(0, 453);
        EXPECT_EQ(p == GREEN || p == DARK_GREEN, c.drawn) << c.what << " " << std::hex << p;
    }
    av_frame_free(&f);
}

TEST_F(Status, the_top_band_is_darkened_for_the_title_line_or_the_hovered_top_bar)
{
    struct Case {
        const char* what;
        int32_t show_title, hidden, focus, hover;
        uint32_t subtract; // 0: band untouched
    } cases[] = {
        {"title setting, active", 1, 0, -1, 0, bgrx(0x22, 0x66, 0x22, 0x66)},
        {"title setting, pointer hidden", 1, 1, -1, 0, 0},
        {"title setting, inactive and playing", 1, 0, 0, 0, 0},
        {"top bar hovered", 0, 0, -1, 4, bgrx(0x66, 0xAA, 0x66, 0xAA)},
        {"nothing asks for it", 0, 0, -1, 0, 0},
    };
    ctx->display_width = 16;
    ctx->display_height = 9;
    const uint32_t grey = bgrx(0xC0, 0xC0, 0xC0, 0xC0);
    AVFrame* f = solid_bgra_frame(16, 9, grey);
    for (const Case& c : cases) {
        set_display_options(0, c.show_title, 0);
        set_cursor_hidden(c.hidden);
        ctx->focus_state = c.focus;
        ctx->hover_region = c.hover;
        render_set_client_size(ctx, 1600, 900);
        present_picture(ctx, f, 0);
        uint32_t want = grey;
        for (int i = 0; i < 4; i++) {
            int v = 0xC0 - int((c.subtract >> (8 * i)) & 0xFF);
            want = (want & ~(0xFFu << (8 * i))) | uint32_t(v) << (8 * i);
        }
        // Column 1500, row 19: right of the text, last darkened row.
        EXPECT_TRUE(near_colour(pixel(1500, 19), want, 2)) << c.what << " " << std::hex << pixel(1500, 19);
        EXPECT_TRUE(near_colour(pixel(1500, 20), grey, 2)) << c.what;
    }
    av_frame_free(&f);
}

struct InfoFixture : RenderFixture {
    AVFrame* frame = nullptr;
    void SetUp() override
    {
        RenderFixture::SetUp();
        frame = av_frame_alloc();
        frame->width = 1440;
        frame->height = 1080;
        frame->format = AV_PIX_FMT_YUV420P;
        frame->pict_type = AV_PICTURE_TYPE_I;
        ctx->audio.volume = 110;
        ctx->frame_rate_num = 25;
        ctx->frame_rate_den = 1;
        ctx->video_start_ms = 0;
        ctx->duration_ms = 3723004;
        ctx->current_item = 1;
        ctx->item_count = 5;
        strcpy(ctx->media_path, "/films/夜.mkv");
        strcpy(ctx->aspect_text, "16:9<1.333>");
        strcpy(ctx->start_offset_text, "+1.400");
    }
    void TearDown() override
    {
        av_frame_free(&frame);
        RenderFixture::TearDown();
    }
    std::string video_line(int32_t W, int32_t time_ms)
    {
        ctx->display.client_width = W;
        char line[2048];
        int n = format_video_info(ctx, frame, time_ms, 1000, 562, line, sizeof line);
        return std::string(line, size_t(n));
    }
};

TEST_F(InfoFixture, the_video_line_has_three_width_formats)
{
    struct Case {
        int32_t W;
        const char* line;
    } cases[] = {
        {1000, "110  I.25 [ 0:00:01.000+1.400 / 1:02:03.004 ] 1440x1080 -> 1000x562 / 16:9<1.333>  FPS:25.00  "
               "2/5//films/夜.mkv"},
        {999, "110  I.25 [ 0:00:01.000+1.400 / 1:02:03.004 ] 1000x562 / 16:9<1.333>  FPS:25.00  2/5/夜.mkv"},
        {620, "110  I.25 [ 0:00:01.000+1.400 / 1:02:03.004 ] 1000x562 / 16:9<1.333>  FPS:25.00  2/5/夜.mkv"},
        {619, "110  I.25 [ 0:00:01.000+1.400 / 1:02:03.004 ] 1000x562  FPS:25.00  2/5/夜.mkv"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(video_line(c.W, 1000), c.line) << c.W;
}

TEST_F(InfoFixture, the_middle_format_shows_the_approximate_aspect_when_there_is_one)
{
    strcpy(ctx->aspect_text, "683:384≈16:9<1>");
    EXPECT_NE(video_line(800, 0).find(" / ≈16:9<1>  FPS"), std::string::npos) << video_line(800, 0);
    EXPECT_NE(video_line(1000, 0).find(" / 683:384≈16:9<1>  FPS"), std::string::npos);
}

TEST_F(InfoFixture, frame_number_rate_and_picture_type_follow_the_stream)
{
    struct Case {
        int32_t num, den, start, time, type;
        const char* part;
    } cases[] = {
        {25, 1, 0, 1000, AV_PICTURE_TYPE_I, " I.25 [ "},
        {30000, 1001, 0, 1000, AV_PICTURE_TYPE_P, "FPS:29.97"},
        {30000, 1001, 0, 1000, AV_PICTURE_TYPE_P, " P.30 [ "},
        {25, 1, 400, 1000, AV_PICTURE_TYPE_B, " B.15 [ "},
        {25, 1, 0, 1000, AV_PICTURE_TYPE_NONE, " N.25 [ "},
        {25, 1, 0, 1000, AV_PICTURE_TYPE_S, " S.25 [ "},
        {25, 1, 0, 1000, AV_PICTURE_TYPE_BI, " U.25 [ "},
        {0, 0, 0, 1000, AV_PICTURE_TYPE_I, "FPS:0.00"}, // rate not known yet: no division by zero
    };
    for (const Case& c : cases) {
        ctx->frame_rate_num = c.num;
        ctx->frame_rate_den = c.den;
        ctx->video_start_ms = c.start;
        frame->pict_type = AVPictureType(c.type);
        std::string line = video_line(700, c.time);
        EXPECT_NE(line.find(c.part), std::string::npos) << line;
    }
}

TEST_F(InfoFixture, the_audio_line_names_the_sample_format)
{
    struct Case {
        int32_t format;
        const char* name;
    } cases[] = {
        {AV_SAMPLE_FMT_U8, "8位"},         {AV_SAMPLE_FMT_S16P, "16位"},     {AV_SAMPLE_FMT_S32, "32位"},
        {AV_SAMPLE_FMT_FLTP, "32位浮点"},  {AV_SAMPLE_FMT_DBL, "64位浮点"}, {AV_SAMPLE_FMT_S64, ""},
        {-1, ""},
    };
    ctx->audio_only_position_ms = 65432;
    ctx->audio.audio_in_channels = 2;
    ctx->audio.audio_in_rate = 48000;
    for (const Case& c : cases) {
        ctx->audio.audio_sample_format = c.format;
        char line[2048];
        format_audio_info(ctx, line, sizeof line);
        std::string want = std::string("110 [ 0:01:05.432+1.400 / 1:02:03.004 ] 2声道  ") + c.name +
                           "  48000Hz  2/5//films/夜.mkv";
        EXPECT_EQ(line, want);
    }
}

TEST_F(InfoFixture, the_hover_time_names_the_first_titled_chapter_covering_it)
{
    static Chapter chapters[3] = {};
    chapters[0] = Chapter{0, "", 100000};
    chapters[1] = Chapter{3000000, "", 4000000};
    chapters[2] = Chapter{3600000, "第二章", 3800000};
    ctx->chapters = chapters;
    ctx->chapter_count = 3;
    struct Case {
        int32_t at;
        const char* text;
    } cases[] = {
        {3725004, "1:02:05.004 [第二章]"}, // untitled and titled cover it: the titled one
        {3500000, "0:58:20.000"},          // only an untitled chapter: no suffix
        {50000, "0:00:50.000"},
    };
    for (const Case& c : cases) {
        ctx->hover_position_ms = c.at;
        char text[256];
        format_hover_time(ctx, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
    ctx->chapters = nullptr;
    ctx->chapter_count = 0;
}

TEST_F(InfoFixture, hovering_the_bar_shows_the_time_labels_and_the_tooltip_box)
{
    ctx->hover_region = 3;
    ctx->hover_position_ms = 3000000;
    ctx->display_width = 16;
    ctx->display_height = 9;
    AVFrame* f = solid_bgra_frame(16, 9, bgrx(0x80, 0x80, 0x80, 0x80));
    render_set_client_size(ctx, 1000, 500);
    present_picture(ctx, f, 0);
    // Hover band: the bottom 30 rows darkened by (0x22, 0x66, 0x22, 0x66).
    EXPECT_TRUE(near_colour(pixel(500, 470), bgrx(0x5E, 0x1A, 0x5E, 0), 2)) << std::hex << pixel(500, 470);
    EXPECT_TRUE(near_colour(pixel(500, 469), bgrx(0x80, 0x80, 0x80, 0), 2));
    // The tooltip box ends at x = 3000000 * 1000 / 3723004 = 805 (right half).
    const uint32_t box = pixel(804, 471);
    EXPECT_LT(box & 0xFF, 0x5E) << "darkened again by the tooltip box";
    EXPECT_TRUE(near_colour(pixel(806, 471), bgrx(0x5E, 0x1A, 0x5E, 0), 2));
    av_frame_free(&f);
}

} // namespace
