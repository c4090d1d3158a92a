// The GL presentation path against the CPU path: the same frame with the
// same subtitles and OSD drawn by both agrees at 35 dB PSNR or better over
// the whole client area, for every kind of picture the GL path reads; and
// a GL path that cannot start leaves the picture to the CPU path. Runs on
// Mesa's software renderer where no GPU exists.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/intreadwrite.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "decode/decode.h"
#include "render/gl_internal.h"
#include "render_support.h"
#include "subtitle/subtitle.h"
#include "support/fixtures.h"

namespace {

// The first picture of a fixture, converted to format when one is given.
AVFrame* first_picture(const std::string& path, AVPixelFormat format)
{
    AVFormatContext* fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0)
        return nullptr;
    avformat_find_stream_info(fc, nullptr);
    const int index = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* decoder = index >= 0 ? avcodec_find_decoder(fc->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext* codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool got = false;
    if (codec && avcodec_parameters_to_context(codec, fc->streams[index]->codecpar) >= 0 &&
        avcodec_open2(codec, decoder, nullptr) == 0) {
        while (!got && av_read_frame(fc, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0)
                got = avcodec_receive_frame(codec, frame) == 0;
            av_packet_unref(packet);
        }
        if (!got && avcodec_send_packet(codec, nullptr) >= 0)
            got = avcodec_receive_frame(codec, frame) == 0;
    }
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&fc);
    if (!got) {
        av_frame_free(&frame);
        return nullptr;
    }
    if (frame->format == AV_PIX_FMT_RGBA) {
        // The decoder thread hands RGBA pictures on as premultiplied BGRA.
        rgba_to_premultiplied_bgra(frame->data[0], int64_t(frame->linesize[0]) * frame->height);
        frame->format = AV_PIX_FMT_BGRA;
    }
    if (format == AV_PIX_FMT_NONE || format == frame->format)
        return frame;
    AVFrame* converted = av_frame_alloc();
    converted->width = frame->width;
    converted->height = frame->height;
    converted->format = format;
    av_frame_get_buffer(converted, 0);
    av_frame_copy_props(converted, frame);
    SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                     frame->height, format, SWS_POINT, nullptr, nullptr, nullptr);
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
    sws_freeContext(sws);
    av_frame_free(&frame);
    return converted;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    double sum = 0;
    int64_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        if (i % 4 == 3)
            continue; // the fourth byte is never shown
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        count++;
    }
    if (count == 0 || a.size() != b.size())
        return 0;
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

// A bordered box of a DVD subtitle, its palette's colours partly transparent.
void queue_bitmap_subtitle_box(PlayerContext* ctx)
{
    AVSubtitle sub{};
    sub.num_rects = 1;
    sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    AVSubtitleRect* r = sub.rects[0] = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    r->type = SUBTITLE_BITMAP;
    r->x = 160;
    r->y = 440;
    r->w = 400;
    r->h = 80;
    r->nb_colors = 4;
    r->linesize[0] = r->w;
    r->data[0] = static_cast<uint8_t*>(av_malloc(size_t(r->w * r->h)));
    for (int y = 0; y < r->h; y++)
        for (int x = 0; x < r->w; x++) {
            const bool edge = x < 6 || y < 6 || x >= r->w - 6 || y >= r->h - 6;
            r->data[0][y * r->w + x] = uint8_t(edge ? 1 : (x / 40 % 2 ? 2 : (y > 40 ? 3 : 0)));
        }
    r->data[1] = static_cast<uint8_t*>(av_mallocz(1024));
    const uint32_t palette[4] = {0x00000000, 0xFF101010, 0xFFF0F0F0, 0x8000E0E0}; // ARGB
    memcpy(r->data[1], palette, sizeof palette);
    sub.start_display_time = 0;
    sub.end_display_time = UINT32_MAX;
    ctx->subtitles.canvas_width = 720;
    ctx->subtitles.canvas_height = 576;
    SpinGuard guard(&ctx->subtitles.subtitle_lock);
    queue_bitmap_subtitle(&ctx->subtitles, &sub, 0);
}

struct GlVersusCpu : RenderFixture {
    Chapter chapters[2] = {};
    void SetUp() override
    {
        RenderFixture::SetUp();
        ctx->duration_ms = 1000;
        ctx->focus_state = -1;
        chapters[0].end_ms = 500;
        chapters[1].start_ms = 500;
        chapters[1].end_ms = 1000;
        snprintf(chapters[1].title, sizeof chapters[1].title, "第二章");
    }
    void TearDown() override
    {
        ctx->chapters = nullptr;
        ctx->chapter_count = 0;
        gl_presenter_release(ctx);
        RenderFixture::TearDown();
    }
    // The client area as the path drew it, BGRX, W x H.
    std::vector<uint8_t> draw(bool gl, AVFrame* frame, int32_t time_ms)
    {
        render_set_gpu_mode(ctx, gl ? RENDER_GPU_OFFSCREEN : RENDER_GPU_OFF);
        present_picture(ctx, frame, time_ms);
        const FrameDisplay* d = &ctx->display;
        std::vector<uint8_t> pixels(size_t(d->client_width) * size_t(d->client_height) * 4);
        if (gl) {
            EXPECT_NE(d->gl, nullptr) << "no GL path: EGL with OpenGL 3.3 (Mesa's llvmpipe will do) is needed";
            if (!d->gl || !gl_read_pixels(d->gl, d->client_width, d->client_height, pixels.data(),
                                          int64_t(d->client_width) * 4))
                return {};
        } else {
            for (int32_t y = 0; y < d->client_height; y++)
                memcpy(&pixels[size_t(y) * size_t(d->client_width) * 4], d->buffer_bits + y * d->buffer_pitch,
                       size_t(d->client_width) * 4);
        }
        return pixels;
    }
};

