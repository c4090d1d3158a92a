// Whole pictures: fitting, bars, the frame buffer's growth, copies,
// snapshots, subtitles and bad input.
#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <ass/ass.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "render_support.h"
#include "subtitle/subtitle.h"
#include "support/fixtures.h"

namespace {

struct FitCase {
    const char* what;
    int32_t W, H;
    uint32_t dw, dh;
    PictureFit want;
};

TEST(FitPicture, fits_the_display_aspect_with_aligned_bars_or_stretches_small_gaps)
{
    const FitCase cases[] = {
        {"1080p in a square client: top and bottom bars", 1000, 1000, 1920, 1080, {0, 219, 1000, 562}},
        {"4:3 in 1000x600: side bars from column 100", 1000, 600, 640, 480, {100, 0, 800, 600}},
        {"7 columns short: stretched to the full width", 1000, 600, 993, 600, {0, 0, 1000, 600}},
        {"8 columns short: side bars, left rounded down to 4", 1000, 600, 992, 600, {4, 0, 992, 600}},
        {"side bars: left rounded down, drawn width up to 4", 1000, 600, 1003, 1000, {196, 0, 604, 600}},
        {"1 row short: stretched to the full height", 1000, 600, 1000, 599, {0, 0, 1000, 600}},
        {"2 rows short: a one-row band above", 1000, 600, 1000, 598, {0, 1, 1000, 598}},
        {"odd client width filled", 999, 1000, 1920, 1080, {0, 219, 999, 561}},
        {"no aspect known: treated as square", 300, 100, 0, 0, {100, 0, 100, 100}},
    };
    for (const FitCase& c : cases) {
        PictureFit got = fit_picture(c.W, c.H, c.dw, c.dh);
        EXPECT_EQ(got.left, c.want.left) << c.what;
        EXPECT_EQ(got.top, c.want.top) << c.what;
        EXPECT_EQ(got.width, c.want.width) << c.what;
        EXPECT_EQ(got.height, c.want.height) << c.what;
    }
}

using Present = RenderFixture;

const uint32_t RED = bgrx(0x20, 0x30, 0xE0, 0xFF);
const uint32_t PURPLE = bgrx(0x22, 0x11, 0x22, 0x11);

TEST_F(Present, letterboxed_video_has_bars_in_the_border_colour_and_the_picture_between)
{
    struct Case {
        int32_t W, H;
        uint32_t dw, dh;
        int32_t focus, hidden;
        uint32_t border;
    } cases[] = {
        {1000, 1000, 1920, 1080, -1, 0, PURPLE}, // active window, pointer shown
        {1000, 1000, 1920, 1080, 0, 0, 0},       // inactive: black
        {1000, 1000, 1920, 1080, -1, 1, 0},      // pointer hidden: black
        {1000, 600, 640, 480, -1, 0, PURPLE},
    };
    set_display_options(0, 0, 0);
    for (const Case& c : cases) {
        ctx->display_width = c.dw;
        ctx->display_height = c.dh;
        ctx->focus_state = c.focus;
        set_cursor_hidden(c.hidden);
        render_set_client_size(ctx, c.W, c.H);
        AVFrame* f = solid_bgra_frame(int(c.dw), int(c.dh), RED);
        present_picture(ctx, f, 0);
        PictureFit fit = fit_picture(c.W, c.H, c.dw, c.dh);
        for (int32_t y : {0, fit.top - 1, fit.top, fit.top + fit.height - 1, fit.top + fit.height, c.H - 1}) {
            for (int32_t x : {0, fit.left - 1, fit.left, fit.left + fit.width - 1, fit.left + fit.width, c.W - 1}) {
                if (x < 0 || y < 0 || x >= c.W || y >= c.H)
                    continue;
                bool inside = x >= fit.left && x < fit.left + fit.width && y >= fit.top && y < fit.top + fit.height;
                if (inside)
                    EXPECT_TRUE(near_colour(pixel(x, y), RED)) << x << "," << y << " " << std::hex << pixel(x, y);
                else
                    EXPECT_EQ(pixel(x, y), c.border) << x << "," << y;
            }
        }
        av_frame_free(&f);
    }
}

TEST_F(Present, bars_of_the_square_client_cover_rows_0_to_218_and_781_to_999)
{
    set_display_options(0, 0, 0);
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    ctx->focus_state = -1;
    render_set_client_size(ctx, 1000, 1000);
    AVFrame* f = solid_bgra_frame(192, 108, RED);
    present_picture(ctx, f, 0);
    EXPECT_EQ(pixel(500, 218), PURPLE);
    EXPECT_TRUE(near_colour(pixel(500, 219), RED));
    EXPECT_TRUE(near_colour(pixel(500, 780), RED));
    EXPECT_EQ(pixel(500, 781), PURPLE);
    av_frame_free(&f);
}

TEST_F(Present, a_premultiplied_still_is_copied_unchanged_at_its_own_size)
{
    // The decoder hands RGBA pictures over as premultiplied BGRA: a fully
    // transparent pixel is black, a half-covered one carries half its colour.
    set_display_options(0, 0, 0);
    ctx->display_width = 64;
    ctx->display_height = 32;
    render_set_client_size(ctx, 64, 32);
    AVFrame* f = solid_bgra_frame(64, 32, bgrx(0, 0, 0, 0));
    const uint32_t half = bgrx(0x40, 0x10, 0x7F, 0x80);
    for (int y = 0; y < 32; y++)
        for (int x = 32; x < 64; x++)
            memcpy(f->data[0] + y * f->linesize[0] + x * 4, &half, 4);
    present_picture(ctx, f, 0);
    for (int y : {0, 16, 31}) {
        EXPECT_EQ(pixel(0, y) & 0xFFFFFF, 0u);
        EXPECT_EQ(pixel(31, y) & 0xFFFFFF, 0u);
        EXPECT_EQ(pixel(32, y) & 0xFFFFFF, half & 0xFFFFFF);
        EXPECT_EQ(pixel(63, y) & 0xFFFFFF, half & 0xFFFFFF);
    }
    av_frame_free(&f);
}

TEST_F(Present, the_buffer_only_grows_in_steps_and_a_smaller_window_uses_its_top_left_part)
{
    render_set_client_size(ctx, 803, 600);
    present_picture(ctx, nullptr, 0);
    const uint8_t* bits = ctx->display.buffer_bits;
    EXPECT_EQ(ctx->display.buffer_width, 896);
    EXPECT_EQ(ctx->display.buffer_height, 640);
    EXPECT_EQ(ctx->display.buffer_pitch % 16, 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(bits) % 16, 0u);
    render_set_client_size(ctx, 400, 300);
    present_picture(ctx, nullptr, 0);
    EXPECT_EQ(ctx->display.buffer_bits, bits);
    EXPECT_EQ(ctx->display.buffer_width, 896);
    EXPECT_EQ(ctx->display.client_width, 400);
    // A window pulled a little larger, as a resize drag does picture by
    // picture, keeps its buffer.
    render_set_client_size(ctx, 895, 639);
    present_picture(ctx, nullptr, 0);
    EXPECT_EQ(ctx->display.buffer_bits, bits);
    render_set_client_size(ctx, 900, 300);
    present_picture(ctx, nullptr, 0);
    EXPECT_EQ(ctx->display.buffer_width, 1024);
    EXPECT_EQ(ctx->display.buffer_height, 640);
}

TEST_F(Present, an_odd_width_client_scales_to_the_even_width_inside_the_spare_column)
{
    set_display_options(0, 0, 0);
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    render_set_client_size(ctx, 999, 1000);
    AVFrame* f = solid_bgra_frame(320, 180, RED);
    present_picture(ctx, f, 0);
    EXPECT_EQ(ctx->display.buffer_width, 1024);
    EXPECT_TRUE(near_colour(pixel(998, 500), RED));
    EXPECT_TRUE(near_colour(pixel(999, 500), RED)); // the spare column, not shown
    av_frame_free(&f);
}

struct BlitRecord {
    int calls = 0;
    int pitch = 0, width = 0, height = 0;
    uint32_t first = 0;
};

void record_blit(void* user, const uint8_t* bgrx, int pitch, int width, int height)
{
    BlitRecord* r = static_cast<BlitRecord*>(user);
    r->calls++;
    r->pitch = pitch;
    r->width = width;
    r->height = height;
    memcpy(&r->first, bgrx, 4);
}

TEST_F(Present, the_client_area_goes_to_the_blit_hook_after_the_due_time)
{
    BlitRecord record;
    render_set_blit_hook(record_blit, &record);
    render_set_client_size(ctx, 321, 200);
    ctx->due_wall_ms = int32_t(now_ms() + 40);
    uint32_t start = now_ms();
    present_picture(ctx, nullptr, 0);
    EXPECT_GE(int32_t(now_ms() - start), 35);
    EXPECT_EQ(record.calls, 1);
    EXPECT_EQ(record.width, 321);
    EXPECT_EQ(record.height, 200);
    EXPECT_EQ(record.pitch, 384 * 4); // the buffer grows in steps of 128 pixels
}

struct ClipboardRecord {
    int calls = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    int result = 1;
};

int record_clipboard(void* user, int format, const void* data)
{
    ClipboardRecord* r = static_cast<ClipboardRecord*>(user);
    r->calls++;
    if (format != CLIPBOARD_BITMAP)
        return 0;
    const ClipboardBitmap* b = static_cast<const ClipboardBitmap*>(data);
    r->width = b->width;
    r->height = b->height;
    r->pixels.assign(b->bgrx, b->bgrx + size_t(b->pitch) * size_t(b->height));
    return r->result;
}

std::string notice_of(PlayerContext* ctx)
{
    char text[2048];
    notice_copy(ctx, text, sizeof text);
    return text;
}

TEST_F(Present, copy_requests_report_their_outcome_as_a_notice)
{
    struct Case {
        const char* what;
        int32_t request;
        bool frame;
        bool hook;
        int hook_result;
        const char* notice;
        int width;
    } cases[] = {
        {"copy with subtitles of an anamorphic frame", 3, true, true, 1, " 当前图像(字幕)已复制到剪贴板! ", 1920},
        {"plain copy", 2, true, true, 1, " 当前图像已复制到剪贴板! ", 1920},
        {"nothing open", 2, false, true, 1, " 没有图片! ", 0},
        {"no clipboard connected", 2, true, false, 1, " 复制图像错误! ", 0},
        {"the clipboard refuses", 3, true, true, 0, " 复制图像错误! ", 1920},
    };
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    render_set_client_size(ctx, 480, 270);
    for (const Case& c : cases) {
        ClipboardRecord record;
        record.result = c.hook_result;
        render_set_clipboard_hook(c.hook ? record_clipboard : nullptr, &record);
        AVFrame* f = c.frame ? solid_bgra_frame(1440, 1080, RED) : nullptr;
        ctx->copy_request = c.request;
        present_picture(ctx, f, 0);
        EXPECT_EQ(notice_of(ctx), c.notice) << c.what;
        EXPECT_EQ(record.width, c.width) << c.what;
        if (c.width) {
            EXPECT_EQ(record.height, 1080) << c.what;
            uint32_t centre;
            memcpy(&centre, record.pixels.data() + (540 * 1920 + 960) * 4, 4);
            EXPECT_TRUE(near_colour(centre, RED)) << c.what;
        }
        // The request is consumed; a redraw may follow from the notice.
        EXPECT_NE(ctx->copy_request.load(), c.request) << c.what;
        av_frame_free(&f);
    }
}

TEST_F(Present, a_copy_while_the_window_is_hidden_draws_nothing)
{
    BlitRecord record;
    render_set_blit_hook(record_blit, &record);
    render_set_client_size(ctx, 100, 100);
    ctx->window_visible = 0;
    ctx->copy_request = 2;
    present_picture(ctx, nullptr, 0);
    EXPECT_EQ(notice_of(ctx), " 没有图片! ");
    EXPECT_EQ(record.calls, 0);
    EXPECT_EQ(ctx->display.buffer_bits, nullptr);
}

TEST_F(Present, copy_to_a_file_writes_the_bitmap_as_png)
{
    std::string path = testing::TempDir() + "copy_" + std::to_string(getpid()) + ".png";
    render_set_copy_target(path.c_str());
    ctx->display_width = 4;
    ctx->display_height = 3;
    AVFrame* f = solid_bgra_frame(40, 30, RED);
    render_set_client_size(ctx, 100, 100);
    ctx->copy_request = 2;
    present_picture(ctx, f, 0);
    EXPECT_EQ(notice_of(ctx), " 当前图像已复制到剪贴板! ");
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 40);
    EXPECT_EQ(cairo_image_surface_get_height(png), 30);
    cairo_surface_destroy(png);
    unlink(path.c_str());
    av_frame_free(&f);
}

