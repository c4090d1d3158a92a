// Embedded subtitle streams: attached fonts, the canvas, events from the
// decoder with seeks, drawing, the CJK font set-up, and all four threads
// working on one state at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fontconfig/fontconfig.h>
#include <string>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
}

#include "subtitle/subtitle_support.h"
#include "support/fixtures.h"

namespace {

struct AttachmentCase {
    const char* name;
    AVMediaType type;
    const char* filename_key;
    const char* filename;
    const char* mimetype;
    bool is_font;
};

TEST(FontAttachment, is_told_by_a_font_file_name_or_a_font_mimetype_of_an_attachment_with_a_file_name)
{
    const AttachmentCase cases[] = {
        {"upper-case TTF, no mimetype", AVMEDIA_TYPE_ATTACHMENT, "filename", "FONT.TTF", nullptr, true},
        {"otf", AVMEDIA_TYPE_ATTACHMENT, "filename", "a.otf", nullptr, true},
        {"mixed-case ttc", AVMEDIA_TYPE_ATTACHMENT, "filename", "b.TtC", nullptr, true},
        {"bin with capital mimetype", AVMEDIA_TYPE_ATTACHMENT, "filename", "font.bin", "APPLICATION/X-FONT-TTF", true},
        {"opentype mimetype", AVMEDIA_TYPE_ATTACHMENT, "filename", "f", "application/vnd.ms-opentype", true},
        {"truetype mimetype", AVMEDIA_TYPE_ATTACHMENT, "filename", "f", "application/x-truetype-font", true},
        {"jpeg picture", AVMEDIA_TYPE_ATTACHMENT, "filename", "cover.jpg", "image/jpeg", false},
        {"no file name", AVMEDIA_TYPE_ATTACHMENT, nullptr, nullptr, "application/x-font-ttf", false},
        {"file name key in capitals", AVMEDIA_TYPE_ATTACHMENT, "FILENAME", "font.ttf", nullptr, false},
        {"ttf name on a video stream", AVMEDIA_TYPE_VIDEO, "filename", "font.ttf", nullptr, false},
        {"name ending in ttf without dot", AVMEDIA_TYPE_ATTACHMENT, "filename", "fontttf", nullptr, false},
    };
    for (const AttachmentCase& c : cases) {
        SCOPED_TRACE(c.name);
        AVFormatContext* format = avformat_alloc_context();
        AVStream* stream = avformat_new_stream(format, nullptr);
        ASSERT_NE(stream, nullptr);
        stream->codecpar->codec_type = c.type;
        if (c.filename_key)
            av_dict_set(&stream->metadata, c.filename_key, c.filename, 0);
        if (c.mimetype)
            av_dict_set(&stream->metadata, "mimetype", c.mimetype, 0);
        EXPECT_EQ(is_font_attachment(stream), c.is_font);
        avformat_free_context(format);
    }
}

// The fixture film opened as the media thread opens it, with its subtitle
// stream's decoder.
struct OpenFilm {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    int subtitle_index = -1;
    explicit OpenFilm(const std::string& path)
    {
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format, nullptr) < 0)
            return;
        subtitle_index = av_find_best_stream(format, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
        if (subtitle_index < 0)
            return;
        const AVStream* stream = format->streams[subtitle_index];
        const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
        codec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codec, stream->codecpar);
        codec->pkt_timebase = stream->time_base;
        if (avcodec_open2(codec, decoder, nullptr) < 0)
            avcodec_free_context(&codec);
    }
    ~OpenFilm()
    {
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
    // Decodes every subtitle packet into the current track, as the decoder thread does.
    void feed(SubtitleState* state)
    {
        av_seek_frame(format, -1, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            AVSubtitle sub;
            int got = 0;
            if (packet->stream_index == subtitle_index && avcodec_decode_subtitle2(codec, &sub, &got, packet) >= 0 &&
                got) {
                SpinGuard guard(&state->subtitle_lock);
                add_subtitle_events(state, state->sub_track.load(), &sub, reinterpret_cast<char*>(packet->data),
                                    packet->size);
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
};

TEST(OpenEmbeddedSubtitles, adds_the_attached_font_takes_the_video_size_and_the_streams_own_styles)
{
    TestSubtitles subs;
    OpenFilm film(fixture_path("sub_attached_font.mkv"));
    ASSERT_NE(film.codec, nullptr);
    EXPECT_EQ(open_embedded_subtitles(subs.state, film.codec, film.format), 1);
    EXPECT_EQ(subs.state->external_index.load(), -1);
    EXPECT_EQ(subs.state->attached_font_count, 1);
    EXPECT_EQ(subs.state->renderer_ready.load(), 1) << "the renderer was rebuilt with the font";
    EXPECT_EQ(subs.state->canvas_width.load(), 320);
    EXPECT_EQ(subs.state->canvas_height.load(), 240);
    ASS_Track* track = subs.state->sub_track.load();
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->styles[1].Name, "Red");

    film.feed(subs.state);
    ASSERT_EQ(track->n_events, 3);
    EXPECT_STREQ(track->events[2].Text, "Plain");
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(track->events[i].ReadOrder, i) << "the packet's read order";

    close_subtitles(subs.state);
    EXPECT_EQ(subs.state->attached_font_count, 0);
    EXPECT_EQ(subs.state->renderer_ready.load(), 0);
    EXPECT_EQ(subs.state->sub_renderer, nullptr);
}

TEST(OpenEmbeddedSubtitles, a_seek_empties_the_embedded_track_so_packets_read_again_are_taken)
{
    TestSubtitles subs;
    OpenFilm film(fixture_path("sub_attached_font.mkv"));
    ASSERT_NE(film.codec, nullptr);
    open_embedded_subtitles(subs.state, film.codec, film.format);
    film.feed(subs.state);
    film.feed(subs.state);
    ASS_Track* track = subs.state->sub_track.load();
    EXPECT_EQ(track->n_events, 3) << "packets read twice are not added twice";
    reset_subtitles_for_seek(subs.state);
    EXPECT_EQ(track->n_events, 0);
    EXPECT_EQ(subs.state->frame_width, 1);
    film.feed(subs.state);
    EXPECT_EQ(track->n_events, 3);
}

TEST(OpenEmbeddedSubtitles, a_stream_without_a_size_takes_the_first_video_streams_size)
{
    struct Case {
        int codec_width, codec_height, coded_width;
        int canvas_width, canvas_height;
    } cases[] = {{0, 0, 0, 720, 576}, {1920, 1080, 0, 1920, 1080}, {0, 0, 640, 640, 576}, {-1, 480, 0, 720, 480}};
    for (const Case& c : cases) {
        TestSubtitles subs;
        AVFormatContext* format = avformat_alloc_context();
        AVStream* audio = avformat_new_stream(format, nullptr);
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        for (int size : {720, 1280}) {
            AVStream* video = avformat_new_stream(format, nullptr);
            video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
            video->codecpar->width = size;
            video->codecpar->height = size * 4 / 5;
        }
        AVCodecContext* codec = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE));
        codec->width = c.codec_width;
        codec->height = c.codec_height;
        codec->coded_width = c.coded_width;
        open_embedded_subtitles(subs.state, codec, format);
        EXPECT_EQ(subs.state->canvas_width.load(), c.canvas_width);
        EXPECT_EQ(subs.state->canvas_height.load(), c.canvas_height);
        avcodec_free_context(&codec);
        avformat_free_context(format);
    }
}

