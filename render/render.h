// Frame presentation and the on-screen display's door: builds the picture
// of the client area from the current frame (or none), the subtitles and the
// OSD in the frame buffer, and shows it. Everything here runs on the
// presentation thread, except the setters marked otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/core.h"

struct AVFrame;

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

// Lends the frame buffer: memory for rows of width pixels (width * 4 bytes
// apart), at least bytes long, that the blit shows without copying. It
// replaces what the hook lent before; null when it cannot (the renderer
// then keeps memory of its own). Called on the presentation thread.
using BufferHook = uint8_t* (*)(void* user, int32_t width, int32_t rows, size_t bytes);
void render_set_buffer_hook(BufferHook lend, void* user);

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
// Headless "--copy-text-to=FILE": copied text is written there as UTF-8.
void render_set_copy_text_target(const char* path);
// Headless "--snapshot=MS:FILE.png": the client area is written as PNG once
// the first picture of an item whose progress position is at least ms has been
// built (ms 0: the first picture). Returns false when the list is full.
bool render_add_snapshot(PlayerContext* ctx, int32_t ms, const char* png_path);
// Headless runs whose pictures nobody looks at (no snapshot, no copy
// target): the OSD text is left out of them, so no font is ever loaded.
// Call before the first picture.
void render_leave_out_text(PlayerContext* ctx);
// Reads the font configuration and opens the fonts the OSD text needs
// (font_name: a font description, null for the default) on a font map the
// presentation thread then takes over, so that the first text drawn does not
// wait for it. Once per process, on any thread but the presentation thread.
void render_warm_fonts(const char* font_name);
// Writes width x height BGRX pixels as a PNG file; false on failure.
bool write_png(const char* path, const uint8_t* bgrx, int64_t pitch, int32_t width, int32_t height);

// ---- the clock overlay (presentation thread, but the hooks' setter) ----

// Shows width x height premultiplied BGRA pixels (rows pitch bytes apart) in
// the click-through window above the main window, its top-left corner at the
// screen position x, y, right above the main window; clear (in the image,
// null for none) is the part left fully transparent for the caption buttons.
using ClockShowHook = void (*)(void* user, const uint8_t* bgra, int64_t pitch, int32_t x, int32_t y, int32_t width,
                               int32_t height, const OsdRect* clear);
using ClockHideHook = void (*)(void* user);
void render_set_clock_hooks(ClockShowHook show, ClockHideHook hide, void* user);
// Once a second while clock_shown is set: renders the wall-clock time in
// the OSD style, top right in the client area, and shows it; aligns
// clock_ticks so that the next update falls just after the next second.
void update_clock_overlay(PlayerContext* ctx);
// Every pass: an overlay the window thread has hidden (clock_shown 0) leaves
// the screen.
void settle_clock_overlay(PlayerContext* ctx);
// The countdown after an update ms_in_second milliseconds into the second.
int32_t clock_ticks_aligned(int32_t ticks, int32_t ms_in_second);
// "%d:%02d:%02d": the hour unpadded.
int format_clock_text(char* out, size_t size, int hour, int minute, int second);
// ---- the GPU presentation path ----
// Where video pictures are drawn: on the CPU only; on the GPU when OpenGL
// runs on graphics hardware (a software renderer is slower than the CPU
// path); on the GPU whatever the renderer; on the GPU without a window (an
// off-screen target that snapshots read back). A failure of the GL path
// sets RENDER_GPU_FAILED and the CPU path draws from then on.
constexpr int32_t RENDER_GPU_FAILED = -1;
constexpr int32_t RENDER_GPU_OFF = 0;
constexpr int32_t RENDER_GPU_AUTO = 1;
constexpr int32_t RENDER_GPU_ON = 2;
constexpr int32_t RENDER_GPU_OFFSCREEN = 3;
// Before the engine starts.
void render_set_gpu_mode(PlayerContext* ctx, int32_t mode);
int32_t render_gpu_mode(PlayerContext* ctx);
// Window thread: the platform window whose picture child the GL path draws into.
void render_set_picture_window(PlayerContext* ctx, void* window);

// Releases what the display record holds (the program never does; tests do).
void display_free(FrameDisplay* d);
