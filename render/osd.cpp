// OSD text drawing: row and rectangle fills, text boxes, the notice and the
// caption buttons, drawn straight into the frame buffer. Text goes through a
// cairo surface made over the buffer's own memory and one reused Pango
// layout; the boxes under it are computed here four pixels at a time.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstring>
#include <string>

#include "core/core.h"
#include "render/render_internal.h"

namespace {

// Cuts a rectangle to the frame buffer so no primitive can write outside it,
// whatever the caller computed for a tiny or huge window.
bool clip_to_buffer(const FrameDisplay* d, int32_t* x, int32_t* y, int32_t* w, int32_t* h)
{
    int64_t left = *x, top = *y, right = int64_t(*x) + *w, bottom = int64_t(*y) + *h;
    if (left < 0)
        left = 0;
    if (top < 0)
        top = 0;
    if (right > d->buffer_width)
        right = d->buffer_width;
    if (bottom > d->buffer_height)
        bottom = d->buffer_height;
    if (!d->buffer_bits || left >= right || top >= bottom)
        return false;
    *x = int32_t(left);
    *y = int32_t(top);
    *w = int32_t(right - left);
    *h = int32_t(bottom - top);
    return true;
}

uint8_t* pixel_at(const FrameDisplay* d, int32_t x, int32_t y)
{
    return d->buffer_bits + int64_t(y) * d->buffer_pitch + int64_t(x) * 4;
}

using RectKernel = void (*)(uint8_t*, int64_t, int32_t, int32_t, uint32_t);

void apply_rect(PlayerContext* ctx, RectKernel kernel, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value)
{
    FrameDisplay* d = &ctx->display;
    if (d->layer) {
        // Fills are opaque in the layer; darkenings are left to the GPU.
        if (kernel == fill_pixels) {
            if (clip_to_buffer(d, &x, &y, &w, &h)) {
                fill_pixels(pixel_at(d, x, y), d->buffer_pitch, w, h, value | 0xFF000000u);
                osd_layer_mark(d, OsdRect{x, y, x + w, y + h});
            }
            return;
        }
        OsdDarkenKind kind = kernel == darken_halve    ? OSD_DARKEN_HALVE
                             : kernel == darken_average ? OSD_DARKEN_AVERAGE
                                                        : OSD_DARKEN_SUBTRACT;
        osd_darken(ctx, kind, x, y, w, h, value);
        return;
    }
    if (clip_to_buffer(d, &x, &y, &w, &h))
        kernel(pixel_at(d, x, y), d->buffer_pitch, w, h, value);
}

// Cuts a box to the client area: the far edges first, then the near ones.
OsdRect clip_box(const FrameDisplay* d, int32_t left, int32_t top, int32_t width, int32_t height)
{
    if (left + width > d->client_width)
        width = d->client_width - left;
    if (top + height > d->client_height)
        height = d->client_height - top;
    if (left < 0) {
        width += left;
        left = 0;
    }
    if (top < 0) {
        height += top;
        top = 0;
    }
    return OsdRect{left, top, left + width, top + height};
}

// A box under text: filled with its overlay pattern and reported when an
// output rectangle is given (the GPU overlay), else the picture under it is
// darkened in place.
void draw_box(PlayerContext* ctx, OsdRect* out, OsdRect box, uint32_t overlay_pattern, RectKernel darken,
              uint32_t darken_value)
{
    const int32_t w = box.right - box.left, h = box.bottom - box.top;
    if (out) {
        *out = box;
        apply_rect(ctx, fill_pixels, box.left, box.top, w, h, overlay_pattern);
    } else {
        apply_rect(ctx, darken, box.left, box.top, w, h, darken_value);
    }
}

// Pango takes only valid UTF-8; file names and metadata need not be, so
// what is not becomes replacement characters instead of a refused text.
void set_layout_text(PangoLayout* layout, const char* text, int32_t length)
{
    if (length < 0)
        length = int32_t(strlen(text));
    if (g_utf8_validate(text, length, nullptr)) {
        pango_layout_set_text(layout, text, length);
        return;
    }
    gchar* valid = g_utf8_make_valid(text, length);
    pango_layout_set_text(layout, valid, -1);
    g_free(valid);
}

void layout_text(FrameDisplay* d, const char* text, int32_t length)
{
    pango_layout_set_width(d->layout, -1);
    pango_layout_set_wrap(d->layout, PANGO_WRAP_WORD);
    pango_layout_set_alignment(d->layout, PANGO_ALIGN_LEFT);
    pango_layout_set_font_description(d->layout, d->current_font);
    set_layout_text(d->layout, text, length);
}

void set_source_colour(cairo_t* cr, uint32_t rgb)
{
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

// The context text is drawn with: the frame buffer's, or the layer's.
cairo_t* text_context(FrameDisplay* d)
{
    return d->layer ? d->layer->cr : d->cr;
}

// Draws the layout with its top-left at (x, y). The SIMD kernels write the
// same memory, so cairo is told before and after.
void show_layout(FrameDisplay* d, double x, double y)
{
    cairo_t* cr = text_context(d);
    cairo_surface_t* surface = cairo_get_target(cr);
    cairo_surface_mark_dirty(surface);
    cairo_save(cr);
    set_source_colour(cr, d->text_colour);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, d->layout);
    cairo_restore(cr);
    cairo_surface_flush(surface);
    if (d->layer) {
        PangoRectangle ink;
        pango_layout_get_pixel_extents(d->layout, &ink, nullptr);
        // A pixel more on every side for the antialiased edges.
        const int32_t left = int32_t(x) + ink.x - 1, top = int32_t(y) + ink.y - 1;
        osd_layer_mark(d, OsdRect{left, top, left + ink.width + 3, top + ink.height + 3});
    }
}

} // namespace