TEST(SubtitlesRender, draws_an_event_at_its_time_in_its_styles_colour_and_nothing_between_events)
{
    TestSubtitles subs;
    add_external_file(subs.state, fixture_path("sub_utf8.ass").c_str());
    ASSERT_NE(load_external_file(subs.state, 0), nullptr);
    SpinGuard guard(&subs.state->subtitle_lock);
    ASS_Image* images = subtitles_render(subs.state, 8000, 640, 360, nullptr);
    ASSERT_NE(images, nullptr);
    int width = 0;
    for (ASS_Image* i = images; i; i = i->next) {
        EXPECT_EQ(i->color, 0xFF000000u) << "the Red style, no border or shadow";
        width += i->w;
    }
    EXPECT_GT(width, 50);
    EXPECT_EQ(subs.state->frame_width, 640);
    EXPECT_EQ(subtitles_render(subs.state, 3500, 640, 360, nullptr), nullptr);
    EXPECT_EQ(subtitles_render(subs.state, 2000, 0, 360, nullptr), nullptr);
}

TEST(SubtitlesRender, draws_chinese_text_in_the_default_simhei_style_white_with_a_black_outline)
{
    TestSubtitles subs;
    add_external_file(subs.state, fixture_path("sub_gbk_one_line.srt").c_str());
    ASSERT_NE(load_external_file(subs.state, 0), nullptr);
    SpinGuard guard(&subs.state->subtitle_lock);
    ASS_Image* images = subtitles_render(subs.state, 2000, 384, 288, nullptr);
    ASSERT_NE(images, nullptr);
    bool white = false, outline = false;
    int glyph_width = 0;
    for (ASS_Image* i = images; i; i = i->next) {
        if (i->color == 0xFFFFFF00u) {
            white = true;
            glyph_width = std::max(glyph_width, i->w);
        }
        outline |= i->color == 0x00000000u;
    }
    EXPECT_TRUE(white);
    EXPECT_TRUE(outline);
    EXPECT_GE(glyph_width, 24) << "two CJK glyphs at size 16 are about 32 pixels wide";
}

