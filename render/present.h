// Frame presentation and the on-screen display: builds the picture of the
// client area from the current frame (or none), the subtitles and the OSD in
// the frame buffer, and shows it. Everything here runs on the presentation
// thread, except the setters marked otherwise.
#pragma once
#include <cstdint>

#include "render/frame_buffer.h"

struct PlayerContext;
struct AVFrame;
struct SubtitleState;

// ---- presentation ----

// The presentation thread's entry: frame is the current video frame, the
// current audio entry's frame (width 0) or null when nothing is open. The
// frame's media time is taken from the frame entry that holds it.
void present_frame(PlayerContext* ctx, AVFrame* frame);
// The same with the frame's media time given.
void present_picture(PlayerContext* ctx, AVFrame* frame, int32_t time_ms);

// Renders the subtitle track at time_ms into a BGRX buffer of width x height
// pixels, under subtitle_lock.
void render_subtitles(SubtitleState* subs, int32_t time_ms, uint8_t* buffer, int64_t pitch, int32_t width,
                      int32_t height);

// The picture rectangle inside the client area (fitting of the display aspect).
struct PictureFit {
    int32_t left, top;
    int32_t width, height; // drawn width (dwid) and height (dhgt)
};
PictureFit fit_picture(int32_t client_width, int32_t client_height, uint32_t display_width,
                       uint32_t display_height);

// Any thread: the client size the next picture is built for. Values are
// limited to 1 .. MAX_CLIENT_SIDE.
void render_set_client_size(PlayerContext* ctx, int w, int h);

// ---- hooks to the desktop (set before pictures are drawn) ----

// Copies the client area to the window; called on the presentation thread.
using BlitHook = void (*)(void* user, const uint8_t* bgrx, int pitch, int width, int height);
void render_set_blit_hook(BlitHook blit, void* user);

constexpr int CLIPBOARD_BITMAP = 2;
constexpr int CLIPBOARD_TEXT = 13;
struct ClipboardBitmap {
    const uint8_t* bgrx;
    int pitch;
    int width, height;
};
// Places data on the clipboard: format CLIPBOARD_BITMAP with a ClipboardBitmap,
// CLIPBOARD_TEXT with zero-terminated UTF-8 text. The hook copies what it needs
// before it returns and returns non-zero on success.
using ClipboardHook = int (*)(void* user, int format, const void* data);
void render_set_clipboard_hook(ClipboardHook copy, void* user);
// Returns the hook's result, 0 when no clipboard is connected.
int set_clipboard_data(PlayerContext* ctx, int format, const void* data);

// Headless "--copy-to=FILE.png": the copied bitmap is written there as PNG
// instead of going to a clipboard.
void render_set_copy_target(const char* png_path);
// Headless "--snapshot=MS:FILE.png": the client area is written as PNG once
// the first picture of an item whose progress position is at least ms has been
// built (ms 0: the first picture). Returns false when the list is full.
bool render_add_snapshot(PlayerContext* ctx, int32_t ms, const char* png_path);
// Writes width x height BGRX pixels as a PNG file; false on failure.
bool write_png(const char* path, const uint8_t* bgrx, int64_t pitch, int32_t width, int32_t height);

// The GPU presentation path: takes video frames while its device exists
// (Display::gpu_device). Unset until that path is built.
using GpuPresentHook = void (*)(PlayerContext* ctx, AVFrame* frame, int32_t time_ms);
void render_set_gpu_presenter(GpuPresentHook present);
void present_frame_d3d(PlayerContext* ctx, AVFrame* frame, int32_t time_ms);

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
