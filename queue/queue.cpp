#include "queue/queue.h"

#include <cstdlib>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

PacketNode* packet_node_new(std::atomic<int32_t>* packets_in_flight)
{
    packets_in_flight->fetch_add(1, std::memory_order_relaxed);
    auto* node = static_cast<PacketNode*>(malloc(sizeof(PacketNode)));
    if (!node)
        abort(); // out of memory: nothing sensible is left to do
    node->next = nullptr;
    node->packet = av_packet_alloc(); // initialised: data null, size 0
    if (!node->packet)
        abort();
    return node;
}

void packet_node_free(PacketNode* node, std::atomic<int32_t>* packets_in_flight)
{
    // The release ordering hands the packet's memory back before the demux
    // loop can see the count drop.
    packets_in_flight->fetch_sub(1, std::memory_order_release);
    av_packet_free(&node->packet);
    free(node);
}

void packet_node_release(StreamSlot* slot, std::atomic<int32_t>* packets_in_flight)
{
    PacketNode* head = slot->packets_head.load(std::memory_order_relaxed);
    if (!head)
        return;
    PacketNode* next = head->next;
    slot->packets_head.store(next, std::memory_order_release);
    if (!next)
        slot->packets_tail = nullptr;
    packet_node_free(head, packets_in_flight);
}

bool ring_is_empty(const PacketRing* ring)
{
    return ring->ring_write.load(std::memory_order_acquire) == ring->ring_read.load(std::memory_order_acquire);
}

bool ring_is_full(const PacketRing* ring)
{
    return ((ring->ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK) ==
           ring->ring_read.load(std::memory_order_acquire);
}

PacketNode* ring_push(PlayerContext* ctx, PacketNode* spare, std::atomic<int32_t>* packets_in_flight,
                      uint32_t next_write)
{
    PacketRing* ring = &ctx->ring;
    uint32_t w = ring->ring_write.load(std::memory_order_relaxed);
    ring->entries[w] = spare;
    ring->entry_stream[w] = spare->packet->stream_index;
    ring->ring_write.store(next_write & RING_MASK, std::memory_order_release);
    return packet_node_new(packets_in_flight);
}

void ring_push_node(PlayerContext* ctx, PacketNode* node)
{
    PacketRing* ring = &ctx->ring;
    uint32_t w = ring->ring_write.load(std::memory_order_relaxed);
    ring->entries[w] = node;
    ring->entry_stream[w] = node->packet->stream_index;
    ring->ring_write.store((w + 1) & RING_MASK, std::memory_order_release);
}

void slot_append_packet(StreamSlot* slot, PacketNode* node)
{
    node->next = nullptr;
    if (slot->packets_tail)
        slot->packets_tail->next = node;
    else
        slot->packets_head.store(node, std::memory_order_release);
    slot->packets_tail = node;
}

int ring_move_to_slot(PlayerContext* ctx)
{
    PacketRing* ring = &ctx->ring;
    uint32_t r = ring->ring_read.load(std::memory_order_relaxed);
    if (r == ring->ring_write.load(std::memory_order_acquire))
        return -1;
    PacketNode* node = ring->entries[r];
    int32_t stream = ring->entry_stream[r];
    int target = -1;
    for (int s = 0; s < SLOT_COUNT; s++) {
        if (ctx->slots[s].stream_index.load(std::memory_order_acquire) == stream) {
            target = s;
            break;
        }
    }
    if (target >= 0)
        slot_append_packet(&ctx->slots[target], node);
    else
        packet_node_free(node, &ctx->packets_in_flight); // its stream was closed meanwhile
    ring->ring_read.store((r + 1) & RING_MASK, std::memory_order_release);
    return target;
}

uint32_t frames_waiting(const StreamSlot* slot)
{
    return (slot->frames_write.load(std::memory_order_acquire) - slot->frames_read.load(std::memory_order_acquire)) &
           FRAME_RING_MASK;
}

bool frame_ring_has_room(const StreamSlot* slot)
{
    return frames_waiting(slot) <= FRAME_RING_MAX_WAITING_TO_FILL;
}

void frame_ring_init(StreamSlot* slot)
{
    for (FrameEntry& e : slot->frames) {
        if (!e.frame)
            e.frame = av_frame_alloc();
        if (!e.frame)
            abort();
    }
}

void frame_ring_unref_all(StreamSlot* slot)
{
    uint32_t start = (slot->frames_read.load(std::memory_order_acquire) - 1) & FRAME_RING_MASK;
    for (uint32_t k = 0; k < FRAME_RING_SIZE; k++)
        av_frame_unref(slot->frames[(start + k) & FRAME_RING_MASK].frame);
}

void frame_take_swap(StreamSlot* slot)
{
    // The frames are held by pointer, so exchanging the records cannot leave
    // a record pointing into the other entry's data array.
    uint32_t r = slot->frames_read.load(std::memory_order_relaxed);
    FrameEntry& taken = slot->frames[r & FRAME_RING_MASK];
    FrameEntry& current = slot->frames[(r - 1) & FRAME_RING_MASK];
    std::swap(taken.frame, current.frame);
    std::swap(taken.time_ms, current.time_ms);
}

void flush_frames(PlayerContext* ctx, int with_audio)
{
    uint32_t seen = ctx->clock_wall_ms.load(std::memory_order_acquire);
    // Waits for a video decode call in progress.
    spin_lock(&ctx->video_decode_lock);
    spin_unlock(&ctx->video_decode_lock);
    // Waits until presentation has finished the pass in which it may still
    // have been using a frame: it writes clock_wall_ms on every pass.
    Backoff backoff{};
    while (ctx->clock_wall_ms.load(std::memory_order_acquire) == seen)
        backoff_pause(&backoff);
    SpinGuard guard(&ctx->video_decode_lock);
    frame_ring_unref_all(&ctx->slots[SLOT_VIDEO]);
    if (with_audio)
        frame_ring_unref_all(&ctx->slots[SLOT_AUDIO]);
}

static bool ring_holds_stream(const PacketRing* ring, int32_t stream)
{
    uint32_t r = ring->ring_read.load(std::memory_order_acquire);
    uint32_t w = ring->ring_write.load(std::memory_order_acquire);
    for (uint32_t i = r; i != w; i = (i + 1) & RING_MASK) {
        if (ring->entry_stream[i] == stream)
            return true;
    }
    return false;
}

void drain_slot(PlayerContext* ctx, StreamSlot* slot)
{
    for (;; delay_100ns(SLEEP_1MS)) {
        if (ctx->decoder_busy.load(std::memory_order_acquire) != 0)
            continue;
        if (ring_holds_stream(&ctx->ring, slot->stream_index.load(std::memory_order_relaxed)))
            continue;
        if (slot->packets_head.load(std::memory_order_acquire) != nullptr)
            continue;
        if (slot->frames_write.load(std::memory_order_acquire) == slot->frames_read.load(std::memory_order_acquire))
            return;
    }
}
