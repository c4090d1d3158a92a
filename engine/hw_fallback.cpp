// A video stream whose decoding on the device failed (its surfaces ran out,
// the device went away) is reopened in software at the current position,
// the way a track switch reopens a stream, without a notice.
#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "stats/stats.h"

void handle_hw_fallback(PlayerContext* ctx)
{
    if (!hw_fallback_wanted(ctx))
        return;
    // The display size and aspect text are written again: nothing is drawn meanwhile.
    hold_presentation(ctx);
    stats_engine_seek(ctx, SEEK_BY_SWITCH);
    const int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    request_seek_unless_pending(ctx, clock > 0 ? clock : 0, 0);
    drain_slot(ctx, &ctx->slots[SLOT_VIDEO]);
    // hw_usable is 0 now, so the stream opens for software decoding.
    open_video(ctx, ctx->video_choice.load(std::memory_order_relaxed));
    release_presentation(ctx);
}