TEST(SubtitlesRender, draws_again_after_a_close_cleared_the_attached_fonts)
{
    // A renderer that drew while fonts were attached must not draw after
    // they are cleared (libass aborts); the next source gets a new renderer.
    TestSubtitles subs;
    OpenFilm film(fixture_path("sub_attached_font.mkv"));
    ASSERT_NE(film.codec, nullptr);
    open_embedded_subtitles(subs.state, film.codec, film.format);
    film.feed(subs.state);
    {
        SpinGuard guard(&subs.state->subtitle_lock);
        EXPECT_NE(subtitles_render(subs.state, 2000, 320, 240, nullptr), nullptr);
    }
    add_external_file(subs.state, fixture_path("sub_utf8.srt").c_str());
    ASSERT_NE(load_external_file(subs.state, 0), nullptr);
    SpinGuard guard(&subs.state->subtitle_lock);
    EXPECT_NE(subtitles_render(subs.state, 2000, 320, 240, nullptr), nullptr);
}

TEST(FontConfig, makes_simhei_the_installed_cjk_sans_and_keeps_the_cache_in_its_folder)
{
    const char* file = font_config_file();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(file), std::string(font_config_dir()) + "/fonts.conf");
    FcConfig* config = FcConfigCreate();
    ASSERT_TRUE(FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(file), FcTrue));
    ASSERT_TRUE(FcConfigBuildFonts(config));
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("SimHei"));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    ASSERT_NE(match, nullptr);
    FcChar8* family = nullptr;
    FcPatternGetString(match, FC_FAMILY, 0, &family);
    EXPECT_STREQ(reinterpret_cast<const char*>(family), "Noto Sans CJK SC")
        << "fonts-noto-cjk must be installed";
    FcStrList* caches = FcConfigGetCacheDirs(config);
    FcChar8* first = FcStrListNext(caches);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(first), font_config_dir());
    FcStrListDone(caches);
    FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
}

