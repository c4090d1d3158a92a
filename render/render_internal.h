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
