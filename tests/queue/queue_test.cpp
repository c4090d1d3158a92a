// The hand-over ring, the slot packet lists and the frame rings between real
// threads, and the routines that bring them to rest.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "queue/queue.h"
#include "support/stress.h"

namespace {

struct ContextFixture : ::testing::Test {
    PlayerContext* ctx = nullptr;
    void SetUp() override
    {
        ctx = player_context_new();
        ASSERT_NE(ctx, nullptr);
        player_setup(ctx);
    }
    void TearDown() override { player_context_free(ctx); }
};

using Queues = ContextFixture;

// The demux side: pushes `count` packets spread over `streams` streams, each
// carrying its sequence number as pts, then returns its spare node's count.
void push_packets(PlayerContext* ctx, uint32_t count, int streams)
{
    PacketNode* spare = packet_node_new(&ctx->packets_in_flight);
    for (uint32_t i = 0; i < count; i++) {
        spare->packet->pts = i;
        spare->packet->stream_index = int(i % uint32_t(streams));
        while (ring_is_full(&ctx->ring))
            std::this_thread::yield();
        spare = ring_push(ctx, spare, &ctx->packets_in_flight,
                          (ctx->ring.ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK);
    }
    av_packet_free(&spare->packet);
    free(spare);
    ctx->packets_in_flight.fetch_sub(1);
}

TEST_F(Queues, millions_of_packets_reach_their_slots_once_and_in_order)
{
    const uint32_t count = 2000000 / STRESS_SCALE;
    for (int s = 0; s < SLOT_COUNT; s++)
        ctx->slots[s].stream_index.store(s);
    std::atomic<bool> failed{false};
    std::thread decoder([&] {
        int64_t next_pts[SLOT_COUNT] = {0, 1, 2};
        uint32_t received = 0;
        while (received < count) {
            if (ring_move_to_slot(ctx) < 0) {
                std::this_thread::yield();
                continue;
            }
            for (int s = 0; s < SLOT_COUNT; s++) {
                StreamSlot* slot = &ctx->slots[s];
                while (PacketNode* head = slot->packets_head.load()) {
                    if (head->packet->pts != next_pts[s] || head->packet->stream_index != s)
                        failed = true;
                    next_pts[s] += SLOT_COUNT;
                    received++;
                    packet_node_release(slot, &ctx->packets_in_flight);
                }
            }
        }
    });
    push_packets(ctx, count, SLOT_COUNT);
    decoder.join();
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(ctx->packets_in_flight.load(), 0);
    EXPECT_TRUE(ring_is_empty(&ctx->ring));
}

TEST_F(Queues, a_full_ring_holds_fifteen_packets_and_takes_more_once_one_leaves)
{
    ctx->slots[SLOT_VIDEO].stream_index.store(0);
    ctx->packets_in_flight = -1; // as the demux loop starts
    PacketNode* spare = packet_node_new(&ctx->packets_in_flight);
    int pushed = 0;
    while (!ring_is_full(&ctx->ring)) {
        spare->packet->stream_index = 0;
        spare = ring_push(ctx, spare, &ctx->packets_in_flight, (ctx->ring.ring_write.load() + 1) & RING_MASK);
        pushed++;
    }
    EXPECT_EQ(pushed, 15);
    EXPECT_EQ(ctx->packets_in_flight.load(), 15); // the spare is not counted
    EXPECT_EQ(ring_move_to_slot(ctx), SLOT_VIDEO);
    EXPECT_FALSE(ring_is_full(&ctx->ring));
    // Nothing may stay behind: release everything.
    while (ring_move_to_slot(ctx) >= 0) {
    }
    while (ctx->slots[SLOT_VIDEO].packets_head.load())
        packet_node_release(&ctx->slots[SLOT_VIDEO], &ctx->packets_in_flight);
    av_packet_free(&spare->packet);
    free(spare);
}

TEST_F(Queues, a_packet_of_a_closed_stream_is_released_not_lost)
{
    ctx->packets_in_flight = -1;
    PacketNode* spare = packet_node_new(&ctx->packets_in_flight);
    spare->packet->stream_index = 7;
    spare = ring_push(ctx, spare, &ctx->packets_in_flight, 1);
    EXPECT_EQ(ring_move_to_slot(ctx), -1);
    EXPECT_TRUE(ring_is_empty(&ctx->ring));
    EXPECT_EQ(ctx->packets_in_flight.load(), 0);
    av_packet_free(&spare->packet);
    free(spare);
}

TEST_F(Queues, frame_ring_room_rule_allows_six_waiting_frames)
{
    StreamSlot* slot = &ctx->slots[SLOT_VIDEO];
    struct Case {
        uint32_t write, read;
        bool room;
    } cases[] = {{0, 0, true}, {5, 0, true}, {6, 0, false}, {7, 1, false}, {3, 6, true}, {4, 6, false}, {2, 4, false}};
    for (const Case& c : cases) {
        slot->frames_write = c.write;
        slot->frames_read = c.read;
        EXPECT_EQ(frame_ring_has_room(slot), c.room) << "write " << c.write << " read " << c.read;
    }
}

TEST_F(Queues, frames_cross_between_threads_in_order)
{
    StreamSlot* slot = &ctx->slots[SLOT_AUDIO];
    const int32_t count = int32_t(2000000 / STRESS_SCALE);
    std::thread producer([&] {
        for (int32_t i = 0; i < count; i++) {
            while (!frame_ring_has_room(slot))
                std::this_thread::yield();
            uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
            slot->frames[w].time_ms = i;
            slot->frames[w].audio_bytes = i * 3;
            slot->frames_write.store((w + 1) & FRAME_RING_MASK, std::memory_order_release);
        }
    });
    int32_t expected = 0;
    bool in_order = true;
    while (expected < count) {
        uint32_t r = slot->frames_read.load(std::memory_order_relaxed);
        if (r == slot->frames_write.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            continue;
        }
        if (slot->frames[r].time_ms != expected || slot->frames[r].audio_bytes != expected * 3)
            in_order = false;
        expected++;
        slot->frames_read.store((r + 1) & FRAME_RING_MASK, std::memory_order_release);
    }
    producer.join();
    EXPECT_TRUE(in_order);
}

TEST_F(Queues, frame_take_swap_keeps_the_current_picture)
{
    StreamSlot* slot = &ctx->slots[SLOT_VIDEO];
    // Entry 0 is current (frames_read 1), entry 1 waits and is discarded.
    for (int i = 0; i < 2; i++) {
        AVFrame* f = slot->frames[i].frame;
        f->format = AV_PIX_FMT_GRAY8;
        f->width = 16 + i;
        f->height = 4;
        ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
        f->data[0][0] = uint8_t(0xA0 + i);
        slot->frames[i].time_ms = 1000 + i;
    }
    slot->frames_read = 1;
    slot->frames_write = 2;
    frame_take_swap(slot);
    slot->frames_read = 2;
    const FrameEntry& current = slot->frames[current_frame_index(slot)];
    EXPECT_EQ(current.frame->data[0][0], 0xA0);
    EXPECT_EQ(current.frame->width, 16);
    EXPECT_EQ(current.time_ms, 1000);
    for (int i = 0; i < 2; i++) {
        AVFrame* f = slot->frames[i].frame;
        EXPECT_EQ(f->extended_data, f->data) << "entry " << i << " points into the other record";
    }
    // The discarded frame waits in the entry the decoder fills next.
    EXPECT_EQ(slot->frames[0].frame->data[0][0], 0xA1);
}

TEST_F(Queues, flush_frames_waits_for_a_presentation_pass_and_keeps_the_indices)
{
    StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    StreamSlot* audio = &ctx->slots[SLOT_AUDIO];
    for (StreamSlot* slot : {video, audio}) {
        for (FrameEntry& e : slot->frames) {
            e.frame->format = AV_PIX_FMT_GRAY8;
            e.frame->width = e.frame->height = 8;
            ASSERT_EQ(av_frame_get_buffer(e.frame, 0), 0);
        }
        slot->frames_write = 5;
        slot->frames_read = 2;
    }
    ctx->clock_wall_ms = 100;
    std::atomic<bool> done{false};
    std::thread flusher([&] {
        flush_frames(ctx, 0);
        done = true;
    });
    delay_100ns(SLEEP_30MS);
    EXPECT_FALSE(done.load()) << "flush_frames returned before presentation finished a pass";
    ctx->clock_wall_ms = 101; // the presentation thread completes a pass
    flusher.join();
    for (const FrameEntry& e : video->frames)
        EXPECT_EQ(e.frame->buf[0], nullptr);
    for (const FrameEntry& e : audio->frames)
        EXPECT_NE(e.frame->buf[0], nullptr) << "audio frames stay without the with-audio argument";
    EXPECT_EQ(video->frames_write.load(), 5u);
    EXPECT_EQ(video->frames_read.load(), 2u);
}

TEST_F(Queues, drain_slot_waits_for_packets_deeper_in_the_ring)
{
    StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    StreamSlot* audio = &ctx->slots[SLOT_AUDIO];
    video->stream_index = 0;
    audio->stream_index = 1;
    PacketNode* spare = packet_node_new(&ctx->packets_in_flight);
    for (int stream : {1, 1, 0}) { // the video packet sits behind two audio packets
        spare->packet->stream_index = stream;
        spare = ring_push(ctx, spare, &ctx->packets_in_flight, (ctx->ring.ring_write.load() + 1) & RING_MASK);
    }
    std::atomic<bool> done{false};
    std::thread drainer([&] {
        drain_slot(ctx, video);
        done = true;
    });
    ring_move_to_slot(ctx);
    ring_move_to_slot(ctx);
    delay_100ns(SLEEP_30MS);
    EXPECT_FALSE(done.load()) << "drain_slot returned while its packet was still in the ring";
    ring_move_to_slot(ctx);
    delay_100ns(SLEEP_30MS);
    EXPECT_FALSE(done.load()) << "drain_slot returned while its packet waited in the slot";
    packet_node_release(video, &ctx->packets_in_flight);
    drainer.join();
    EXPECT_TRUE(done.load());
    while (audio->packets_head.load())
        packet_node_release(audio, &ctx->packets_in_flight);
    av_packet_free(&spare->packet);
    free(spare);
}

TEST(SpinLock, keeps_two_threads_out_of_each_other)
{
    SpinLock lock{0};
    int counter = 0; // plain on purpose: TSan reports it if the lock fails
    const int rounds = 2000;
    auto work = [&] {
        for (int i = 0; i < rounds; i++) {
            SpinGuard guard(&lock);
            counter++;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2 * rounds);
}

} // namespace
