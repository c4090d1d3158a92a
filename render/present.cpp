// Frame presentation: builds one complete picture of the client area in the
// frame buffer in a fixed order (copy request, size check, background and
// scaled picture, subtitles, information line, progress bar, notice, chapter
// ticks, hover display), waits for the picture's due time and hands the
// client area to the window. It also carries out the copy-image commands,
// since only it owns the frame buffer and the scaler.
#include <atomic>
#include <cstdio>
#include <cstring>

#include <cairo.h>

extern "C" {
#include <ass/ass.h>
#include <libavformat/avformat.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "core/core.h"
#include "render/render_internal.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

namespace {

std::atomic<BlitHook> blit_hook{nullptr};
std::atomic<void*> blit_user{nullptr};
std::atomic<ClipboardHook> clipboard_hook{nullptr};
std::atomic<void*> clipboard_user{nullptr};
char copy_target[4096];
char copy_text_target[4096];

constexpr uint32_t BORDER_PURPLE = bgrx(0x22, 0x11, 0x22, 0x11);
// Longest the picture waits for its due time; the clock never asks for more
// than 50 ms, so a larger wait can only come from a stale value.
constexpr int32_t MAX_WAIT_MS = 1000;

int32_t cursor_hidden(PlayerContext* ctx)
{
    return main_window_of(ctx)->cursor_hidden.load(std::memory_order_relaxed);
}

bool is_hardware_frame(const AVFrame* frame)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    return frame->hw_frames_ctx || (desc && (desc->flags & AV_PIX_FMT_FLAG_HWACCEL));
}

// A frame in graphics memory is read back into a software frame before it
// can be scaled; null when that fails.
const AVFrame* software_frame(AVFrame* frame, AVFrame** scratch)
{
    if (!is_hardware_frame(frame))
        return frame;
    if (!frame->hw_frames_ctx)
        return nullptr;
    if (!*scratch && !(*scratch = av_frame_alloc()))
        return nullptr;
    av_frame_unref(*scratch);
    if (av_hwframe_transfer_data(*scratch, frame, 0) < 0)
        return nullptr;
    return *scratch;
}

// The display aspect terms; without them the frame's own size is used, so a
// missing aspect never divides by zero.
void display_terms(PlayerContext* ctx, const AVFrame* frame, uint32_t* dw, uint32_t* dh)
{
    *dw = ctx->display_width.load(std::memory_order_relaxed);
    *dh = ctx->display_height.load(std::memory_order_relaxed);
    if (*dw == 0 || *dh == 0) {
        *dw = uint32_t(frame->width > 0 ? frame->width : 1);
        *dh = uint32_t(frame->height > 0 ? frame->height : 1);
    }
}

// ---- the copy commands ----

const char* copy_picture(PlayerContext* ctx, AVFrame* frame, int32_t time_ms, int32_t request)
{
    if (!frame || frame->width == 0)
        return " 没有图片! ";
    const char* failed = " 复制图像错误! ";
    uint32_t dw, dh;
    display_terms(ctx, frame, &dw, &dh);
    const int64_t height = frame->height;
    const int64_t width = int64_t(dw) * height / dh;
    if (width <= 0 || height <= 0 || width > MAX_CLIENT_SIDE || height > MAX_CLIENT_SIDE)
        return failed;
    AVFrame* scratch = nullptr;
    const AVFrame* source = software_frame(frame, &scratch);
    // A little room past the last row: the scaler's converters may write in
    // groups of pixels.
    uint8_t* pixels = source ? static_cast<uint8_t*>(av_malloc(size_t(width * 4 * height) + 64)) : nullptr;
    SwsContext* sws = pixels ? sws_getContext(source->width, source->height, AVPixelFormat(source->format),
                                              int(width), int(height), AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR,
                                              nullptr, nullptr, nullptr)
                             : nullptr;
    const char* message = failed;
    if (sws) {
        uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
        int strides[4] = {int(width * 4), 0, 0, 0};
        // A conversion that produced nothing is reported, not copied.
        if (sws_scale(sws, source->data, source->linesize, 0, source->height, planes, strides) > 0) {
            if (request == 3)
                render_subtitles(&ctx->subtitles, time_ms, pixels, width * 4, int32_t(width), int32_t(height));
            ClipboardBitmap bitmap{pixels, int(width * 4), int(width), int(height)};
            if (set_clipboard_data(ctx, CLIPBOARD_BITMAP, &bitmap))
                message = " 当前图像%s已复制到剪贴板! ";
        }
        sws_freeContext(sws);
    }
    av_freep(&pixels);
    av_frame_free(&scratch);
    return message;
}

// ---- background and content ----

void draw_bars(PlayerContext* ctx, const PictureFit& fit, uint32_t border)
{
    const int32_t W = ctx->display.client_width, H = ctx->display.client_height;
    if (fit.left != 0) {
        fill_rect(ctx, 0, 0, fit.left, H, border);
        fill_rect(ctx, fit.width + fit.left, 0, W - fit.width - fit.left, H, border);
    }
    if (fit.top != 0) {
        fill_rows(ctx, 0, fit.top, border);
        fill_rows(ctx, fit.height + fit.top, H - fit.height - fit.top, border);
    }
}

void darken_top_band(PlayerContext* ctx, uint32_t s)
{
    osd_darken(ctx, OSD_DARKEN_SUBTRACT, 0, 0, ctx->display.client_width, 20, s);
}

} // namespace

