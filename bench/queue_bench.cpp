// Hand-overs per second through the packet ring (demux loop -> decoder,
// including the per-packet node allocation) and through a frame ring
// (decoder -> presentation), each between two real threads.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "queue/queue.h"

static double packet_ring_rate(uint32_t count)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    ctx->slots[SLOT_VIDEO].stream_index = 0;
    auto start = std::chrono::steady_clock::now();
    std::thread decoder([&] {
        uint32_t received = 0;
        StreamSlot* slot = &ctx->slots[SLOT_VIDEO];
        while (received < count) {
            if (ring_move_to_slot(ctx) < 0) {
                std::this_thread::yield();
                continue;
            }
            packet_node_release(slot, &ctx->packets_in_flight);
            received++;
        }
    });
    PacketNode* spare = packet_node_new(&ctx->packets_in_flight);
    for (uint32_t i = 0; i < count; i++) {
        while (ring_is_full(&ctx->ring))
            std::this_thread::yield();
        spare = ring_push(ctx, spare, &ctx->packets_in_flight, (ctx->ring.ring_write.load() + 1) & RING_MASK);
    }
    decoder.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    av_packet_free(&spare->packet);
    free(spare);
    player_context_free(ctx);
    return count / seconds;
}

static double frame_ring_rate(uint32_t count)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    StreamSlot* slot = &ctx->slots[SLOT_AUDIO];
    auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        for (uint32_t i = 0; i < count; i++) {
            while (!frame_ring_has_room(slot))
                std::this_thread::yield();
            uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
            slot->frames[w].time_ms = int32_t(i);
            slot->frames_write.store((w + 1) & FRAME_RING_MASK, std::memory_order_release);
        }
    });
    for (uint32_t taken = 0; taken < count;) {
        uint32_t r = slot->frames_read.load(std::memory_order_relaxed);
        if (r == slot->frames_write.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            continue;
        }
        taken++;
        slot->frames_read.store((r + 1) & FRAME_RING_MASK, std::memory_order_release);
    }
    producer.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    player_context_free(ctx);
    return count / seconds;
}

int main(int argc, char** argv)
{
    uint32_t count = argc > 1 ? uint32_t(atol(argv[1])) : 5000000u;
    printf("packet ring: %.2f million hand-overs/s\n", packet_ring_rate(count) / 1e6);
    printf("frame ring:  %.2f million hand-overs/s\n", frame_ring_rate(count) / 1e6);
    return 0;
}
