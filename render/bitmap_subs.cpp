// Bitmap subtitles (DVD, Blu-ray, DVB): the queue the decoder fills is
// pruned at every picture, and each rectangle shown is scaled from the
// subtitle canvas onto the picture. The CPU path blends them into the frame
// buffer here; the GL path draws them as textured quads.
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/core.h"
#include "render/render_internal.h"
#include "subtitle/subtitle.h"

void visit_bitmap_subtitles(PlayerContext* ctx, int32_t time_ms, const OsdRect& picture, BitmapVisitor visit,
                            void* user)
{
    SubtitleState* subs = &ctx->subtitles;
    const int64_t cw = subs->canvas_width.load(std::memory_order_relaxed);
    const int64_t ch = subs->canvas_height.load(std::memory_order_relaxed);
    const int64_t pw = picture.right - picture.left, ph = picture.bottom - picture.top;
    // The queue's times are on the stream's own time line, the frame's
    // relative to the item's start offset.
    const int64_t now = int64_t(time_ms) + ctx->start_offset_ms.load(std::memory_order_relaxed);
    SpinGuard guard(&subs->subtitle_lock);
    for (BitmapSubtitle* node = subs->bitmap_subs_head; node;) {
        BitmapSubtitle* next = node->next;
        const AVSubtitle& sub = node->subtitle;
        if (int64_t(sub.start_display_time) > now) {
            node = next;
            continue;
        }
        if (sub.end_display_time != UINT32_MAX && int64_t(sub.end_display_time) < now) {
            (node->prev ? node->prev->next : subs->bitmap_subs_head) = next;
            (next ? next->prev : subs->bitmap_subs_tail) = node->prev;
            avsubtitle_free(&node->subtitle);
            free(node);
            node = next;
            continue;
        }
        for (unsigned r = 0; r < sub.num_rects; r++) {
            const AVSubtitleRect* rect = sub.rects[r];
            if (rect->type != SUBTITLE_BITMAP || !rect->data[0] || !rect->data[1] || rect->w <= 0 ||
                rect->h <= 0 || rect->w > cw || rect->h > ch)
                continue;
            OsdRect screen;
            screen.left = int32_t(picture.left + pw * rect->x / cw);
            screen.top = int32_t(picture.top + ph * rect->y / ch);
            screen.right = int32_t(screen.left + pw * rect->w / cw);
            screen.bottom = int32_t(screen.top + ph * rect->h / ch);
            if (screen.right > screen.left && screen.bottom > screen.top)
                visit(user, rect, screen);
        }
        node = next;
    }
}

void bitmap_to_bgrt(const AVSubtitleRect* rect, uint8_t* out, int64_t pitch, int32_t out_w, int32_t out_h)
{
    // The palette's fourth byte is already a transparency; the colours are
    // premultiplied by the opacity once per picture.
    uint8_t palette[256][4] = {};
    const int32_t colours = rect->nb_colors < 256 ? rect->nb_colors : 256;
    for (int32_t c = 0; c < colours; c++) {
        const uint8_t* p = rect->data[1] + 4 * c;
        const uint32_t opacity = 255u - p[3];
        for (int i = 0; i < 3; i++)
            palette[c][i] = uint8_t((p[i] * opacity + 127) / 255);
        palette[c][3] = p[3];
    }
    for (int32_t c = colours; c < 256; c++)
        palette[c][3] = 255; // indices past the palette are not drawn
    for (int32_t y = 0; y < out_h; y++) {
        const uint8_t* src = rect->data[0] + int64_t(y) * rect->h / out_h * rect->linesize[0];
        uint8_t* dst = out + int64_t(y) * pitch;
        for (int32_t x = 0; x < out_w; x++)
            memcpy(dst + 4 * x, palette[src[int64_t(x) * rect->w / out_w]], 4);
    }
}

void blend_transparency(uint8_t* dst, int64_t dst_pitch, const uint8_t* src, int64_t src_pitch, int32_t w, int32_t h)
{
    for (int32_t y = 0; y < h; y++) {
        uint8_t* d = dst + int64_t(y) * dst_pitch;
        const uint8_t* s = src + int64_t(y) * src_pitch;
        for (int32_t x = 0; x < w; x++, d += 4, s += 4) {
            const uint32_t t = s[3];
            if (t == 255)
                continue;
            for (int i = 0; i < 3; i++) {
                const uint32_t v = s[i] + (d[i] * t + 127) / 255;
                d[i] = uint8_t(v > 255 ? 255 : v);
            }
        }
    }
}

