// The clock overlay's cost per update: the time rendered by libass in the OSD
// style for a full-screen 1920 x 1080 client area, its box blended into the
// overlay's pixels. The first update of each new text renders its glyphs;
// the overlay changes its text once a second, so that is the figure.
#include <ass/ass.h>

#include <chrono>
#include <cstdio>

#include "core/core.h"
#include "engine/engine.h"
#include "render/render_internal.h"

namespace {

int shown;
void count_show(void*, const uint8_t*, int64_t, int32_t, int32_t, int32_t, int32_t, const OsdRect*)
{
    shown++;
}

} // namespace

int main()
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    ass_set_fonts(ctx->osd_renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    ctx->osd_fonts_ready.store(1);
    render_set_client_size(ctx, 1920, 1080);
    render_set_clock_hooks(count_show, nullptr, nullptr);
    update_clock_overlay(ctx); // the first one loads the font
    const int rounds = 200;
    double total_ms = 0;
    for (int i = 0; i < rounds; i++) {
        // Each update shows another second: new text, as once a second.
        snprintf(ctx->osd_event_text, 32, "%d:%02d:%02d", i / 3600, i / 60 % 60, i % 60);
        auto start = std::chrono::steady_clock::now();
        draw_clock_overlay(ctx);
        total_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    printf("clock overlay update at 1920x1080: %.3f ms each (%d updates shown)\n", total_ms / rounds, shown);
    return 0;
}