TEST_F(Present, snapshots_are_written_once_at_the_first_picture_at_or_after_their_time)
{
    std::string early = testing::TempDir() + "snap0_" + std::to_string(getpid()) + ".png";
    std::string later = testing::TempDir() + "snap1500_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(render_add_snapshot(ctx, 0, early.c_str()));
    ASSERT_TRUE(render_add_snapshot(ctx, 1500, later.c_str()));
    render_set_client_size(ctx, 160, 90);
    present_picture(ctx, nullptr, 0); // nothing open: no item picture yet
    EXPECT_NE(access(early.c_str(), F_OK), 0);
    AVFrame* f = solid_bgra_frame(16, 9, RED);
    present_picture(ctx, f, 1000);
    EXPECT_EQ(access(early.c_str(), F_OK), 0);
    EXPECT_NE(access(later.c_str(), F_OK), 0);
    present_picture(ctx, f, 1600);
    EXPECT_EQ(access(later.c_str(), F_OK), 0);
    cairo_surface_t* png = cairo_image_surface_create_from_png(later.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 160);
    EXPECT_EQ(cairo_image_surface_get_height(png), 90);
    cairo_surface_destroy(png);
    unlink(later.c_str());
    present_picture(ctx, f, 1700); // written once: not again
    EXPECT_NE(access(later.c_str(), F_OK), 0);
    unlink(early.c_str());
    av_frame_free(&f);
}