// ---- fonts and text output ----

_PangoFontDescription* osd_font_of(PlayerContext* ctx, OsdFontKind kind)
{
    FrameDisplay* d = &ctx->display;
    switch (kind) {
    case FONT_OSD:
        if (!d->osd_font) {
            d->osd_font = pango_font_description_from_string(ctx->osd_font ? ctx->osd_font : "monospace");
            if (pango_font_description_get_size(d->osd_font) == 0)
                pango_font_description_set_absolute_size(d->osd_font, 13 * PANGO_SCALE);
        }
        return d->osd_font;
    case FONT_GLYPH:
        if (!d->glyph_font) {
            d->glyph_font = pango_font_description_from_string(ctx->glyph_font ? ctx->glyph_font : "Sans");
            pango_font_description_set_absolute_size(d->glyph_font, 20 * PANGO_SCALE);
        }
        return d->glyph_font;
    case FONT_NOTICE:
        return d->notice_font;
    }
    return nullptr;
}

_PangoFontDescription* osd_select_font(PlayerContext* ctx, _PangoFontDescription* font)
{
    FrameDisplay* d = &ctx->display;
    PangoFontDescription* previous = d->current_font;
    d->current_font = font;
    return previous;
}

void osd_set_text_colour(PlayerContext* ctx, uint32_t rgb)
{
    ctx->display.text_colour = rgb;
}

void osd_measure(PlayerContext* ctx, const char* text, int32_t length, int32_t* width, int32_t* height)
{
    FrameDisplay* d = &ctx->display;
    *width = *height = 0;
    if (!d->layout)
        return;
    layout_text(d, text, length);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(d->layout, &w, &h);
    *width = w;
    *height = h;
}

void osd_text_out(PlayerContext* ctx, int32_t x, int32_t y, const char* text, int32_t length)
{
    FrameDisplay* d = &ctx->display;
    if (!d->layout)
        return;
    layout_text(d, text, length);
    show_layout(d, x, y);
}

// ---- fills ----

void fill_rows(PlayerContext* ctx, int32_t first_row, int32_t count, uint32_t pattern)
{
    FrameDisplay* d = &ctx->display;
    if (d->layer) {
        apply_rect(ctx, fill_pixels, 0, first_row, d->client_width, count, pattern);
        return;
    }
    int32_t x = 0, w = d->buffer_width;
    if (clip_to_buffer(d, &x, &first_row, &w, &count))
        fill_bytes(pixel_at(d, 0, first_row), size_t(count) * size_t(d->buffer_pitch), pattern);
}

void fill_rect(PlayerContext* ctx, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t pattern)
{
    apply_rect(ctx, fill_pixels, x, y, width, height, pattern);
}

// ---- text box ----

