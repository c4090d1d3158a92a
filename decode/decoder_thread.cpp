// The decoder thread: moves packets from the hand-over ring into their
// slots, decodes them and publishes pictures, converted sound chunks and
// subtitles. It is the only consumer of the ring and of the slots' packet
// lists and the only producer of the frame rings.
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"
#include "queue/queue.h"

void note_decode_result(PlayerContext* ctx, int ret)
{
    if (ret == AVERROR(ENOMEM))
        ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
}

// Called from the decoder's own threads too when it decodes with several.
static int get_buffer_noting_memory(AVCodecContext* codec, AVFrame* frame, int flags)
{
    int ret = avcodec_default_get_buffer2(codec, frame, flags);
    note_decode_result(static_cast<PlayerContext*>(codec->opaque), ret);
    return ret;
}

void decoder_note_memory(PlayerContext* ctx, AVCodecContext* codec)
{
    codec->opaque = ctx;
    codec->get_buffer2 = get_buffer_noting_memory;
}

bool send_packet_once(PlayerContext* ctx, StreamSlot* slot, PacketProgress* progress, PacketNode* node)
{
    if (progress->sent)
        return true;
    AVPacket* packet = node->packet->data ? node->packet : nullptr;
    int ret = avcodec_send_packet(slot->codec, packet);
    note_decode_result(ctx, ret);
    if (ret == AVERROR(EAGAIN))
        return true;
    progress->sent = 1;
    progress->frames_out = 0;
    progress->next_ts = node->packet->pts;
    progress->send_error = ret;
    return ret >= 0 || ret == AVERROR_EOF;
}

bool publish_frame(StreamSlot* slot)
{
    uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
    AVFrame* frame = slot->frames[w & FRAME_RING_MASK].frame;
    if (frame->format == AV_PIX_FMT_RGBA && frame->data[0] && av_frame_make_writable(frame) == 0) {
        rgba_to_premultiplied_bgra(frame->data[0], int64_t(frame->height) * frame->linesize[0]);
        frame->format = AV_PIX_FMT_BGRA;
    }
    // The entry is complete before the index moves (release).
    slot->frames_write.store((w + 1) & FRAME_RING_MASK, std::memory_order_release);
    return frame_ring_has_room(slot);
}

// The packet at the head of the slot's list, moving ring entries
// into the slots until one reaches this slot. The subtitle slot never takes
// from the ring itself.
static PacketNode* next_packet(PlayerContext* ctx, int kind)
{
    StreamSlot* slot = &ctx->slots[kind];
    PacketNode* head = slot->packets_head.load(std::memory_order_relaxed);
    if (head || kind == SLOT_SUBTITLE)
        return head;
    while (!ring_is_empty(&ctx->ring)) {
        if (ring_move_to_slot(ctx) == kind)
            break;
    }
    return slot->packets_head.load(std::memory_order_relaxed);
}

static void release_packet(PlayerContext* ctx, DecoderState* state, int kind)
{
    memset(&state->progress[kind], 0, sizeof state->progress[kind]);
    packet_node_release(&ctx->slots[kind], &ctx->packets_in_flight);
}

// When packets run out, a gathered sound chunk is published as it is.
static void flush_audio_chunk(PlayerContext* ctx, DecoderState* state, StreamSlot* slot)
{
    if (ctx->decoder_busy.load(std::memory_order_relaxed) == 0)
        return;
    uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
    slot->frames[w & FRAME_RING_MASK].time_ms = state->chunk_time_ms;
    slot->frames_write.store((w + 1) & FRAME_RING_MASK, std::memory_order_release);
    ctx->decoder_busy.store(0, std::memory_order_release);
}

static DecodeOutcome decode_one(PlayerContext* ctx, DecoderState* state, int kind, PacketNode* node)
{
    StreamSlot* slot = &ctx->slots[kind];
    switch (kind) {
    case SLOT_VIDEO: return decode_video(ctx, state, slot, node);
    case SLOT_AUDIO: return decode_audio(ctx, state, slot, node);
    default: return decode_subtitle(ctx, state, slot, node);
    }
}

static void slot_step(PlayerContext* ctx, DecoderState* state, int kind)
{
    StreamSlot* slot = &ctx->slots[kind];
    if (slot->stream_index.load(std::memory_order_acquire) < 0)
        return;
    for (;;) {
        // The entry at frames_write must be free before anything decodes into it.
        if (!frame_ring_has_room(slot))
            return;
        PacketNode* node = next_packet(ctx, kind);
        if (!node) {
            if (kind == SLOT_AUDIO)
                flush_audio_chunk(ctx, state, slot);
            return;
        }
        // Drop mode: a seek or the end of the item is under way.
        if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0) {
            if (kind == SLOT_VIDEO)
                state->video_catching_up = 1;
            release_packet(ctx, state, kind);
            continue;
        }
        DecodeOutcome outcome = decode_one(ctx, state, kind, node);
        while (outcome == DECODE_AGAIN) {
            if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0)
                break; // the rest of the packet is dropped with it
            outcome = decode_one(ctx, state, kind, node);
        }
        if (outcome == DECODE_KEEP_PACKET)
            return;
        release_packet(ctx, state, kind);
    }
}

void decoder_thread(PlayerContext* ctx)
{
    DecoderState state;
    memset(&state, 0, sizeof state);
    for (;;) {
        // A seek under way, even one that finds no packets to drop.
        if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0)
            state.video_catching_up = 1;
        for (int kind = 0; kind < SLOT_COUNT; kind++)
            slot_step(ctx, &state, kind);
        engine_poll_sleep(ctx);
    }
}
