// Holding presentation while the media thread rewrites what frame
// presentation reads, and waiting for a drawing in progress.
#include "core/core.h"
#include "engine/engine_internal.h"

void hold_presentation(PlayerContext* ctx)
{
    // Both sides store their own flag and then read the other's, all
    // sequentially consistent: either the drawing pass sees the hold and
    // draws nothing, or the hold sees it drawing and waits until it is done.
    // Its reads then happen before what the holder does next.
    ctx->presentation_hold.store(1, std::memory_order_seq_cst);
    while (ctx->presentation_drawing.load(std::memory_order_seq_cst) != 0)
        delay_100ns(SLEEP_1MS);
}

void wait_for_drawing(PlayerContext* ctx)
{
    for (int i = 0; i < 1000 && ctx->presentation_drawing.load(std::memory_order_seq_cst) != 0; i++)
        delay_100ns(SLEEP_1MS);
}

void release_presentation(PlayerContext* ctx)
{
    ctx->presentation_hold.store(0, std::memory_order_release);
}
