// The presentation thread: keeps the media clock, hands audio to the sound
// device, takes video frames when due and runs the 100 ms housekeeping tick.
#include "app/player_context.h"
#include "engine/timing.h"

void presentation_thread(PlayerContext* ctx)
{
    for (;;) {
        uint32_t now = now_ms();
        uint32_t elapsed = now - ctx->clock_wall_ms.load(std::memory_order_relaxed);
        if (elapsed > 100)
            elapsed = 100;
        ctx->tick_ms -= int32_t(elapsed);
        if (ctx->tick_ms < 0)
            ctx->tick_ms += 100;
        ctx->due_wall_ms.store(int32_t(now), std::memory_order_relaxed);
        ctx->clock_wall_ms.store(now, std::memory_order_release);
        ctx->frame_taken.store(0, std::memory_order_relaxed);
        delay_100ns(SLEEP_10MS);
    }
}
