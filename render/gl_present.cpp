// The GL presentation path's driver: one video picture drawn through
// OpenGL in the order of the CPU path (background and picture, subtitles,
// information line, overlays), then shown at its due time. Any failure of
// the path itself leaves it for good, with one line on stderr, and the CPU
// path draws from the same picture on.
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/frame.h>
}

#include "core/core.h"
#include "platform/platform.h"
#include "render/gl_internal.h"
#include "settings/settings.h"

namespace {

GlPresenter* presenter_for(PlayerContext* ctx)
{
    FrameDisplay* d = &ctx->display;
    const int32_t mode = d->gpu_mode.load(std::memory_order_relaxed);
    if (mode <= RENDER_GPU_OFF)
        return nullptr;
    if (d->gl)
        return d->gl;
    if (mode == RENDER_GPU_AUTO && !gpu_device_present(nullptr, getenv("LIBGL_ALWAYS_SOFTWARE"))) {
        fputs("moravista: OpenGL runs in software here (no GPU device); pictures are drawn on the CPU "
              "(--gpu draws with it anyway)\n", stderr);
        d->gpu_mode.store(RENDER_GPU_OFF, std::memory_order_relaxed);
        return nullptr;
    }
    void* native_display = nullptr;
    unsigned long native_window = 0;
    if (mode != RENDER_GPU_OFFSCREEN) {
        // Until the window has its picture child, the CPU path draws.
        void* window = d->picture_window.load(std::memory_order_acquire);
        if (!window || !platform_picture_target(window, &native_display, &native_window))
            return nullptr;
    }
    GlPresenter* gl = gl_presenter_new(native_display, native_window);
    if (!gl) {
        d->gpu_mode.store(RENDER_GPU_FAILED, std::memory_order_relaxed);
        return nullptr;
    }
    if (mode == RENDER_GPU_AUTO && gl->software_renderer) {
        fprintf(stderr, "moravista: OpenGL runs in software here (%s); pictures are drawn on the CPU "
                        "(--gpu draws with it anyway)\n", gl->renderer);
        gl_presenter_free(gl);
        d->gpu_mode.store(RENDER_GPU_OFF, std::memory_order_relaxed);
        return nullptr;
    }
    d->gl = gl;
    return gl;
}

void leave_path(PlayerContext* ctx, const char* why)
{
    FrameDisplay* d = &ctx->display;
    fprintf(stderr, "moravista: the GPU path failed (%s); pictures are drawn on the CPU\n", why);
    gl_presenter_release(ctx);
    d->gpu_mode.store(RENDER_GPU_FAILED, std::memory_order_relaxed);
}

// The picture rectangle of the GL path is the CPU path's, to the pixel
// (the drawn width even, as the scaler makes it), so that the picture does
// not move when one path takes over from the other.
OsdRect picture_rect(const PictureFit& fit)
{
    return OsdRect{fit.left, fit.top, fit.left + ((fit.width + 1) & ~1), fit.top + fit.height};
}

void clear_to(uint32_t pattern)
{
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(float((pattern >> 16) & 0xFF) / 255.0f, float((pattern >> 8) & 0xFF) / 255.0f,
                 float(pattern & 0xFF) / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // What follows blends colours only; the surface stays opaque.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
}

void write_snapshots(PlayerContext* ctx, GlPresenter* gl, int32_t time_ms)
{
    FrameDisplay* d = &ctx->display;
    if (!snapshot_due(ctx, time_ms))
        return;
    const int64_t pitch = int64_t(d->client_width) * 4;
    auto* pixels = static_cast<uint8_t*>(malloc(size_t(pitch) * size_t(d->client_height)));
    if (pixels && gl_read_pixels(gl, d->client_width, d->client_height, pixels, pitch))
        take_snapshots(ctx, time_ms, pixels, pitch);
    free(pixels);
}

} // namespace

bool present_frame_gl(PlayerContext* ctx, AVFrame* frame, int32_t time_ms, uint32_t border)
{
    FrameDisplay* d = &ctx->display;
    GlPresenter* gl = presenter_for(ctx);
    if (!gl)
        return false;
    const int32_t W = d->client_width, H = d->client_height;
    if (!gl_target_begin(gl, W, H)) {
        leave_path(ctx, "its context was lost");
        return false;
    }
    gl->client_width = W;
    gl->client_height = H;
    uint32_t dw = ctx->display_width.load(std::memory_order_relaxed);
    uint32_t dh = ctx->display_height.load(std::memory_order_relaxed);
    if (dw == 0 || dh == 0) {
        dw = uint32_t(frame->width > 0 ? frame->width : 1);
        dh = uint32_t(frame->height > 0 ? frame->height : 1);
    }
    const PictureFit fit = fit_picture(W, H, dw, dh);
    // The bars' colour everywhere, then the picture over it.
    clear_to(border);
    gl_draw_picture(ctx, gl, frame, picture_rect(fit)); // a picture that cannot be shown leaves the bars' colour
    const OsdRect picture{fit.left, fit.top, fit.left + fit.width, fit.top + fit.height};
    gl_draw_bitmap_subtitles(ctx, gl, time_ms, picture);
    if (ctx->subtitles.sub_track.load(std::memory_order_acquire)) {
        if (settings.subs_outside.load(std::memory_order_relaxed))
            gl_draw_text_subtitles(ctx, gl, time_ms, 0, 0, W, H);
        else
            gl_draw_text_subtitles(ctx, gl, time_ms, fit.left, fit.top, fit.width, fit.height);
    }
    d->gl_drawing = 1;
    if (osd_layer_begin(ctx, &gl->osd)) {
        draw_info_line(ctx, frame, time_ms, fit.width, fit.height);
        draw_overlays(ctx, time_ms, true);
        osd_layer_end(ctx);
        gl_draw_layer(ctx, gl);
    }
    d->gl_drawing = 0;
    write_snapshots(ctx, gl, time_ms);
    wait_until_due(ctx);
    if (!gl_target_finish(gl)) {
        leave_path(ctx, "its context was lost");
        return false;
    }
    return true;
}

void gl_presenter_release(PlayerContext* ctx)
{
    FrameDisplay* d = &ctx->display;
    if (!d->gl)
        return;
    osd_layer_free(&d->gl->osd);
    gl_presenter_free(d->gl);
    d->gl = nullptr;
    // The layer's pixels are not known to be clear any more.
    d->layer_clean = 0;
}

void render_set_gpu_mode(PlayerContext* ctx, int32_t mode)
{
    ctx->display.gpu_mode.store(mode, std::memory_order_relaxed);
}

int32_t render_gpu_mode(PlayerContext* ctx)
{
    return ctx->display.gpu_mode.load(std::memory_order_relaxed);
}

void render_set_picture_window(PlayerContext* ctx, void* window)
{
    ctx->display.picture_window.store(window, std::memory_order_release);
}