void scale_bgrt_bilinear(const uint8_t* src, int32_t sw, int32_t sh, int64_t src_pitch, uint8_t* dst, int32_t dw,
                         int32_t dh, int64_t dst_pitch)
{
    // Source positions of the destination pixels' centres in 1/256 pixel,
    // clamped at the edges as a texture sampler clamps.
    auto position = [](int32_t i, int32_t from, int32_t to, int32_t* index, uint32_t* weight) {
        int64_t p = ((2 * int64_t(i) + 1) * from * 256) / (2 * int64_t(to)) - 128;
        if (p < 0)
            p = 0;
        if (p > int64_t(from - 1) * 256)
            p = int64_t(from - 1) * 256;
        *index = int32_t(p >> 8);
        *weight = uint32_t(p & 255);
    };
    for (int32_t y = 0; y < dh; y++) {
        int32_t y0;
        uint32_t wy;
        position(y, sh, dh, &y0, &wy);
        const uint8_t* row0 = src + int64_t(y0) * src_pitch;
        const uint8_t* row1 = y0 + 1 < sh ? row0 + src_pitch : row0;
        uint8_t* out = dst + int64_t(y) * dst_pitch;
        for (int32_t x = 0; x < dw; x++) {
            int32_t x0;
            uint32_t wx;
            position(x, sw, dw, &x0, &wx);
            const int32_t x1 = x0 + 1 < sw ? x0 + 1 : x0;
            for (int i = 0; i < 4; i++) {
                const uint32_t top = row0[4 * x0 + i] * (256 - wx) + row0[4 * x1 + i] * wx;
                const uint32_t bottom = row1[4 * x0 + i] * (256 - wx) + row1[4 * x1 + i] * wx;
                out[4 * x + i] = uint8_t((top * (256 - wy) + bottom * wy + 32768) >> 16);
            }
        }
    }
}

namespace {

struct CpuTarget {
    PlayerContext* ctx;
    uint8_t* scratch;
    size_t scratch_bytes;
};

bool reserve(CpuTarget* t, size_t bytes)
{
    if (bytes <= t->scratch_bytes)
        return true;
    auto* grown = static_cast<uint8_t*>(realloc(t->scratch, bytes));
    if (!grown)
        return false;
    t->scratch = grown;
    t->scratch_bytes = bytes;
    return true;
}

// The GL path's way, on the CPU: the palette picture shrunk (never
// enlarged) by nearest samples, then stretched bilinearly onto the screen.
void blend_rect(void* user, const AVSubtitleRect* rect, const OsdRect& screen)
{
    auto* t = static_cast<CpuTarget*>(user);
    FrameDisplay* d = &t->ctx->display;
    const int32_t w = screen.right - screen.left, h = screen.bottom - screen.top;
    const int32_t tw = w < rect->w ? w : rect->w, th = h < rect->h ? h : rect->h;
    const size_t small_bytes = size_t(tw) * size_t(th) * 4;
    if (!reserve(t, small_bytes + size_t(w) * size_t(h) * 4))
        return;
    uint8_t* small = t->scratch;
    uint8_t* large = t->scratch + small_bytes;
    bitmap_to_bgrt(rect, small, int64_t(tw) * 4, tw, th);
    scale_bgrt_bilinear(small, tw, th, int64_t(tw) * 4, large, w, h, int64_t(w) * 4);
    // Cut to the client area.
    const int32_t x0 = screen.left < 0 ? 0 : screen.left, y0 = screen.top < 0 ? 0 : screen.top;
    const int32_t x1 = screen.right > d->client_width ? d->client_width : screen.right;
    const int32_t y1 = screen.bottom > d->client_height ? d->client_height : screen.bottom;
    if (x0 >= x1 || y0 >= y1)
        return;
    blend_transparency(d->buffer_bits + int64_t(y0) * d->buffer_pitch + int64_t(x0) * 4, d->buffer_pitch,
                       large + (int64_t(y0 - screen.top) * w + (x0 - screen.left)) * 4, int64_t(w) * 4, x1 - x0,
                       y1 - y0);
}

} // namespace

void draw_bitmap_subtitles(PlayerContext* ctx, int32_t time_ms, const OsdRect& picture)
{
    CpuTarget target{ctx, nullptr, 0};
    visit_bitmap_subtitles(ctx, time_ms, picture, blend_rect, &target);
    free(target.scratch);
}
