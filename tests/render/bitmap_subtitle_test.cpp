// Bitmap subtitles on the picture: which queued subtitles show at a time and
// which are dropped, where a rectangle lands when its canvas is scaled onto
// the picture, and the blend of its premultiplied colours.
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "render_support.h"
#include "subtitle/subtitle.h"

namespace {

// Queues a one-rectangle subtitle of w x h at (x, y), palette index 1
// everywhere, shown from start to end (absolute ms; UINT32_MAX: open).
void queue(PlayerContext* ctx, int x, int y, int w, int h, uint32_t start, uint32_t end, uint32_t argb = 0xFFFFFFFF)
{
    AVSubtitle sub{};
    sub.num_rects = 1;
    sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    AVSubtitleRect* r = sub.rects[0] = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    r->type = SUBTITLE_BITMAP;
    r->x = x;
    r->y = y;
    r->w = w;
    r->h = h;
    r->nb_colors = 2;
    r->linesize[0] = w > 0 ? w : 1;
    r->data[0] = static_cast<uint8_t*>(av_malloc(size_t(r->linesize[0]) * size_t(h > 0 ? h : 1)));
    memset(r->data[0], 1, size_t(r->linesize[0]) * size_t(h > 0 ? h : 1));
    r->data[1] = static_cast<uint8_t*>(av_mallocz(1024));
    memcpy(r->data[1] + 4, &argb, 4);
    sub.end_display_time = end == UINT32_MAX ? UINT32_MAX : end - start;
    SpinGuard guard(&ctx->subtitles.subtitle_lock);
    queue_bitmap_subtitle(&ctx->subtitles, &sub, start);
}

struct Seen {
    std::vector<OsdRect> screens;
};

void remember(void* user, const AVSubtitleRect*, const OsdRect& screen)
{
    static_cast<Seen*>(user)->screens.push_back(screen);
}

int queued(PlayerContext* ctx)
{
    int n = 0;
    for (BitmapSubtitle* node = ctx->subtitles.bitmap_subs_head; node; node = node->next)
        n++;
    return n;
}

using BitmapSubtitles = RenderFixture;

TEST_F(BitmapSubtitles, subtitles_show_within_their_times_and_are_dropped_once_ended)
{
    ctx->subtitles.canvas_width = 720;
    ctx->subtitles.canvas_height = 576;
    queue(ctx, 0, 0, 10, 10, 1000, 2000);           // ends at 2000
    queue(ctx, 0, 0, 20, 20, 3000, UINT32_MAX);     // open until the next one...
    queue(ctx, 0, 0, 30, 30, 5000, UINT32_MAX);     // ...which closes it at 4999
    ASSERT_EQ(queued(ctx), 3);
    const OsdRect picture{0, 0, 720, 576};
    struct Step {
        int32_t time_ms;
        std::vector<int32_t> widths; // of what shows
        int left;                    // queued afterwards
    } steps[] = {
        {500, {}, 3}, {1000, {10}, 3}, {2000, {10}, 3}, {2500, {}, 2}, {4999, {20}, 2}, {6000, {30}, 1},
        {100000, {30}, 1},
    };
    for (const Step& s : steps) {
        Seen seen;
        visit_bitmap_subtitles(ctx, s.time_ms, picture, remember, &seen);
        ASSERT_EQ(seen.screens.size(), s.widths.size()) << "at " << s.time_ms;
        for (size_t i = 0; i < s.widths.size(); i++)
            EXPECT_EQ(seen.screens[i].right - seen.screens[i].left, s.widths[i]) << "at " << s.time_ms;
        EXPECT_EQ(queued(ctx), s.left) << "at " << s.time_ms;
    }
    free_bitmap_subtitles(&ctx->subtitles);
}

TEST_F(BitmapSubtitles, the_canvas_is_scaled_onto_the_picture_and_bad_rectangles_are_passed_over)
{
    struct Case {
        const char* what;
        int32_t canvas_w, canvas_h;
        int x, y, w, h;
        OsdRect picture;
        bool shown;
        OsdRect screen;
    } cases[] = {
        {"a 720x576 canvas on a 1440-wide picture doubles the size", 720, 576, 100, 500, 200, 40,
         {0, 0, 1440, 1152}, true, {200, 1000, 600, 1080}},
        {"the picture's offset is added", 720, 576, 0, 0, 720, 576, {100, 50, 820, 626}, true, {100, 50, 820, 626}},
        {"anamorphic: wider, not taller", 720, 576, 360, 288, 360, 288, {0, 0, 1024, 576}, true,
         {512, 288, 1024, 576}},
        {"a canvas of 0 draws nothing", 0, 0, 0, 0, 10, 10, {0, 0, 720, 576}, false, {}},
        {"a rectangle wider than its canvas", 720, 576, 0, 0, 721, 10, {0, 0, 720, 576}, false, {}},
        {"a rectangle of no height", 720, 576, 0, 0, 10, 0, {0, 0, 720, 576}, false, {}},
        {"a rectangle shrunk to nothing on screen", 720, 576, 0, 0, 1, 1, {0, 0, 100, 80}, false, {}},
    };
    for (const Case& c : cases) {
        ctx->subtitles.canvas_width = c.canvas_w;
        ctx->subtitles.canvas_height = c.canvas_h;
        queue(ctx, c.x, c.y, c.w, c.h, 0, UINT32_MAX);
        Seen seen;
        visit_bitmap_subtitles(ctx, 0, c.picture, remember, &seen);
        ASSERT_EQ(seen.screens.size(), c.shown ? 1u : 0u) << c.what;
        if (c.shown) {
            const OsdRect& s = seen.screens[0];
            EXPECT_EQ(s.left, c.screen.left) << c.what;
            EXPECT_EQ(s.top, c.screen.top) << c.what;
            EXPECT_EQ(s.right, c.screen.right) << c.what;
            EXPECT_EQ(s.bottom, c.screen.bottom) << c.what;
        }
        free_bitmap_subtitles(&ctx->subtitles);
    }
}

TEST_F(BitmapSubtitles, premultiplied_colours_blend_over_the_picture_by_their_transparency)
{
    // A half-transparent white subtitle over a dark grey picture, drawn by
    // the CPU path.
    size_buffer(64, 32);
    fill_all(bgrx(0x40, 0x40, 0x40, 0));
    ctx->subtitles.canvas_width = 64;
    ctx->subtitles.canvas_height = 32;
    queue(ctx, 8, 8, 8, 4, 0, UINT32_MAX, 0x80FFFFFF);
    queue(ctx, 40, 8, 8, 4, 0, UINT32_MAX, 0x00FFFFFF); // fully transparent: nothing
    draw_bitmap_subtitles(ctx, 0, OsdRect{0, 0, 64, 32});
    // 0xFF * 0x80 / 255 + 0x40 * (255 - 0x80) / 255 = 0x80 + 0x20.
    EXPECT_TRUE(near_colour(pixel(10, 9), bgrx(0xA0, 0xA0, 0xA0, 0), 1)) << std::hex << pixel(10, 9);
    EXPECT_EQ(pixel(7, 9), bgrx(0x40, 0x40, 0x40, 0));
    EXPECT_EQ(pixel(44, 9), bgrx(0x40, 0x40, 0x40, 0));
    free_bitmap_subtitles(&ctx->subtitles);
    // The bilinear stretch keeps a flat picture flat and reaches its edges.
    const uint8_t src[4 * 4] = {10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40};
    uint8_t dst[5 * 3 * 4];
    scale_bgrt_bilinear(src, 2, 2, 8, dst, 5, 3, 20);
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(dst[4 * i + 2], 30) << i;
}

} // namespace