// Rows holding subtitle pixels (bright, on a dark picture and black bars).
std::pair<int32_t, int32_t> bright_rows(RenderFixture* t, int32_t W, int32_t H)
{
    int32_t first = -1, last = -1;
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W; x++)
            if ((t->pixel(x, y) & 0xFF) > 0xC0) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    return {first, last};
}

TEST_F(Present, subtitles_are_drawn_inside_the_picture_or_with_the_option_in_the_bars)
{
    SubtitleTrack subs = add_subtitles(ctx);
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    render_set_client_size(ctx, 400, 400);
    AVFrame* f = solid_bgra_frame(192, 108, bgrx(0x30, 0x30, 0x30, 0));
    const PictureFit fit = fit_picture(400, 400, 1920, 1080);
    for (int outside : {0, 1}) {
        set_display_options(outside, 0, 0);
        // A seek leaves the renderer at a 1 x 1 frame; the next picture
        // gives it its size again.
        reset_subtitles_for_seek(&ctx->subtitles);
        present_picture(ctx, f, 1000);
        auto [first, last] = bright_rows(this, 400, 400);
        ASSERT_GE(first, 0) << "no subtitle drawn, outside " << outside;
        if (outside) {
            EXPECT_GE(last, fit.top + fit.height) << "the bottom line sits in the lower bar";
        } else {
            EXPECT_GE(first, fit.top);
            EXPECT_LT(last, fit.top + fit.height);
        }
    }
    remove_subtitles(ctx, subs);
    av_frame_free(&f);
}

