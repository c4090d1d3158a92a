// What the files of frame presentation share among themselves (and with
// their tests and benchmarks): the frame buffer, the pixel kernels, the OSD
// primitives and the status lines.
#pragma once
#include <cstddef>
#include <cstdint>

#include <ass/ass.h>

#include "render/render.h"

// Makes sure the frame buffer holds at least the current client area; returns
// false when the memory or the text surface cannot be had (the picture is
// then skipped).
bool frame_buffer_ensure(FrameDisplay* d);

// Scales (and converts) the frame into the picture rectangle, whose top-left
// pixel is picture_origin; the picture area keeps what it held when no
// scaler can be made. scale_release frees the scalers.
void scale_picture(FrameDisplay* d, const struct AVFrame* frame, const PictureFit& fit);
void scale_release(FrameDisplay* d);

// ---- pixel kernels ----

// Pixel kernels of the frame buffer: fills, the three darkenings and the
// libass blend. Pixels are four bytes (B, G, R, X) in memory order; a
// pattern is one such pixel as a little-endian 32-bit value. Each kernel has
// an SSE2 version (the one drawing uses) and a plain scalar version that
// gives bit-identical output (kept for the tests and benchmarks).

constexpr uint32_t bgrx(uint32_t b, uint32_t g, uint32_t r, uint32_t x)
{
    return b | g << 8 | r << 16 | x << 24;
}

// Fills bytes (a multiple of 16) from start, 16 bytes at a time, from the
// end backwards: eight groups per step while 128 bytes remain, then one.
void fill_bytes(uint8_t* start, size_t bytes, uint32_t pattern);

// The rectangle kernels work on width x height pixels whose top-left pixel is
// at row; rows are pitch bytes apart. Each row is processed in 16-byte groups
// from its right end; the width % 4 leftmost pixels form one masked group, so
// exactly the rectangle's pixels are read and written.
void fill_pixels(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern);
// Every byte v becomes max(0, v - s) (saturating subtraction).
void darken_subtract(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
// Every byte v becomes max(0, ((v + 1) >> 1) - s): the text box.
void darken_halve(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
// Every byte v becomes (v + k + 1) >> 1: the notice box.
void darken_average(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k);

// Blends a libass image list into a BGRX buffer; extra_bits are OR-ed into
// every image's colour first. Images are taken as libass gives them: inside
// the frame size it was given.
void blend_ass_images(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits);
// The same, cutting every image to a width x height target first, for lists
// that may not fit the buffer (a copy of another size, a stale frame size).
void blend_ass_images_clipped(const ASS_Image* list, uint8_t* buffer, int64_t pitch, int32_t width,
                              int32_t height, uint32_t extra_bits);

// The same for the window (x, y, width, height) of the images' frame, with
// buffer holding the window's top-left pixel.
void blend_ass_images_window(const ASS_Image* list, uint8_t* buffer, int64_t pitch, int32_t x, int32_t y,
                             int32_t width, int32_t height, uint32_t extra_bits);

// Scalar versions with the same results.
void fill_pixels_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern);
void darken_subtract_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
void darken_halve_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
void darken_average_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k);
void blend_ass_images_scalar(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits);

// ---- OSD primitives (frame buffer, or overlay mode with an output rectangle) ----

constexpr uint32_t OSD_GREEN = 0x00FF00; // text colour, 0xRRGGBB

// Anchor flags of draw_text_box.
constexpr int32_t ANCHOR_NO_BOX = 1;
constexpr int32_t ANCHOR_RIGHT = 2;
constexpr int32_t ANCHOR_CENTRE_X = 4;
constexpr int32_t ANCHOR_BOTTOM = 8;
constexpr int32_t ANCHOR_CENTRE_Y = 16;

void fill_rows(PlayerContext* ctx, int32_t first_row, int32_t count, uint32_t pattern);
void fill_rect(PlayerContext* ctx, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t pattern);
// One line of text (UTF-8, length bytes) in the current font with its box;
// with out given the box is filled for the overlay and its rectangle stored.
// Returns non-zero when text was written.
int draw_text_box(PlayerContext* ctx, OsdRect* out, int32_t x, int32_t y, int32_t pad_x, int32_t pad_y,
                  int32_t flags, const char* text, int32_t length);