int draw_text_box(PlayerContext* ctx, OsdRect* out, int32_t x, int32_t y, int32_t pad_x, int32_t pad_y,
                  int32_t flags, const char* text, int32_t length)
{
    FrameDisplay* d = &ctx->display;
    if (!d->layout)
        return 0;
    int32_t tw, th;
    osd_measure(ctx, text, length, &tw, &th);
    int32_t bw = tw + 2 * pad_x, bh = th + 2 * pad_y;
    if (flags & ANCHOR_CENTRE_X)
        x -= bw / 2;
    else if (flags & ANCHOR_RIGHT)
        x -= bw;
    if (flags & ANCHOR_CENTRE_Y)
        y -= bh / 2;
    else if (flags & ANCHOR_BOTTOM)
        y -= bh;
    if (!out && (flags & ANCHOR_NO_BOX)) {
        show_layout(d, x + pad_x, y + pad_y);
        return 1;
    }
    draw_box(ctx, out, clip_box(d, x, y, bw, bh), bgrx(0x66, 0x22, 0x22, 0x55), darken_halve,
             bgrx(0x00, 0x33, 0x00, 0x33));
    // The text is written at the anchored, unclipped position; the surface
    // clips it to the buffer.
    show_layout(d, x + pad_x, y + pad_y);
    return 1;
}

// ---- notice ----

namespace {

constexpr const char* NOTICE_FAMILY = "Noto Sans CJK SC";

// The notice font follows the window width's size class (width / 26) and is
// made again only when that class changes.
PangoFontDescription* notice_font_for(FrameDisplay* d, int32_t size)
{
    if (size != d->notice_font_size || !d->notice_font) {
        d->notice_font_size = size;
        if (d->notice_font)
            pango_font_description_free(d->notice_font);
        d->notice_font = pango_font_description_new();
        pango_font_description_set_family(d->notice_font, NOTICE_FAMILY);
        pango_font_description_set_weight(d->notice_font, PangoWeight(500));
        pango_font_description_set_absolute_size(d->notice_font, double(size) * PANGO_SCALE);
    }
    return d->notice_font;
}

void layout_wrapped(FrameDisplay* d, const std::string& text, int32_t avail)
{
    pango_layout_set_font_description(d->layout, d->current_font);
    pango_layout_set_width(d->layout, avail * PANGO_SCALE);
    pango_layout_set_wrap(d->layout, PANGO_WRAP_WORD);
    pango_layout_set_alignment(d->layout, PANGO_ALIGN_CENTER);
    set_layout_text(d->layout, text.data(), int32_t(text.size()));
}

// Shortens a word that cannot fit on a line of avail pixels to the longest
// prefix that fits together with "...".
std::string ellipsize_word(FrameDisplay* d, const std::string& word, int32_t avail)
{
    PangoLayout* probe = pango_layout_copy(d->layout);
    pango_layout_set_width(probe, -1);
    std::string best = "...";
    const char* start = word.c_str();
    for (const char* p = start; *p;) {
        const char* next = g_utf8_next_char(p);
        std::string candidate = word.substr(0, size_t(next - start)) + "...";
        pango_layout_set_text(probe, candidate.data(), int(candidate.size()));
        int w = 0, h = 0;
        pango_layout_get_pixel_size(probe, &w, &h);
        if (w > avail)
            break;
        best = candidate;
        p = next;
    }
    g_object_unref(probe);
    return best;
}

// Lays the notice out with word wrap in avail pixels; a line that is still
// too wide holds one word longer than the line, which is cut with an
// ellipsis, as the word-ellipsis rule of the notice asks.
void layout_notice(FrameDisplay* d, std::string text, int32_t avail)
{
    for (int round = 0; round < 16; round++) {
        layout_wrapped(d, text, avail);
        bool changed = false;
        for (PangoLayoutIter* it = pango_layout_get_iter(d->layout); it;) {
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
            PangoRectangle logical;
            pango_layout_line_get_pixel_extents(line, nullptr, &logical);
            if (logical.width > avail && line->length > 0) {
                std::string word = text.substr(size_t(line->start_index), size_t(line->length));
                while (!word.empty() && (word.back() == ' ' || word.back() == '\n'))
                    word.pop_back();
                std::string shortened = ellipsize_word(d, word, avail);
                if (shortened != word) {
                    text.replace(size_t(line->start_index), word.size(), shortened);
                    changed = true;
                }
            }
            if (changed || !pango_layout_iter_next_line(it)) {
                pango_layout_iter_free(it);
                it = nullptr;
            }
        }
        if (!changed)
            return;
    }
}

} // namespace

