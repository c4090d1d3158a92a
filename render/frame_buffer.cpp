#include <cairo.h>
#include <pango/pangocairo.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "core/core.h"
#include "render/render_internal.h"

namespace {

// Room the scaler may write past the last used row: it converts rows in
// groups of up to eight pixels, so the last row can run a little over.
constexpr size_t TAIL_BYTES = 64;
constexpr int32_t GROWTH_STEP = 128;

std::atomic<BufferHook> buffer_hook{nullptr};
std::atomic<void*> buffer_user{nullptr};

// The window's screen image, when the desktop lends it: a picture built
// there reaches the screen without a copy.
uint8_t* borrow_buffer(int32_t width, int32_t rows, size_t bytes)
{
    BufferHook lend = buffer_hook.load(std::memory_order_acquire);
    return lend ? lend(buffer_user.load(std::memory_order_relaxed), width, rows, bytes) : nullptr;
}

void release_text_context(FrameDisplay* d)
{
    if (d->layout)
        g_object_unref(d->layout);
    if (d->cr)
        cairo_destroy(d->cr);
    if (d->surface)
        cairo_surface_destroy(d->surface);
    d->layout = nullptr;
    d->cr = nullptr;
    d->surface = nullptr;
}

} // namespace

bool frame_buffer_ensure(FrameDisplay* d)
{
    if (d->buffer_bits && d->client_width <= d->buffer_width && d->client_height <= d->buffer_height)
        return true;
    int32_t width = d->client_width > d->buffer_width ? d->client_width : d->buffer_width;
    int32_t height = d->client_height > d->buffer_height ? d->client_height : d->buffer_height;
    // Grown in steps of GROWTH_STEP pixels: a window resized by the pointer
    // grows a few pixels a picture, and a fresh buffer every picture (new
    // pages to fault in and clear) would stall playback.
    width = (width + GROWTH_STEP - 1) / GROWTH_STEP * GROWTH_STEP;
    height = (height + GROWTH_STEP - 1) / GROWTH_STEP * GROWTH_STEP;
    const int64_t pitch = int64_t(width) * 4;
    // One spare row below the last used row, as the scaler may need it.
    const size_t bytes = size_t(pitch) * size_t(height + 1) + TAIL_BYTES;
    uint8_t* bits = borrow_buffer(width, height + 1, bytes);
    const bool lent = bits != nullptr;
    if (!lent)
        bits = static_cast<uint8_t*>(aligned_alloc(16, (bytes + 15) & ~size_t(15)));
    if (!bits)
        return false; // the old buffer (if any) stays; this picture is skipped
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(bits, CAIRO_FORMAT_RGB24, width, height + 1, int(pitch));
    // A lent image has replaced the old one already: it is kept even when
    // its text surface could not be made (text is then left out).
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS && !lent) {
        cairo_surface_destroy(surface);
        free(bits);
        return false;
    }
    release_text_context(d);
    if (!d->buffer_lent)
        free(d->buffer_bits);
    memset(bits, 0, bytes);
    d->buffer_lent = lent;
    d->buffer_bits = bits;
    d->buffer_width = width;
    d->buffer_height = height;
    d->buffer_pitch = pitch;
    d->picture_origin = bits;
    d->surface = surface;
    d->cr = cairo_create(surface);
    // The text layout is what loads the fonts.
    if (!d->text_left_out.load(std::memory_order_relaxed))
        d->layout = osd_new_layout(d->cr);
    if (d->text_colour == 0)
        d->text_colour = OSD_GREEN;
    return true;
}

void render_set_buffer_hook(BufferHook lend, void* user)
{
    buffer_user.store(user, std::memory_order_relaxed);
    buffer_hook.store(lend, std::memory_order_release);
}

void display_free(FrameDisplay* d)
{
    release_text_context(d);
    if (!d->buffer_lent)
        free(d->buffer_bits);
    d->buffer_bits = nullptr;
    d->buffer_lent = false;
    d->buffer_width = d->buffer_height = 0;
    if (d->osd_font)
        pango_font_description_free(d->osd_font);
    if (d->glyph_font)
        pango_font_description_free(d->glyph_font);
    if (d->notice_font)
        pango_font_description_free(d->notice_font);
    d->osd_font = d->glyph_font = d->notice_font = d->current_font = nullptr;
    scale_release(d);
    av_frame_free(&d->transfer_frame);
    free(d->clock_pixels);
    d->clock_pixels = nullptr;
    d->clock_capacity_bytes = 0;
}