void draw_notice(PlayerContext* ctx, OsdRect* out);

struct CaptionButton {
    PlayerContext* ctx;
    OsdRect rect;    // left and top place the 25 x 25 square
    int32_t overlay; // non-zero: the GPU overlay variant (filled square)
};
// id 5 close, 6 maximise, 7 minimise; glyph 'r', '2' or '0'.
void draw_caption_button(CaptionButton* button, int32_t id, char glyph);

// Fonts of the text context.
enum OsdFontKind { FONT_OSD, FONT_GLYPH, FONT_NOTICE };
// Selects a font and returns the one selected before.
_PangoFontDescription* osd_select_font(PlayerContext* ctx, _PangoFontDescription* font);
_PangoFontDescription* osd_font_of(PlayerContext* ctx, OsdFontKind kind);
// A text layout for this cairo context, on the font map warmed up while the
// window was made once that is ready (render_warm_fonts), else on the
// calling thread's own. Presentation thread.
_PangoLayout* osd_new_layout(_cairo* cr);
void osd_set_text_colour(PlayerContext* ctx, uint32_t rgb);
// Text width and height of one line in the current font.
void osd_measure(PlayerContext* ctx, const char* text, int32_t length, int32_t* width, int32_t* height);
// Writes one line with its top-left at (x, y), clipped to the buffer.
void osd_text_out(PlayerContext* ctx, int32_t x, int32_t y, const char* text, int32_t length);

// ---- the clock overlay ----

// Renders the clock text buffer for the frame size last set and shows it
// (update_clock_overlay's second half, which benchmarks call alone).
void draw_clock_overlay(PlayerContext* ctx);

// ---- status and information lines ----

void draw_progress_marker(PlayerContext* ctx, int32_t time_ms, uint32_t colour);
void draw_progress_markers(PlayerContext* ctx, int32_t progress_ms, bool video_shown);
void draw_chapter_ticks(PlayerContext* ctx);
// Formats the top information line of a video frame for the current client
// width; returns its length.
int format_video_info(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh, char* out,
                      int out_size);
void draw_video_info(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh);
int format_audio_info(PlayerContext* ctx, char* out, int out_size);
void draw_audio_info(PlayerContext* ctx);
const char* sample_format_name(int32_t sample_format);
// The hover-time tooltip's text, with the covering chapter's title.
int format_hover_time(PlayerContext* ctx, char* out, int out_size);
// The hover display: time labels and tooltip on the progress bar, the button
// tooltips and the caption buttons.
void draw_hover_display(PlayerContext* ctx, int32_t progress_ms);

// ---- the picture's colours (colour.cpp) ----
// The frame's matrix (an AVColorSpace): its own, else BT.709 for HD sizes
// and BT.601 below, as players agree for untagged video.
int32_t picture_colorspace(const struct AVFrame* frame);
// Whether the frame's samples use the full range (JPEG) rather than video levels.
bool picture_full_range(const struct AVFrame* frame);
// The luma weights of red and blue of a matrix.
void colour_coefficients(int32_t colorspace, double* kr, double* kb);

// ---- bitmap subtitles (bitmap_subs.cpp) ----
struct AVSubtitleRect;
// Under subtitle_lock: drops the subtitles that ended before the frame's
// time, and calls visit for every rectangle of those shown at it with its
// place on the screen: the subtitle canvas scaled onto the picture
// rectangle. Rectangles larger than the canvas (or any, when the canvas has
// no size) are passed over.
using BitmapVisitor = void (*)(void* user, const AVSubtitleRect* rect, const OsdRect& screen);
void visit_bitmap_subtitles(PlayerContext* ctx, int32_t time_ms, const OsdRect& picture, BitmapVisitor visit,
                            void* user);