void draw_notice(PlayerContext* ctx, OsdRect* out)
{
    FrameDisplay* d = &ctx->display;
    if (!d->layout)
        return;
    char text[sizeof ctx->notice_text];
    size_t length = notice_copy(ctx, text, sizeof text);
    if (length == 0)
        return;
    const int32_t W = d->client_width, H = d->client_height;
    PangoFontDescription* previous = nullptr;
    bool font_switched = false;
    if (W > 500 && H > 300) {
        previous = osd_select_font(ctx, notice_font_for(d, W / 26));
        font_switched = true;
    }
    int32_t avail = W - 16 > 1 ? W - 16 : 1;
    // Made valid first: the layout's line offsets then index this text.
    gchar* valid = g_utf8_make_valid(text, gssize(length));
    layout_notice(d, valid, avail);
    g_free(valid);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(d->layout, nullptr, &logical);
    const int32_t tw = logical.width, th = logical.height;
    const int32_t left = W / 2 - tw / 2;
    const int32_t top = int32_t(int64_t(H) * 7 / 10) - th / 2;
    draw_box(ctx, out, clip_box(d, left - 8, top - 10, tw + 16, th + 20), bgrx(0x66, 0x22, 0x22, 0x77),
             darken_average, bgrx(0x22, 0x00, 0x22, 0x00));
    // Lines are centred in the layout's own width; the logical rectangle's
    // offset puts the widest line at the text rectangle's left edge.
    show_layout(d, left - logical.x, top - logical.y);
    if (font_switched)
        osd_select_font(ctx, previous);
}

// ---- caption buttons ----

namespace {

// The three caption glyphs as shapes in the 19 x 19 cell at (x, y) that the
// symbol font's glyph would occupy.
void draw_caption_glyph(FrameDisplay* d, char glyph, double x, double y)
{
    cairo_t* cr = text_context(d);
    cairo_surface_mark_dirty(cairo_get_target(cr));
    cairo_save(cr);
    set_source_colour(cr, d->text_colour);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, 2);
    switch (glyph) {
    case 'r': // close: a cross
        cairo_move_to(cr, x + 5, y + 5);
        cairo_line_to(cr, x + 14, y + 14);
        cairo_move_to(cr, x + 14, y + 5);
        cairo_line_to(cr, x + 5, y + 14);
        cairo_stroke(cr);
        break;
    case '2': // maximise: two overlapping frames
        cairo_rectangle(cr, x + 7, y + 3, 9, 8);
        cairo_stroke(cr);
        cairo_rectangle(cr, x + 3, y + 7, 9, 8);
        cairo_stroke(cr);
        cairo_rectangle(cr, x + 3, y + 7, 9, 3);
        cairo_fill(cr);
        cairo_rectangle(cr, x + 7, y + 3, 9, 2);
        cairo_fill(cr);
        break;
    case '0': // minimise: a bar at the bottom
        cairo_rectangle(cr, x + 4, y + 13, 11, 3);
        cairo_fill(cr);
        break;
    default:
        break;
    }
    cairo_restore(cr);
    cairo_surface_flush(cairo_get_target(cr));
    if (d->layer)
        osd_layer_mark(d, OsdRect{int32_t(x), int32_t(y), int32_t(x) + 19, int32_t(y) + 19});
}

} // namespace

void draw_caption_button(CaptionButton* button, int32_t id, char glyph)
{
    PlayerContext* ctx = button->ctx;
    FrameDisplay* d = &ctx->display;
    const int32_t left = button->rect.left, top = button->rect.top;
    uint32_t colour;
    uint32_t shade;
    if (id == ctx->hover_region.load(std::memory_order_relaxed)) {
        shade = button->overlay ? bgrx(0x66, 0x22, 0x22, 0x20) : bgrx(0x00, 0xAA, 0x66, 0xAA);
        colour = ctx->mouse_buttons.load(std::memory_order_relaxed) ? 0xFF5D1E : 0xFFFFFF;
    } else {
        shade = button->overlay ? bgrx(0x66, 0x22, 0x22, 0x60) : bgrx(0x33, 0xAA, 0x33, 0xAA);
        colour = 0x19FFFF;
    }
    if (button->overlay)
        apply_rect(ctx, fill_pixels, left, top, 25, 25, shade);
    else
        apply_rect(ctx, darken_subtract, left, top, 25, 25, shade);
    osd_set_text_colour(ctx, colour);
    if (d->layout)
        draw_caption_glyph(d, glyph, left + 3, top + 3);
    const uint32_t outline = bgrx(0xB1, 0xB0, 0x45, button->overlay ? 0x00 : 0xB0);
    apply_rect(ctx, fill_pixels, left, top, 25, 1, outline);
    apply_rect(ctx, fill_pixels, left, top + 24, 25, 1, outline);
    apply_rect(ctx, fill_pixels, left, top, 1, 25, outline);
    apply_rect(ctx, fill_pixels, left + 24, top, 1, 25, outline);
}