void draw_info_line(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh)
{
    const int32_t region = ctx->hover_region.load(std::memory_order_relaxed);
    if ((settings.show_title.load(std::memory_order_relaxed) && cursor_hidden(ctx) == 0 &&
         ctx->focus_state.load(std::memory_order_relaxed) != 0) ||
        region == 4) {
        darken_top_band(ctx, region == 4 ? bgrx(0x66, 0xAA, 0x66, 0xAA) : bgrx(0x22, 0x66, 0x22, 0x66));
        draw_video_info(ctx, frame, time_ms, dw, dh);
    }
}

namespace {

int32_t draw_video(PlayerContext* ctx, AVFrame* frame, int32_t time_ms, uint32_t border)
{
    FrameDisplay* d = &ctx->display;
    const int32_t W = d->client_width, H = d->client_height;
    uint32_t dw, dh;
    display_terms(ctx, frame, &dw, &dh);
    const PictureFit fit = fit_picture(W, H, dw, dh);
    d->picture_origin = d->buffer_bits + int64_t(fit.top) * d->buffer_pitch + int64_t(fit.left) * 4;
    if (const AVFrame* source = software_frame(frame, &d->transfer_frame))
        scale_picture(d, source, fit);
    draw_bars(ctx, fit, border);
    draw_bitmap_subtitles(ctx, time_ms, OsdRect{fit.left, fit.top, fit.left + fit.width, fit.top + fit.height});
    if (ctx->subtitles.sub_track.load(std::memory_order_acquire)) {
        if (settings.subs_outside.load(std::memory_order_relaxed))
            render_subtitles(&ctx->subtitles, time_ms, d->buffer_bits, d->buffer_pitch, W, H);
        else
            render_subtitles(&ctx->subtitles, time_ms, d->picture_origin, d->buffer_pitch, fit.width, fit.height);
    }
    draw_info_line(ctx, frame, time_ms, fit.width, fit.height);
    return time_ms;
}

int32_t draw_audio(PlayerContext* ctx, uint32_t border)
{
    FrameDisplay* d = &ctx->display;
    fill_rows(ctx, 0, d->client_height, border);
    darken_top_band(ctx, bgrx(0x66, 0xAA, 0x66, 0xAA));
    const int32_t position = ctx->audio_only_position_ms.load(std::memory_order_relaxed);
    if (ctx->subtitles.sub_track.load(std::memory_order_acquire))
        render_subtitles(&ctx->subtitles, position, d->buffer_bits, d->buffer_pitch, d->client_width,
                         d->client_height);
    draw_audio_info(ctx);
    return position;
}

int32_t draw_idle(PlayerContext* ctx, uint32_t border)
{
    FrameDisplay* d = &ctx->display;
    fill_rows(ctx, 0, d->client_height, border);
    char title[64];
    snprintf(title, sizeof title, "Moravista %d.%d.%d.%d 64位", 16, 11, 18, 1022);
    const char* state = ctx->open_request.load(std::memory_order_relaxed) ? "加载中..." : "请拖动文件进来播放";
    char text[160];
    int n = snprintf(text, sizeof text, "%s / %s", title, state);
    draw_text_box(ctx, nullptr, d->client_width / 2, d->client_height / 2, 16, 12, ANCHOR_CENTRE_X | ANCHOR_RIGHT,
                  text, n);
    return 0;
}

// ---- overlays ----

} // namespace