TEST_F(Present, bad_frames_and_extreme_clients_are_skipped_or_drawn_within_the_buffer)
{
    struct Case {
        const char* what;
        int32_t W, H;
        int fw, fh, format;
    } cases[] = {
        {"1x1 client", 1, 1, 64, 48, AV_PIX_FMT_BGRA},
        {"7x3 client", 7, 3, 64, 48, AV_PIX_FMT_BGRA},
        {"frame of height 0", 300, 200, 64, 0, AV_PIX_FMT_BGRA},
        {"format the scaler rejects", 300, 200, 64, 48, AV_PIX_FMT_NONE},
        {"hardware format without a device", 300, 200, 64, 48, AV_PIX_FMT_VAAPI},
        {"huge client", 8000, 8000, 64, 48, AV_PIX_FMT_BGRA},
    };
    // Every overlay at once: notice, hover on the caption buttons, chapters,
    // progress with clock and seek markers.
    show_notice(ctx, " 一条相当长的通知文字用来测试换行 ");
    ctx->duration_ms = 60000;
    ctx->clock_ms = 50000;
    ctx->seek_target_ms = 3000;
    static Chapter chapters[2] = {};
    chapters[0].start_ms = 0;
    chapters[0].end_ms = 30000;
    chapters[1].start_ms = 60000;
    chapters[1].end_ms = 60000;
    ctx->chapters = chapters;
    ctx->chapter_count = 2;
    ctx->display_width = 64;
    ctx->display_height = 48;
    set_display_options(1, 1, 1);
    for (const Case& c : cases) {
        for (int32_t region : {3, 6, 4, 1}) {
            ctx->hover_region = region;
            render_set_client_size(ctx, c.W, c.H);
            AVFrame* f = av_frame_alloc();
            f->width = c.fw;
            f->height = c.fh;
            f->format = c.format;
            if (c.format == AV_PIX_FMT_BGRA && c.fh > 0) {
                ASSERT_GE(av_frame_get_buffer(f, 0), 0);
            }
            present_picture(ctx, f, 2000);
            av_frame_free(&f);
            present_picture(ctx, nullptr, 0);
        }
        EXPECT_EQ(ctx->display.client_width, c.W) << c.what;
    }
    ctx->chapters = nullptr;
    ctx->chapter_count = 0;
}