TEST_F(GlVersusCpu, every_picture_kind_with_subtitles_and_osd_matches_the_cpu_path_at_35_db)
{
    enum Overlays { TEXT_SUBTITLES_INFO_LINE_NOTICE, BITMAP_SUBTITLES_PROGRESS_BAR };
    struct Case {
        const char* what;
        const char* fixture;
        AVPixelFormat format;
        int32_t W, H;
        uint32_t dw, dh; // display size; 0: the frame's
        Overlays overlays;
    } cases[] = {
        {"4:2:0 8-bit", "gl_420p8.mkv", AV_PIX_FMT_NONE, 960, 540, 0, 0, TEXT_SUBTITLES_INFO_LINE_NOTICE},
        {"4:2:0 8-bit, bitmap subtitles", "gl_420p8.mkv", AV_PIX_FMT_NONE, 960, 540, 0, 0,
         BITMAP_SUBTITLES_PROGRESS_BAR},
        {"NV12, as device frames are copied", "gl_420p8.mkv", AV_PIX_FMT_NV12, 960, 540, 0, 0,
         TEXT_SUBTITLES_INFO_LINE_NOTICE},
        {"4:2:0 10-bit", "gl_420p10.mkv", AV_PIX_FMT_NONE, 960, 540, 0, 0, BITMAP_SUBTITLES_PROGRESS_BAR},
        {"P010, as 10-bit device frames are copied", "gl_420p10.mkv", AV_PIX_FMT_P010LE, 960, 540, 0, 0,
         TEXT_SUBTITLES_INFO_LINE_NOTICE},
        {"BGRA", "gl_bgra.mkv", AV_PIX_FMT_NONE, 960, 540, 0, 0, TEXT_SUBTITLES_INFO_LINE_NOTICE},
        {"4:4:4 through three planes", "gl_420p8.mkv", AV_PIX_FMT_YUV444P, 960, 540, 0, 0,
         BITMAP_SUBTITLES_PROGRESS_BAR},
        {"anamorphic 720x576 shown 16:9", "gl_anamorphic.mp4", AV_PIX_FMT_NONE, 960, 540, 46080, 25920,
         BITMAP_SUBTITLES_PROGRESS_BAR},
        {"odd width, bars above and below", "gl_420p8.mkv", AV_PIX_FMT_NONE, 961, 601, 0, 0,
         TEXT_SUBTITLES_INFO_LINE_NOTICE},
        {"odd width, bars at the sides", "gl_420p10.mkv", AV_PIX_FMT_NONE, 1201, 541, 0, 0,
         BITMAP_SUBTITLES_PROGRESS_BAR},
    };
    for (const Case& c : cases) {
        AVFrame* frame = first_picture(fixture_path(c.fixture), c.format);
        ASSERT_NE(frame, nullptr) << c.what;
        ctx->display_width = c.dw ? c.dw : uint32_t(frame->width);
        ctx->display_height = c.dh ? c.dh : uint32_t(frame->height);
        render_set_client_size(ctx, c.W, c.H);
        SubtitleTrack subs{};
        if (c.overlays == TEXT_SUBTITLES_INFO_LINE_NOTICE) {
            subs = add_subtitles(ctx, "第一句 {\\i1}GPU{\\i0} subtitle");
            set_display_options(0, 1, 0);
            ctx->hover_region = 4; // the top bar: the line, a tooltip, the caption buttons
            ctx->chapters = chapters;
            ctx->chapter_count = 2;
            show_notice(ctx, " 这是一条通知 - notice ");
        } else {
            queue_bitmap_subtitle_box(ctx);
            set_display_options(0, 0, 1);
            ctx->hover_region = 3; // the progress bar: band, tooltip and time labels
            ctx->hover_position_ms = 700;
            ctx->seek_target_ms = 800;
            ctx->notice_length = 0;
        }
        const std::vector<uint8_t> gl = draw(true, frame, 400);
        const std::vector<uint8_t> cpu = draw(false, frame, 400);
        ASSERT_FALSE(gl.empty()) << c.what;
        const double db = psnr(gl, cpu);
        EXPECT_GE(db, 35.0) << c.what;
        printf("  %-45s %dx%d  %.1f dB\n", c.what, c.W, c.H, db);
        if (subs.track)
            remove_subtitles(ctx, subs);
        free_bitmap_subtitles(&ctx->subtitles);
        ctx->chapters = nullptr;
        ctx->chapter_count = 0;
        ctx->seek_target_ms = -1;
        av_frame_free(&frame);
    }
}

