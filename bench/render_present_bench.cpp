// Frame presentation figures: one 1920x1080 picture built into a 960x540
// client with subtitles and the progress bar (median per picture), and the
// pixel kernels in megapixels per second, SSE2 against scalar.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <ass/ass.h>
#include <libavutil/frame.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "render/render_internal.h"
#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

AVFrame* test_picture(int w, int h)
{
    AVFrame* f = av_frame_alloc();
    f->width = w;
    f->height = h;
    f->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            f->data[0][y * f->linesize[0] + x] = uint8_t((x + y) & 0xFF);
    for (int p = 1; p < 3; p++)
        for (int y = 0; y < h / 2; y++)
            memset(f->data[p] + y * f->linesize[p], 64 * p, size_t(w / 2));
    return f;
}

const char SUBTITLE_SCRIPT[] =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    "Style: Default,Noto Sans CJK SC,64,&H00FFFFFF,&H00FFFFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,3,2,2,"
    "20,20,40,1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:00.00,0:10:00.00,Default,,0,0,0,,这是一行字幕 with some Latin text\\N第二行字幕在这里\n";

void bench_present(PlayerContext* ctx)
{
    ASS_Renderer* renderer = ass_renderer_init(ctx->subtitles.ass_library);
    ass_set_fonts(renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    ASS_Track* track = ass_new_track(ctx->subtitles.ass_library);
    ass_process_data(track, const_cast<char*>(SUBTITLE_SCRIPT), int(sizeof SUBTITLE_SCRIPT - 1));
    ctx->subtitles.sub_renderer = renderer;
    ctx->subtitles.sub_track.store(track);
    ctx->display_width = 1920;
    ctx->display_height = 1080;
    ctx->duration_ms = 600000;
    ctx->playing = 1;
    settings.show_progress = 1;
    render_set_client_size(ctx, 960, 540);
    AVFrame* frame = test_picture(1920, 1080);
    std::vector<double> times;
    for (int i = 0; i < 330; i++) {
        ctx->due_wall_ms = int32_t(now_ms());
        // Every picture a new time: libass renders afresh as in playback.
        const int32_t t = 1000 + i * 33;
        ctx->clock_ms = t;
        Clock::time_point start = Clock::now();
        present_picture(ctx, frame, t);
        if (i >= 30)
            times.push_back(seconds_since(start) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    printf("present_frame 1920x1080 -> 960x540, subtitles + progress bar: median %.3f ms per picture "
           "(p10 %.3f, p90 %.3f, %zu pictures)\n",
           times[times.size() / 2], times[times.size() / 10], times[times.size() * 9 / 10], times.size());
    ctx->subtitles.sub_track.store(nullptr);
    ctx->subtitles.sub_renderer = nullptr;
    ass_free_track(track);
    ass_renderer_done(renderer);
    av_frame_free(&frame);
}

using Kernel = void (*)(uint8_t*, int64_t, int32_t, int32_t, uint32_t);

double kernel_rate(Kernel k, uint8_t* buffer, int64_t pitch, int32_t w, int32_t h)
{
    const int rounds = 200;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; i++)
        k(buffer + 4, pitch, w, h, 0x00330033u + uint32_t(i & 1));
    return double(w) * h * rounds / seconds_since(start) / 1e6;
}

void bench_darkening()
{
    // A text box somewhere in a 960x540 buffer: 419 pixels wide (a masked
    // left group), 40 rows.
    const int64_t pitch = 960 * 4;
    std::vector<uint8_t> buffer(size_t(pitch) * 540 + 64, 0x80);
    struct Row {
        const char* name;
        Kernel simd, scalar;
    } rows[] = {
        {"text box darkening", darken_halve, darken_halve_scalar},
        {"band darkening", darken_subtract, darken_subtract_scalar},
        {"notice box", darken_average, darken_average_scalar},
        {"rectangle fill", fill_pixels, fill_pixels_scalar},
    };
    for (const Row& r : rows) {
        double simd = kernel_rate(r.simd, buffer.data(), pitch, 419, 40);
        double scalar = kernel_rate(r.scalar, buffer.data(), pitch, 419, 40);
        double whole_simd = kernel_rate(r.simd, buffer.data(), pitch, 955, 540);
        double whole_scalar = kernel_rate(r.scalar, buffer.data(), pitch, 955, 540);
        printf("%-20s 419x40: SSE2 %8.0f MP/s, scalar %7.0f MP/s (x%.1f); 955x540: SSE2 %8.0f, scalar %7.0f "
               "(x%.1f)\n",
               r.name, simd, scalar, simd / scalar, whole_simd, whole_scalar, whole_simd / whole_scalar);
    }
}

void bench_blend(PlayerContext* ctx)
{
    // Real libass output: the two subtitle lines at 1920x1080 (glyphs,
    // outline and shadow images).
    ASS_Renderer* renderer = ass_renderer_init(ctx->subtitles.ass_library);
    ass_set_fonts(renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    ass_set_frame_size(renderer, 1920, 1080);
    ASS_Track* track = ass_new_track(ctx->subtitles.ass_library);
    ass_process_data(track, const_cast<char*>(SUBTITLE_SCRIPT), int(sizeof SUBTITLE_SCRIPT - 1));
    ASS_Image* images = ass_render_frame(renderer, track, 1000, nullptr);
    double pixels = 0;
    for (ASS_Image* i = images; i; i = i->next)
        pixels += double(i->w) * i->h;
    const int64_t pitch = 1920 * 4;
    std::vector<uint8_t> buffer(size_t(pitch) * 1080, 0x40);
    using Blend = void (*)(const ASS_Image*, uint8_t*, int64_t, uint32_t);
    auto rate = [&](Blend blend) {
        const int rounds = 300;
        Clock::time_point start = Clock::now();
        for (int r = 0; r < rounds; r++)
            blend(images, buffer.data(), pitch, 0);
        return pixels * rounds / seconds_since(start) / 1e6;
    };
    double simd = rate(blend_ass_images), scalar = rate(blend_ass_images_scalar);
    printf("blend_ass_images (%.0f image pixels per picture): SSE2 %.0f MP/s, scalar %.0f MP/s (x%.1f)\n", pixels,
           simd, scalar, simd / scalar);
    ass_free_track(track);
    ass_renderer_done(renderer);
}

} // namespace

// Usage: render_present_bench [present|blend|darken]; all three by default.
int main(int argc, char** argv)
{
    const char* only = argc > 1 ? argv[1] : "";
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    if (!*only || !strcmp(only, "present"))
        bench_present(ctx);
    if (!*only || !strcmp(only, "blend"))
        bench_blend(ctx);
    if (!*only || !strcmp(only, "darken"))
        bench_darkening();
    display_free(&ctx->display);
    player_context_free(ctx);
    return 0;
}