TEST_F(Present, present_frame_takes_the_time_from_the_frame_entry)
{
    std::string path = testing::TempDir() + "entry_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(render_add_snapshot(ctx, 5000, path.c_str()));
    render_set_client_size(ctx, 64, 36);
    FrameEntry& e = ctx->slots[SLOT_VIDEO].frames[3];
    AVFrame* f = solid_bgra_frame(64, 36, RED);
    ASSERT_GE(av_frame_ref(e.frame, f), 0);
    e.time_ms = 4000;
    present_frame(ctx, e.frame);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    e.time_ms = 5000;
    present_frame(ctx, e.frame);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    unlink(path.c_str());
    av_frame_unref(e.frame);
    av_frame_free(&f);
}

} // namespace

// Fontconfig keeps the patterns Pango resolves for the life of the process;
// they are not this program's leaks. Pango loads the font configuration on a
// worker thread of its own, and fontconfig's reference counts are atomics the
// race detector cannot see in the uninstrumented library.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libfontconfig.so\n";
}

namespace {

TEST_F(Present, pictures_drawn_while_the_window_resizes_hovers_and_posts_notices_stay_in_the_buffer)
{
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    ctx->duration_ms = 60000;
    render_set_client_size(ctx, 640, 360);
    AVFrame* f = solid_bgra_frame(192, 108, RED);
    std::atomic<bool> stop{false};
    std::thread window([&] {
        for (int i = 0; !stop.load(); i++) {
            render_set_client_size(ctx, 200 + (i * 37) % 900, 100 + (i * 53) % 700);
            ctx->hover_region = i % 8;
            ctx->hover_position_ms = (i * 997) % 60000;
            ctx->focus_state = i % 3 - 1;
            main_window_of(ctx)->cursor_hidden = i % 2;
            if (i % 50 == 0)
                show_notice(ctx, " 音量: %d ", i % 300);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 150; i++)
        present_picture(ctx, i % 3 ? f : nullptr, i * 40);
    stop = true;
    window.join();
    EXPECT_LE(ctx->display.client_width, ctx->display.buffer_width);
    EXPECT_LE(ctx->display.client_height, ctx->display.buffer_height);
    av_frame_free(&f);
}

} // namespace

namespace {

TEST_F(Present, without_an_item_the_idle_text_box_is_centred_with_its_top_at_mid_height)
{
    struct Case {
        int32_t open_request;
        const char* text;
    } cases[] = {{0, "Moravista 16.11.18.1022 64位 / 请拖动文件进来播放"}, {1, "Moravista 16.11.18.1022 64位 / 加载中..."}};
    for (const Case& c : cases) {
        ctx->open_request = c.open_request;
        ctx->focus_state = -1;
        render_set_client_size(ctx, 800, 600);
        present_picture(ctx, nullptr, 0);
        int32_t tw, th;
        osd_measure(ctx, c.text, int32_t(strlen(c.text)), &tw, &th);
        const int32_t left = 400 - (tw + 32) / 2;
        // The box's first row and column are the border colour halved and
        // pulled down; the pixel above and left of it is plain border.
        const uint32_t boxed = bgrx((0x22 + 1) >> 1, 0, (0x22 + 1) >> 1, 0); // green: 9 - 0x33 saturates
        EXPECT_EQ(pixel(left, 300) & 0xFFFFFF, boxed & 0xFFFFFF) << c.text;
        EXPECT_EQ(pixel(left + tw + 31, 300 + th + 23) & 0xFFFFFF, boxed & 0xFFFFFF) << c.text;
        EXPECT_EQ(pixel(left - 1, 300), PURPLE) << c.text;
        EXPECT_EQ(pixel(left, 299), PURPLE) << c.text;
        EXPECT_EQ(pixel(left + tw + 32, 300), PURPLE) << c.text;
        EXPECT_EQ(pixel(left, 300 + th + 24), PURPLE) << c.text;
    }
}

TEST_F(Present, a_sound_only_item_shows_its_line_on_a_darkened_band_and_its_position_on_the_bar)
{
    ctx->focus_state = -1;
    ctx->playing = 1;
    ctx->duration_ms = 80000;
    ctx->audio_only_position_ms = 40000;
    ctx->clock_ms = 40000;
    render_set_client_size(ctx, 808, 300);
    AVFrame* audio = av_frame_alloc(); // sound frames have width 0
    audio->nb_samples = 1024;
    present_picture(ctx, audio, 0);
    // Purple border minus (0x66, 0xAA, 0x66, 0xAA) saturates to black.
    EXPECT_EQ(pixel(800, 10), 0u);
    EXPECT_EQ(pixel(800, 20), PURPLE);
    EXPECT_EQ(pixel(400, 299), bgrx(0x00, 0xFF, 0x00, 0xFF)) << "position marker at 40000 of 80000";
    EXPECT_EQ(pixel(399, 299), PURPLE);
    av_frame_free(&audio);
}

} // namespace

namespace {

// The first picture of a clip, decoded with FFmpeg.
AVFrame* decode_first_picture(const std::string& path, AVRational* sample_aspect)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return nullptr;
    AVFrame* frame = nullptr;
    avformat_find_stream_info(format, nullptr);
    int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        AVStream* stream = format->streams[index];
        *sample_aspect = stream->sample_aspect_ratio;
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        AVCodecContext* dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, stream->codecpar);
        AVPacket* packet = av_packet_alloc();
        AVFrame* decoded = av_frame_alloc();
        if (avcodec_open2(dec, codec, nullptr) >= 0) {
            while (av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == index)
                    avcodec_send_packet(dec, packet);
                av_packet_unref(packet);
                if (avcodec_receive_frame(dec, decoded) == 0) {
                    frame = decoded;
                    decoded = nullptr;
                    break;
                }
            }
        }
        av_frame_free(&decoded);
        av_packet_free(&packet);
        avcodec_free_context(&dec);
    }
    avformat_close_input(&format);
    return frame;
}

