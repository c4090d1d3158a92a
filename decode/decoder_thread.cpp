// The decoder thread: moves packets from the hand-over ring into their
// slots, decodes them and publishes pictures, converted sound chunks and
// subtitles. It is the only consumer of the ring and of the slots' packet
// lists and the only producer of the frame rings.
#include <emmintrin.h>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "app/player_context.h"
#include "decode/decode_paths.h"
#include "engine/engine.h"
#include "engine/timing.h"

int32_t frame_time_ms(PlayerContext* ctx, const AVStream* stream, int64_t ts)
{
    return stream_to_media_ms(ctx, stream, ts);
}

bool send_packet_once(StreamSlot* slot, PacketProgress* progress, PacketNode* node)
{
    if (progress->sent)
        return true;
    AVPacket* packet = node->packet->data ? node->packet : nullptr;
    int ret = avcodec_send_packet(slot->codec, packet);
    if (ret == AVERROR(EAGAIN))
        return true;
    progress->sent = 1;
    progress->frames_out = 0;
    progress->next_ts = node->packet->pts;
    return ret >= 0 || ret == AVERROR_EOF;
}

void rgba_to_premultiplied_bgra_scalar(uint8_t* p, int64_t bytes)
{
    for (int64_t i = 0; i + 4 <= bytes; i += 4) {
        uint32_t a = uint32_t(p[i + 3]) + 1;
        uint8_t r = p[i];
        p[i] = uint8_t((p[i + 2] * a) >> 8);
        p[i + 1] = uint8_t((p[i + 1] * a) >> 8);
        p[i + 2] = uint8_t((r * a) >> 8);
    }
}

// Two pixels widened to 16-bit lanes (r g b a r g b a): red and blue
// swapped, colour scaled by alpha + 1, alpha kept.
static inline __m128i premultiply_two(__m128i rgba)
{
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
    __m128i bgra = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
    // (x * (a + 1)) >> 8 stays within 16 bits for bytes.
    __m128i scaled = _mm_srli_epi16(_mm_mullo_epi16(bgra, _mm_add_epi16(alpha, _mm_set1_epi16(1))), 8);
    const __m128i alpha_lanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    return _mm_or_si128(_mm_andnot_si128(alpha_lanes, scaled), _mm_and_si128(alpha_lanes, bgra));
}

void rgba_to_premultiplied_bgra(uint8_t* p, int64_t bytes)
{
    const __m128i zero = _mm_setzero_si128();
    int64_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i lo = premultiply_two(_mm_unpacklo_epi8(v, zero));
        __m128i hi = premultiply_two(_mm_unpackhi_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(lo, hi));
    }
    rgba_to_premultiplied_bgra_scalar(p + i, bytes - i);
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

// Step 3: the packet at the head of the slot's list, moving ring entries
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

// Step 7: when packets run out, a gathered sound chunk is published as it is.
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
    // 1.
    if (slot->stream_index.load(std::memory_order_acquire) < 0)
        return;
    for (;;) {
        // 2. The entry at frames_write must be free before anything decodes into it.
        if (!frame_ring_has_room(slot))
            return;
        // 3.
        PacketNode* node = next_packet(ctx, kind);
        if (!node) {
            if (kind == SLOT_AUDIO)
                flush_audio_chunk(ctx, state, slot);
            return;
        }
        // 4. Drop mode: a seek or the end of the item is under way.
        if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0) {
            if (kind == SLOT_VIDEO)
                state->video_catching_up = 1;
            release_packet(ctx, state, kind);
            continue;
        }
        // 5, 6.
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