void draw_overlays(PlayerContext* ctx, int32_t progress_ms, bool video_shown)
{
    FrameDisplay* d = &ctx->display;
    const int32_t H = d->client_height;
    const int32_t region = ctx->hover_region.load(std::memory_order_relaxed);
    const bool hidden = cursor_hidden(ctx) != 0;
    const bool active_shown = !hidden && ctx->focus_state.load(std::memory_order_relaxed) != 0;
    if (region == 3) {
        int32_t rows = hidden ? 15 : 30;
        if (rows > H)
            rows = H;
        osd_darken(ctx, OSD_DARKEN_SUBTRACT, 0, H - rows, d->client_width, rows, bgrx(0x22, 0x66, 0x22, 0x66));
    }
    if (ctx->duration_ms.load(std::memory_order_relaxed) > 100 && (settings.show_progress.load(std::memory_order_relaxed) || active_shown || region == 3))
        draw_progress_markers(ctx, progress_ms, video_shown);
    if (ctx->notice_length.load(std::memory_order_acquire) != 0)
        draw_notice(ctx, nullptr);
    if (ctx->chapter_count.load(std::memory_order_acquire) != 0 && (region != 0 || active_shown))
        draw_chapter_ticks(ctx);
    draw_hover_display(ctx, progress_ms);
}

bool snapshot_due(PlayerContext* ctx, int32_t progress_ms)
{
    FrameDisplay* d = &ctx->display;
    const int32_t count = d->snapshot_count.load(std::memory_order_acquire);
    for (int32_t i = 0; i < count; i++) {
        const SnapshotRequest* s = &d->snapshots[i];
        if (!s->done.load(std::memory_order_relaxed) && progress_ms >= s->at_ms)
            return true;
    }
    return false;
}

void take_snapshots(PlayerContext* ctx, int32_t progress_ms, const uint8_t* bgrx, int64_t pitch)
{
    FrameDisplay* d = &ctx->display;
    const int32_t count = d->snapshot_count.load(std::memory_order_acquire);
    for (int32_t i = 0; i < count; i++) {
        SnapshotRequest* s = &d->snapshots[i];
        if (s->done.load(std::memory_order_relaxed) || progress_ms < s->at_ms)
            continue;
        s->done.store(1, std::memory_order_relaxed);
        write_png(s->path, bgrx, pitch, d->client_width, d->client_height);
    }
}

void wait_until_due(PlayerContext* ctx)
{
    int32_t wait = int32_t(uint32_t(ctx->due_wall_ms.load(std::memory_order_relaxed)) - now_ms());
    if (wait > MAX_WAIT_MS)
        wait = MAX_WAIT_MS;
    if (wait > 0)
        delay_100ns(-int64_t(wait) * 10000);
}