// The palette picture at out_w x out_h (nearest sample), each pixel its
// colour premultiplied by its opacity and its transparency in the fourth byte.
void bitmap_to_bgrt(const AVSubtitleRect* rect, uint8_t* out, int64_t pitch, int32_t out_w, int32_t out_h);
// Stretches a BGRT picture sw x sh onto dw x dh, bilinear between the
// nearest pixel centres (as a GPU samples a texture), edges clamped.
void scale_bgrt_bilinear(const uint8_t* src, int32_t sw, int32_t sh, int64_t src_pitch, uint8_t* dst, int32_t dw,
                         int32_t dh, int64_t dst_pitch);
// Every byte d of the destination becomes s + d x T / 255, T the source's
// fourth byte (the transparency), rounded.
void blend_transparency(uint8_t* dst, int64_t dst_pitch, const uint8_t* src, int64_t src_pitch, int32_t w,
                        int32_t h);
// Draws the due bitmap subtitles into the frame buffer (the CPU path).
void draw_bitmap_subtitles(PlayerContext* ctx, int32_t time_ms, const OsdRect& picture);

// ---- the OSD layer of the GL path (osd_layer.cpp) ----
// While the GL path draws the overlays, the frame buffer is a premultiplied
// ARGB layer over the picture: text, markers and button outlines are drawn
// into it (cairo's ARGB32 over the same memory, fills opaque), and the
// darkenings of the picture under boxes and bands are recorded instead of
// applied, for the GPU to apply with its blending before it lays the layer
// on top. Only the rectangles drawn are uploaded and cleared afterwards.

enum OsdDarkenKind { OSD_DARKEN_SUBTRACT, OSD_DARKEN_HALVE, OSD_DARKEN_AVERAGE };

struct OsdDarken {
    OsdRect rect;
    int32_t kind;
    uint32_t value; // the kernel's pattern
};

constexpr int32_t OSD_LAYER_RECTS = 48;

struct OsdLayer {
    OsdDarken darkens[OSD_LAYER_RECTS];
    int32_t darken_count;
    OsdRect dirty[OSD_LAYER_RECTS]; // drawn rectangles, never overlapping
    int32_t dirty_count;
    _cairo_surface* surface; // ARGB32 over the frame buffer's memory
    _cairo* cr;
    uint8_t* bits; // the buffer the surface was made over
};

// Points the OSD primitives at the layer; false when its surface cannot be made.
bool osd_layer_begin(PlayerContext* ctx, OsdLayer* layer);
void osd_layer_end(PlayerContext* ctx);
// A rectangle of the layer was drawn (cut to the client area).
void osd_layer_mark(FrameDisplay* d, OsdRect r);
// Clears the drawn rectangles again once they have been uploaded.
void osd_layer_clear(FrameDisplay* d, OsdLayer* layer);
void osd_layer_free(OsdLayer* layer);
// A darkening of the picture: applied to the frame buffer, or recorded in
// the layer while there is one.
void osd_darken(PlayerContext* ctx, OsdDarkenKind kind, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value);

// ---- the steps of a picture both presenters share (present.cpp) ----
// The top information line under its conditions, for a picture drawn dw x dh.
void draw_info_line(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh);
// The hover band, progress bar, notice, chapter ticks and hover display.
void draw_overlays(PlayerContext* ctx, int32_t progress_ms, bool video_shown);
bool snapshot_due(PlayerContext* ctx, int32_t progress_ms);
// Writes the due snapshots from a BGRX picture of the client size.
void take_snapshots(PlayerContext* ctx, int32_t progress_ms, const uint8_t* bgrx, int64_t pitch);
// Sleeps until the picture's due time (at most a second).
void wait_until_due(PlayerContext* ctx);

// ---- the GL path (gl_present.cpp) ----
// Draws and shows a video frame on the GL path when it is wanted and works;
// false when the CPU path has to draw it.
bool present_frame_gl(PlayerContext* ctx, AVFrame* frame, int32_t time_ms, uint32_t border);
// Frees the GL presenter (tests; the program keeps it).
void gl_presenter_release(PlayerContext* ctx);