TEST(SubtitleThreads, decoder_presentation_window_and_media_threads_share_the_state_safely)
{
    TestSubtitles subs;
    add_external_file(subs.state, fixture_path("sub_utf8.ass").c_str());
    add_external_file(subs.state, fixture_path("sub_gbk.srt").c_str());
    ASSERT_NE(load_external_file(subs.state, 0), nullptr);
    std::atomic<int> stop{0};
    std::thread decoder([&] {
        for (int n = 0; !stop.load(); n++) {
            char text[64];
            // Read orders repeat, so libass keeps at most 100 of these events.
            snprintf(text, sizeof text, "%d,0,Default,,0,0,0,,{\\pos(1,1)}decoded %d", n % 100, n);
            AVSubtitle sub = {};
            sub.pts = int64_t(n % 10) * 1000000;
            sub.end_display_time = 900;
            sub.num_rects = 1;
            sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
            sub.rects[0] = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
            sub.rects[0]->type = SUBTITLE_ASS;
            sub.rects[0]->ass = av_strdup(text);
            {
                SpinGuard guard(&subs.state->subtitle_lock);
                add_subtitle_events(subs.state, subs.state->sub_track.load(), &sub, text, int(strlen(text)));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread presentation([&] {
        for (int t = 0; !stop.load(); t = (t + 40) % 10000) {
            {
                SpinGuard guard(&subs.state->subtitle_lock);
                subtitles_render(subs.state, t, 320 + t % 3, 240, nullptr);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::thread window([&] {
        for (int n = 0; !stop.load(); n++) {
            set_standard_sub_style(subs.state, n & 1);
            add_external_file(subs.state, ("/dropped/" + std::to_string(n % 50) + ".srt").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 8; i++) {
        EXPECT_NE(load_external_file(subs.state, uint32_t(i % 2)), nullptr);
        reset_subtitles_for_seek(subs.state);
    }
    close_subtitles(subs.state);
    stop.store(1);
    decoder.join();
    presentation.join();
    window.join();
    EXPECT_EQ(subs.state->sub_track.load(), nullptr);
    EXPECT_LE(subs.state->external_count.load(), 52u);
}

} // namespace

namespace {

// A decoded bitmap subtitle of one 2 x 1 rectangle with a two-colour palette.
AVSubtitle bitmap_subtitle(uint32_t start_ms, uint32_t end_ms, unsigned rects)
{
    AVSubtitle sub = {};
    sub.start_display_time = start_ms;
    sub.end_display_time = end_ms;
    sub.num_rects = rects;
    if (rects == 0)
        return sub;
    sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    AVSubtitleRect* rect = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    rect->type = SUBTITLE_BITMAP;
    rect->w = 2;
    rect->h = 1;
    rect->nb_colors = 2;
    rect->data[0] = static_cast<uint8_t*>(av_mallocz(2));
    rect->linesize[0] = 2;
    rect->data[1] = static_cast<uint8_t*>(av_mallocz(AVPALETTE_SIZE));
    rect->data[1][3] = 0xFF;   // colour 0 opaque
    rect->data[1][7] = 0x10;   // colour 1 nearly clear
    sub.rects[0] = rect;
    return sub;
}

TEST(BitmapSubtitles, are_queued_with_absolute_times_inverted_alpha_and_open_ends_closed_by_the_next)
{
    TestSubtitles subs;
    SpinGuard guard(&subs.state->subtitle_lock);
    AVSubtitle first = bitmap_subtitle(0, UINT32_MAX, 1);
    ASSERT_TRUE(queue_bitmap_subtitle(subs.state, &first, 10000));
    BitmapSubtitle* head = subs.state->bitmap_subs_head;
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->subtitle.start_display_time, 10000u);
    EXPECT_EQ(head->subtitle.end_display_time, UINT32_MAX);
    EXPECT_EQ(head->subtitle.rects[0]->data[1][3], 0x00);
    EXPECT_EQ(head->subtitle.rects[0]->data[1][7], 0xEF);

    AVSubtitle second = bitmap_subtitle(100, 2000, 1);
    ASSERT_TRUE(queue_bitmap_subtitle(subs.state, &second, 15000));
    EXPECT_EQ(head->subtitle.end_display_time, 14999u) << "the open end closes 1 ms before the next";
    BitmapSubtitle* tail = subs.state->bitmap_subs_tail;
    ASSERT_NE(tail, head);
    EXPECT_EQ(tail->prev, head);
    EXPECT_EQ(head->next, tail);
    EXPECT_EQ(tail->subtitle.start_display_time, 15100u);
    EXPECT_EQ(tail->subtitle.end_display_time, 17000u);

    AVSubtitle third = bitmap_subtitle(0, UINT32_MAX, 1);
    ASSERT_TRUE(queue_bitmap_subtitle(subs.state, &third, 20000));
    AVSubtitle empty = bitmap_subtitle(0, 0, 0);
    ASSERT_TRUE(queue_bitmap_subtitle(subs.state, &empty, 25000));
    EXPECT_EQ(subs.state->bitmap_subs_tail->subtitle.end_display_time, 24999u) << "an empty one closes it too";
    EXPECT_EQ(subs.state->bitmap_subs_tail->prev, tail) << "and is not queued";

    free_bitmap_subtitles(subs.state);
    EXPECT_EQ(subs.state->bitmap_subs_head, nullptr);
    EXPECT_EQ(subs.state->bitmap_subs_tail, nullptr);
}

} // namespace