namespace {

void show_picture(PlayerContext* ctx)
{
    FrameDisplay* d = &ctx->display;
    wait_until_due(ctx);
    if (BlitHook blit = blit_hook.load(std::memory_order_acquire))
        blit(blit_user.load(std::memory_order_relaxed), d->buffer_bits, int(d->buffer_pitch), d->client_width,
             d->client_height);
}

// The frame entry holding a frame gives its media time.
bool entry_time(PlayerContext* ctx, const AVFrame* frame, int32_t* time_ms)
{
    for (int slot : {SLOT_VIDEO, SLOT_AUDIO})
        for (const FrameEntry& e : ctx->slots[slot].frames)
            if (e.frame == frame) {
                *time_ms = e.time_ms;
                return true;
            }
    return false;
}

int write_text_file(const char* path, const char* text)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return 0;
    size_t length = strlen(text);
    bool written = fwrite(text, 1, length, f) == length;
    return fclose(f) == 0 && written ? 1 : 0;
}

int copy_to_files(void*, int format, const void* data)
{
    if (format == CLIPBOARD_TEXT && copy_text_target[0])
        return write_text_file(copy_text_target, static_cast<const char*>(data));
    if (format != CLIPBOARD_BITMAP || !copy_target[0])
        return 0;
    const ClipboardBitmap* b = static_cast<const ClipboardBitmap*>(data);
    return write_png(copy_target, b->bgrx, b->pitch, b->width, b->height) ? 1 : 0;
}

} // namespace

PictureFit fit_picture(int32_t W, int32_t H, uint32_t dw, uint32_t dh)
{
    if (dw == 0 || dh == 0)
        dw = dh = 1;
    int64_t ph = int64_t(W) * dh / dw, pw = W;
    if (ph > H) {
        ph = H;
        pw = int64_t(H) * dw / dh;
    }
    PictureFit fit;
    const int64_t side = W - pw;
    if (side >= 8) {
        fit.left = int32_t((side / 2) & ~int64_t(3));
        fit.width = int32_t((pw + 3) & ~int64_t(3));
    } else {
        fit.left = 0;
        fit.width = W;
    }
    const int64_t band = H - ph;
    if (band >= 2) {
        fit.top = int32_t(band / 2);
        fit.height = int32_t(ph);
    } else {
        fit.top = 0;
        fit.height = H;
    }
    return fit;
}

void render_subtitles(SubtitleState* subs, int32_t time_ms, uint8_t* buffer, int64_t pitch, int32_t width,
                      int32_t height)
{
    if (width <= 0 || height <= 0)
        return;
    // The images belong to the renderer, so the lock is held until they
    // are blended. They are cut to the target in case the renderer still
    // holds another frame size.
    SpinGuard guard(&subs->subtitle_lock);
    ASS_Image* images = subtitles_render(subs, time_ms, width, height, nullptr);
    blend_ass_images_clipped(images, buffer, pitch, width, height, 0);
}

void present_picture(PlayerContext* ctx, AVFrame* frame, int32_t time_ms)
{
    FrameDisplay* d = &ctx->display;
    // Copy request.
    const int32_t request = ctx->copy_request.exchange(0, std::memory_order_acq_rel);
    if (request == 2 || request == 3) {
        const char* message = copy_picture(ctx, frame, time_ms, request);
        show_notice(ctx, message, request == 3 ? "(字幕)" : "");
        if (ctx->window_visible.load(std::memory_order_relaxed) == 0)
            return;
    }
    // Size check.
    d->client_width = d->stored_width.load(std::memory_order_relaxed);
    d->client_height = d->stored_height.load(std::memory_order_relaxed);
    if (d->client_width <= 0 || d->client_height <= 0)
        d->client_width = d->client_height = 100; // not sized yet
    if (!frame_buffer_ensure(d)) {
        ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!d->current_font)
        osd_select_font(ctx, osd_font_of(ctx, FONT_OSD));
    // Border colour.
    const uint32_t border =
        cursor_hidden(ctx) == 0 && ctx->focus_state.load(std::memory_order_relaxed) < 0 ? BORDER_PURPLE : 0;
    // Background and content.
    const bool video = frame && frame->width != 0;
    if (video && present_frame_gl(ctx, frame, time_ms, border)) {
        stats_item_presenter(ctx, "gl");
        return;
    }
    // From here the frame buffer holds a picture, not a clear layer.
    d->layer_clean = 0;
    int32_t progress;
    if (video) {
        progress = draw_video(ctx, frame, time_ms, border);
        stats_item_presenter(ctx, "cpu");
    }
    else if (frame)
        progress = draw_audio(ctx, border);
    else
        progress = draw_idle(ctx, border);
    // Overlays.
    draw_overlays(ctx, progress, video);
    if (frame)
        take_snapshots(ctx, progress, d->buffer_bits, d->buffer_pitch);
    // Presenting.
    show_picture(ctx);
}

