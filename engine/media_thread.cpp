// The media thread: takes open and stop requests and runs the demux loop of
// the open item.
#include "app/player_context.h"
#include "engine/timing.h"

void media_thread(PlayerContext* ctx)
{
    for (;;) {
        int32_t index = ctx->open_index.exchange(-1, std::memory_order_acquire);
        if (index >= 0) {
            ctx->open_request.store(0, std::memory_order_relaxed);
            close_item(ctx); // opening items arrives with the playback engine
        }
        delay_100ns(SLEEP_10MS);
    }
}
