// The decoder thread: moves packets from the hand-over ring into their
// slots and turns them into frames.
#include "app/player_context.h"
#include "engine/timing.h"

void decoder_thread(PlayerContext* ctx)
{
    for (;;) {
        // Until decoding lands, packets are handed to their slots and released.
        while (!ring_is_empty(&ctx->ring))
            ring_move_to_slot(ctx);
        for (StreamSlot& slot : ctx->slots) {
            while (slot.packets_head.load(std::memory_order_relaxed))
                packet_node_release(&slot, &ctx->packets_in_flight);
        }
        delay_100ns(SLEEP_10MS);
    }
}
