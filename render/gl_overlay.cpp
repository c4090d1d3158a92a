// What the GL path lays over the picture: text subtitles rendered by libass
// into a box whose fourth byte is a transparency, bitmap subtitles scaled
// from their canvas, and the OSD layer with the darkenings under it.
#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/core.h"
#include "render/gl_internal.h"
#include "subtitle/subtitle.h"

namespace {

// Overlays are blended as the fourth byte says: a transparency (the
// subtitle images: src + dst x T) or an opacity (the premultiplied OSD
// layer: src + dst x (1 - A)).
void use_overlay(GlPresenter* gl, GLenum source_factor, GLenum destination_factor)
{
    glUseProgram(gl->overlay.program);
    glUniform2f(gl->overlay.target_size, float(gl->client_width), float(gl->client_height));
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(source_factor, destination_factor);
    glActiveTexture(GL_TEXTURE0);
}

// Textures only grow, so a subtitle of another size reuses them.
void reserve_at_least(GlTexture* t, int32_t w, int32_t h)
{
    gl_texture_reserve(t, std::max(w, t->width), std::max(h, t->height), GL_RGBA8);
}

// Uploads w x h pixels into the subtitle texture and stretches them onto
// the client rectangle (x, y, sw, sh).
void draw_image(GlPresenter* gl, const uint8_t* pixels, int32_t w, int32_t h, float x, float y, float sw, float sh)
{
    GlTexture* t = &gl->subtitle;
    reserve_at_least(t, w, h);
    gl_texture_upload(t, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels, int64_t(w) * 4, 4);
    gl_draw_quad(gl, x, y, sw, sh, 0.0f, 0.0f, float(w) / float(t->width), float(h) / float(t->height));
}

void draw_bitmap_rect(void* user, const AVSubtitleRect* rect, const OsdRect& screen)
{
    auto* gl = static_cast<GlPresenter*>(user);
    const int32_t sw = screen.right - screen.left, sh = screen.bottom - screen.top;
    // Shrunk in the texture when the screen is smaller, never enlarged there:
    // the GPU's stretch enlarges it.
    const int32_t tw = std::min(sw, rect->w), th = std::min(sh, rect->h);
    uint8_t* pixels = gl_scratch(gl, size_t(tw) * size_t(th) * 4);
    if (!pixels)
        return;
    bitmap_to_bgrt(rect, pixels, int64_t(tw) * 4, tw, th);
    draw_image(gl, pixels, tw, th, float(screen.left), float(screen.top), float(sw), float(sh));
}

void set_fill_colour(GlPresenter* gl, uint32_t pattern)
{
    glUniform4f(gl->fill.colour, float((pattern >> 16) & 0xFF) / 255.0f, float((pattern >> 8) & 0xFF) / 255.0f,
                float(pattern & 0xFF) / 255.0f, 1.0f);
}

// The frame-buffer kernels as blending: subtract s; halve and subtract s;
// average with k.
void draw_darkenings(GlPresenter* gl, const OsdLayer* layer)
{
    glUseProgram(gl->fill.program);
    glUniform2f(gl->fill.target_size, float(gl->client_width), float(gl->client_height));
    glEnable(GL_BLEND);
    glBlendColor(0.0f, 0.0f, 0.0f, 0.5f);
    for (int32_t i = 0; i < layer->darken_count; i++) {
        const OsdDarken& k = layer->darkens[i];
        switch (k.kind) {
        case OSD_DARKEN_SUBTRACT:
            glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
            glBlendFunc(GL_ONE, GL_ONE);
            break;
        case OSD_DARKEN_HALVE:
            glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
            glBlendFunc(GL_ONE, GL_CONSTANT_ALPHA);
            break;
        default:
            glBlendEquation(GL_FUNC_ADD);
            glBlendFunc(GL_CONSTANT_ALPHA, GL_CONSTANT_ALPHA);
            break;
        }
        set_fill_colour(gl, k.value);
        gl_draw_quad(gl, float(k.rect.left), float(k.rect.top), float(k.rect.right - k.rect.left),
                     float(k.rect.bottom - k.rect.top), 0.0f, 0.0f, 0.0f, 0.0f);
    }
    glBlendEquation(GL_FUNC_ADD);
}

} // namespace

void gl_draw_text_subtitles(PlayerContext* ctx, GlPresenter* gl, int32_t time_ms, int32_t x, int32_t y, int32_t w,
                            int32_t h)
{
    if (w <= 0 || h <= 0)
        return;
    SubtitleState* subs = &ctx->subtitles;
    int32_t bx, by, bw, bh;
    uint8_t* pixels;
    {
        // The images belong to the renderer: blended before the lock goes.
        SpinGuard guard(&subs->subtitle_lock);
        const ASS_Image* images = subtitles_render(subs, time_ms, w, h, nullptr);
        int32_t left = w, top = h, right = 0, bottom = 0;
        for (const ASS_Image* img = images; img; img = img->next) {
            if (img->w <= 0 || img->h <= 0)
                continue;
            left = std::min(left, std::max(img->dst_x, 0));
            top = std::min(top, std::max(img->dst_y, 0));
            right = std::max(right, std::min(img->dst_x + img->w, w));
            bottom = std::max(bottom, std::min(img->dst_y + img->h, h));
        }
        if (left >= right || top >= bottom)
            return;
        bx = left;
        by = top;
        bw = right - left;
        bh = bottom - top;
        pixels = gl_scratch(gl, size_t(bw) * size_t(bh) * 4);
        if (!pixels)
            return;
        // Black and fully transparent: the blend leaves each pixel's
        // colour premultiplied and its fourth byte the transparency left.
        fill_pixels(pixels, int64_t(bw) * 4, bw, bh, 0xFF000000u);
        blend_ass_images_window(images, pixels, int64_t(bw) * 4, bx, by, bw, bh, 0);
    }
    use_overlay(gl, GL_ONE, GL_SRC_ALPHA);
    draw_image(gl, pixels, bw, bh, float(x + bx), float(y + by), float(bw), float(bh));
}

void gl_draw_bitmap_subtitles(PlayerContext* ctx, GlPresenter* gl, int32_t time_ms, const OsdRect& picture)
{
    use_overlay(gl, GL_ONE, GL_SRC_ALPHA);
    visit_bitmap_subtitles(ctx, time_ms, picture, draw_bitmap_rect, gl);
}

void gl_draw_layer(PlayerContext* ctx, GlPresenter* gl)
{
    FrameDisplay* d = &ctx->display;
    OsdLayer* layer = &gl->osd;
    if (layer->darken_count)
        draw_darkenings(gl, layer);
    if (layer->dirty_count) {
        GlTexture* t = &gl->layer;
        reserve_at_least(t, d->buffer_width, d->buffer_height);
        use_overlay(gl, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        for (int32_t i = 0; i < layer->dirty_count; i++) {
            const OsdRect& r = layer->dirty[i];
            const int32_t w = r.right - r.left, h = r.bottom - r.top;
            gl_texture_upload(t, r.left, r.top, w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                              d->buffer_bits + int64_t(r.top) * d->buffer_pitch + int64_t(r.left) * 4, d->buffer_pitch,
                              4);
            gl_draw_quad(gl, float(r.left), float(r.top), float(w), float(h), float(r.left) / float(t->width),
                         float(r.top) / float(t->height), float(r.right) / float(t->width),
                         float(r.bottom) / float(t->height));
        }
    }
    osd_layer_clear(d, layer);
}
