// What the first picture in a window does not need is set up after it: the
// fonts of the OSD renderer, which only the clock overlay uses. Font set-up
// reads the whole font configuration, so before the first picture it would
// only compete with opening the item and decoding for the cores.
#include <sys/resource.h>
#include <unistd.h>

extern "C" {
#include <ass/ass.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"
#include "render/render.h"

namespace {

// Longest the helper waits for the first picture (an item without video, or
// no item at all, shows none).
constexpr uint32_t FIRST_PICTURE_WAIT_MS = 2000;

void deferred_setup_thread(PlayerContext* ctx)
{
    // At full priority: the first picture's text waits for it.
    render_warm_fonts(nullptr);
    // Below the engine threads, so that playback keeps its cores.
    setpriority(PRIO_PROCESS, pid_t(gettid()), 10);
    uint32_t start = now_ms();
    while (ctx->pictures_shown.load(std::memory_order_relaxed) == 0 && now_ms() - start < FIRST_PICTURE_WAIT_MS)
        delay_100ns(SLEEP_10MS);
    osd_fonts_setup(ctx);
}

} // namespace

void osd_fonts_setup(PlayerContext* ctx)
{
    // Once: the first caller sets the fonts up, later ones wait for it.
    int32_t expected = 0;
    if (ctx->osd_fonts_state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        if (ctx->osd_renderer)
            ass_set_fonts(ctx->osd_renderer, nullptr, nullptr, ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
        ctx->osd_fonts_state.store(2, std::memory_order_release);
        ctx->osd_fonts_ready.store(1, std::memory_order_release);
        return;
    }
    Backoff backoff{};
    while (ctx->osd_fonts_state.load(std::memory_order_acquire) != 2)
        backoff_pause(&backoff);
}

bool start_deferred_setup(PlayerContext* ctx)
{
    return start_thread(ctx, deferred_setup_thread);
}