TEST_F(GlVersusCpu, a_gl_path_whose_shaders_do_not_build_leaves_the_picture_to_the_cpu)
{
    AVFrame* frame = solid_bgra_frame(64, 36, bgrx(0x20, 0x30, 0xE0, 0xFF));
    ctx->display_width = 64;
    ctx->display_height = 36;
    render_set_client_size(ctx, 64, 36);
    gl_break_shaders_for_test(true);
    render_set_gpu_mode(ctx, RENDER_GPU_OFFSCREEN);
    present_picture(ctx, frame, 0);
    gl_break_shaders_for_test(false);
    EXPECT_EQ(render_gpu_mode(ctx), RENDER_GPU_FAILED);
    EXPECT_EQ(ctx->display.gl, nullptr);
    EXPECT_TRUE(near_colour(pixel(32, 18), bgrx(0x20, 0x30, 0xE0, 0xFF))) << "the CPU path drew the picture";
    // Later pictures do not try the GL path again.
    present_picture(ctx, frame, 40);
    EXPECT_EQ(ctx->display.gl, nullptr);
    av_frame_free(&frame);
}

TEST_F(GlVersusCpu, a_picture_the_shader_cannot_read_is_converted_and_a_broken_one_leaves_the_bars)
{
    struct Case {
        const char* what;
        AVPixelFormat format;
        int w, h;
        bool picture; // whether a picture shows
    } cases[] = {
        {"palette picture (GIF)", AV_PIX_FMT_PAL8, 64, 36, true},
        {"big-endian 16-bit", AV_PIX_FMT_YUV420P16BE, 64, 36, true},
        {"device format without a device", AV_PIX_FMT_VAAPI, 64, 36, false},
        {"no height", AV_PIX_FMT_YUV420P, 64, 0, false},
    };
    ctx->focus_state = 0; // black bars
    render_set_client_size(ctx, 128, 72);
    for (const Case& c : cases) {
        AVFrame* frame = av_frame_alloc();
        frame->width = c.w;
        frame->height = c.h;
        frame->format = c.format;
        if (c.picture) {
            ASSERT_GE(av_frame_get_buffer(frame, 0), 0);
            if (c.format == AV_PIX_FMT_PAL8) {
                memset(frame->data[0], 5, size_t(frame->linesize[0]) * size_t(c.h));
                for (int i = 0; i < 256; i++)
                    AV_WN32(frame->data[1] + 4 * i, 0xFFC0C0C0u);
            } else {
                for (int p = 0; p < 3; p++)
                    memset(frame->data[p], 0xC0, size_t(frame->linesize[p]) * size_t(c.h) / (p ? 2 : 1));
            }
        }
        ctx->display_width = uint32_t(c.w);
        ctx->display_height = uint32_t(c.h > 0 ? c.h : 1);
        const std::vector<uint8_t> gl = draw(true, frame, 0);
        ASSERT_EQ(gl.size(), size_t(128 * 72 * 4)) << c.what;
        const uint8_t* centre = &gl[(36 * 128 + 64) * 4];
        EXPECT_EQ(centre[1] > 0x40, c.picture) << c.what << ": green " << int(centre[1]);
        EXPECT_EQ(render_gpu_mode(ctx), RENDER_GPU_OFFSCREEN) << c.what << ": the path stays";
        av_frame_free(&frame);
    }
}

TEST(GpuDevice, only_a_device_node_and_no_software_override_let_the_driver_be_asked)
{
    struct Case {
        const char* node; // made under a private /dev; null: none
        const char* always_software;
        bool present;
    } cases[] = {
        {nullptr, nullptr, false},     {"dri/renderD128", nullptr, true}, {"dri/card0", nullptr, true},
        {"nvidia0", nullptr, true},    {"dri/renderD128", "1", false},    {"dri/renderD128", "0", true},
        {"dri/by-path", nullptr, false},
    };
    for (const Case& c : cases) {
        char folder[] = "/tmp/mv_dev_XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::string root = folder;
        std::vector<std::string> made;
        if (c.node) {
            mkdir((root + "/dri").c_str(), 0700);
            made.push_back(root + "/" + c.node);
            fclose(fopen(made.back().c_str(), "w"));
        }
        EXPECT_EQ(gpu_device_present(folder, c.always_software), c.present)
            << (c.node ? c.node : "none") << " " << (c.always_software ? c.always_software : "unset");
        for (const std::string& f : made)
            remove(f.c_str());
        rmdir((root + "/dri").c_str());
        rmdir(folder);
    }
}

} // namespace