TEST_F(Present, a_decoded_anamorphic_picture_is_shown_and_copied_at_its_display_aspect)
{
    AVRational sar{0, 1};
    AVFrame* f = decode_first_picture(fixture_path("render_anamorphic.mp4"), &sar);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->format, AV_PIX_FMT_YUV420P);
    ctx->display_width = uint32_t(f->width * sar.num);
    ctx->display_height = uint32_t(f->height * sar.den);
    ctx->focus_state = -1;
    set_display_options(0, 0, 0);
    render_set_client_size(ctx, 1000, 1000);
    ClipboardRecord record;
    render_set_clipboard_hook(record_clipboard, &record);
    ctx->copy_request = 2;
    present_picture(ctx, f, 0);
    // 16:9 in a square client: rows 219 to 780; red left half, white right.
    EXPECT_EQ(pixel(500, 218), PURPLE);
    EXPECT_EQ(pixel(500, 781), PURPLE);
    EXPECT_TRUE(near_colour(pixel(250, 500), bgrx(0, 0, 0xFF, 0), 24)) << std::hex << pixel(250, 500);
    EXPECT_TRUE(near_colour(pixel(750, 500), bgrx(0xFF, 0xFF, 0xFF, 0), 24)) << std::hex << pixel(750, 500);
    // The copy keeps the 576 rows and takes the display aspect: 1024 wide.
    EXPECT_EQ(record.width, 1024);
    EXPECT_EQ(record.height, 576);
    av_frame_free(&f);
}

} // namespace