void present_frame(PlayerContext* ctx, AVFrame* frame)
{
    int32_t time_ms = 0;
    if (frame && !entry_time(ctx, frame, &time_ms))
        time_ms = ctx->clock_ms.load(std::memory_order_relaxed);
    present_picture(ctx, frame, time_ms);
}

// ---- setters and hooks ----

void render_set_client_size(PlayerContext* ctx, int w, int h)
{
    w = w < 1 ? 1 : w > MAX_CLIENT_SIDE ? MAX_CLIENT_SIDE : w;
    h = h < 1 ? 1 : h > MAX_CLIENT_SIDE ? MAX_CLIENT_SIDE : h;
    ctx->display.stored_width.store(w, std::memory_order_relaxed);
    ctx->display.stored_height.store(h, std::memory_order_relaxed);
}

void render_set_blit_hook(BlitHook blit, void* user)
{
    blit_user.store(user, std::memory_order_relaxed);
    blit_hook.store(blit, std::memory_order_release);
}

void render_set_clipboard_hook(ClipboardHook copy, void* user)
{
    clipboard_user.store(user, std::memory_order_relaxed);
    clipboard_hook.store(copy, std::memory_order_release);
}

int set_clipboard_data(PlayerContext* ctx, int format, const void* data)
{
    ClipboardHook copy = clipboard_hook.load(std::memory_order_acquire);
    return copy ? copy(clipboard_user.load(std::memory_order_relaxed), format, data) : 0;
}

void render_set_copy_target(const char* png_path)
{
    snprintf(copy_target, sizeof copy_target, "%s", png_path ? png_path : "");
    render_set_clipboard_hook(copy_to_files, nullptr);
}

void render_set_copy_text_target(const char* path)
{
    snprintf(copy_text_target, sizeof copy_text_target, "%s", path ? path : "");
    render_set_clipboard_hook(copy_to_files, nullptr);
}

bool render_add_snapshot(PlayerContext* ctx, int32_t ms, const char* png_path)
{
    FrameDisplay* d = &ctx->display;
    const int32_t i = d->snapshot_count.load(std::memory_order_relaxed);
    if (i >= MAX_SNAPSHOTS || !png_path || strlen(png_path) >= sizeof d->snapshots[i].path)
        return false;
    d->snapshots[i].at_ms = ms < 0 ? 0 : ms;
    d->snapshots[i].done.store(0, std::memory_order_relaxed);
    snprintf(d->snapshots[i].path, sizeof d->snapshots[i].path, "%s", png_path);
    d->snapshot_count.store(i + 1, std::memory_order_release);
    return true;
}

void render_leave_out_text(PlayerContext* ctx)
{
    ctx->display.text_left_out.store(1, std::memory_order_relaxed);
}

bool write_png(const char* path, const uint8_t* bgrx, int64_t pitch, int32_t width, int32_t height)
{
    if (!path || !bgrx || width <= 0 || height <= 0 || pitch < int64_t(width) * 4 || pitch % 4 != 0)
        return false;
    // The fourth byte is never shown; RGB24 ignores it.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<uint8_t*>(bgrx), CAIRO_FORMAT_RGB24,
                                                                   width, height, int(pitch));
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
              cairo_surface_write_to_png(surface, path) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}
