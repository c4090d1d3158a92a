// The OSD layer of the GL path: the frame buffer as a premultiplied ARGB
// layer, the rectangles drawn into it and the darkenings recorded for the GPU.
#include <cairo.h>

#include "core/core.h"
#include "render/render_internal.h"

namespace {

bool touches(const OsdRect& a, const OsdRect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

OsdRect united(const OsdRect& a, const OsdRect& b)
{
    return OsdRect{a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
                   a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
}

OsdRect cut_to_client(const FrameDisplay* d, OsdRect r)
{
    if (r.left < 0)
        r.left = 0;
    if (r.top < 0)
        r.top = 0;
    if (r.right > d->client_width)
        r.right = d->client_width;
    if (r.bottom > d->client_height)
        r.bottom = d->client_height;
    return r;
}

void release_surface(OsdLayer* layer)
{
    if (layer->cr)
        cairo_destroy(layer->cr);
    if (layer->surface)
        cairo_surface_destroy(layer->surface);
    layer->cr = nullptr;
    layer->surface = nullptr;
    layer->bits = nullptr;
}

} // namespace

bool osd_layer_begin(PlayerContext* ctx, OsdLayer* layer)
{
    FrameDisplay* d = &ctx->display;
    if (layer->bits != d->buffer_bits) {
        release_surface(layer);
        cairo_surface_t* surface = cairo_image_surface_create_for_data(d->buffer_bits, CAIRO_FORMAT_ARGB32,
                                                                       d->buffer_width, d->buffer_height,
                                                                       int(d->buffer_pitch));
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return false;
        }
        layer->surface = surface;
        layer->cr = cairo_create(surface);
        layer->bits = d->buffer_bits;
    }
    if (!d->layer_clean) {
        // The CPU path drew here since: the layer starts fully transparent.
        fill_bytes(d->buffer_bits, size_t(d->buffer_pitch) * size_t(d->buffer_height), 0);
        d->layer_clean = 1;
    }
    layer->darken_count = 0;
    layer->dirty_count = 0;
    d->layer = layer;
    return true;
}

void osd_layer_end(PlayerContext* ctx)
{
    ctx->display.layer = nullptr;
}

void osd_layer_mark(FrameDisplay* d, OsdRect r)
{
    OsdLayer* layer = d->layer;
    r = cut_to_client(d, r);
    if (!layer || r.left >= r.right || r.top >= r.bottom)
        return;
    // Rectangles are uploaded and blended one by one, so they must not
    // overlap: one that touches others swallows them.
    for (int32_t i = 0; i < layer->dirty_count;) {
        if (touches(layer->dirty[i], r)) {
            r = united(r, layer->dirty[i]);
            layer->dirty[i] = layer->dirty[--layer->dirty_count];
            i = 0;
        } else {
            i++;
        }
    }
    if (layer->dirty_count == OSD_LAYER_RECTS) {
        r = united(r, layer->dirty[--layer->dirty_count]);
        osd_layer_mark(d, r); // the merged one may touch others now
        return;
    }
    layer->dirty[layer->dirty_count++] = r;
}

void osd_layer_clear(FrameDisplay* d, OsdLayer* layer)
{
    for (int32_t i = 0; i < layer->dirty_count; i++) {
        const OsdRect& r = layer->dirty[i];
        fill_pixels(d->buffer_bits + int64_t(r.top) * d->buffer_pitch + int64_t(r.left) * 4, d->buffer_pitch,
                    r.right - r.left, r.bottom - r.top, 0);
    }
    layer->dirty_count = 0;
    layer->darken_count = 0;
}

void osd_layer_free(OsdLayer* layer)
{
    release_surface(layer);
}

void osd_darken(PlayerContext* ctx, OsdDarkenKind kind, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value)
{
    FrameDisplay* d = &ctx->display;
    OsdRect r = cut_to_client(d, OsdRect{x, y, x + w, y + h});
    if (r.left >= r.right || r.top >= r.bottom || !d->buffer_bits)
        return;
    if (OsdLayer* layer = d->layer) {
        if (layer->darken_count < OSD_LAYER_RECTS)
            layer->darkens[layer->darken_count++] = OsdDarken{r, kind, value};
        return;
    }
    uint8_t* at = d->buffer_bits + int64_t(r.top) * d->buffer_pitch + int64_t(r.left) * 4;
    const int32_t rw = r.right - r.left, rh = r.bottom - r.top;
    switch (kind) {
    case OSD_DARKEN_SUBTRACT: darken_subtract(at, d->buffer_pitch, rw, rh, value); break;
    case OSD_DARKEN_HALVE: darken_halve(at, d->buffer_pitch, rw, rh, value); break;
    case OSD_DARKEN_AVERAGE: darken_average(at, d->buffer_pitch, rw, rh, value); break;
    }
}