namespace {

TEST_F(Present, a_planar_picture_of_an_odd_width_is_copied_at_its_own_size)
{
    for (int w : {102, 7, 1}) {
        AVFrame* f = av_frame_alloc();
        f->width = w;
        f->height = 6;
        f->format = AV_PIX_FMT_YUV420P;
        ASSERT_GE(av_frame_get_buffer(f, 0), 0);
        for (int p = 0; p < 3; p++)
            memset(f->data[p], 128, size_t(f->linesize[p]) * size_t(p ? 3 : 6));
        ctx->display_width = uint32_t(w);
        ctx->display_height = 6;
        render_set_client_size(ctx, 64, 64);
        ClipboardRecord record;
        render_set_clipboard_hook(record_clipboard, &record);
        ctx->copy_request = 2;
        present_picture(ctx, f, 0);
        EXPECT_EQ(record.width, w);
        EXPECT_EQ(record.height, 6);
        EXPECT_EQ(notice_of(ctx), " 当前图像已复制到剪贴板! ");
        av_frame_free(&f);
    }
}

} // namespace

namespace {

// A planar picture: red on the left half, blue on the right, limited range.
AVFrame* red_blue_yuv_frame(int width, int height, int matrix)
{
    AVFrame* f = av_frame_alloc();
    f->width = width;
    f->height = height;
    f->format = AV_PIX_FMT_YUV420P;
    f->colorspace = AVColorSpace(matrix);
    f->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(f, 0) < 0)
        return nullptr;
    // BT.601 and BT.709 codes of pure red and pure blue.
    const bool bt709 = matrix == AVCOL_SPC_BT709;
    const uint8_t red[3] = {uint8_t(bt709 ? 63 : 81), uint8_t(bt709 ? 102 : 90), 240};
    const uint8_t blue[3] = {uint8_t(bt709 ? 32 : 41), 240, uint8_t(bt709 ? 118 : 110)};
    for (int p = 0; p < 3; p++) {
        const int w = p ? width / 2 : width, h = p ? height / 2 : height;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                f->data[p][y * f->linesize[p] + x] = x < w / 2 ? red[p] : blue[p];
    }
    return f;
}

TEST_F(Present, a_planar_picture_keeps_its_colours_and_halves_shrunk_grown_or_at_its_size)
{
    const uint32_t pure_red = bgrx(0, 0, 0xFF, 0), pure_blue = bgrx(0xFF, 0, 0, 0);
    struct Case {
        int32_t W, H, matrix;
    } cases[] = {{64, 36, AVCOL_SPC_BT709}, {100, 56, AVCOL_SPC_BT470BG}, {256, 144, AVCOL_SPC_BT709},
                 {640, 360, AVCOL_SPC_BT470BG}, {1280, 720, AVCOL_SPC_BT709}};
    for (int round = 0; round < 2; round++) // the scalers are made once and then reused
        for (const Case& c : cases) {
            AVFrame* f = red_blue_yuv_frame(640, 360, c.matrix);
            ASSERT_NE(f, nullptr);
            ctx->display_width = 640;
            ctx->display_height = 360;
            render_set_client_size(ctx, c.W, c.H);
            present_picture(ctx, f, 0);
            const int32_t mid = c.H / 2;
            EXPECT_TRUE(near_colour(pixel(c.W / 4, mid), pure_red, 24)) << c.W << std::hex << " " << pixel(c.W / 4, mid);
            EXPECT_TRUE(near_colour(pixel(c.W / 2 - 3, mid), pure_red, 24)) << c.W;
            EXPECT_TRUE(near_colour(pixel(c.W / 2 + 2, mid), pure_blue, 24)) << c.W;
            EXPECT_TRUE(near_colour(pixel(c.W - 1, c.H - 1), pure_blue, 24)) << c.W;
            av_frame_free(&f);
        }
}

} // namespace
