// The audio decoding path: every decoded frame is converted to signed 16-bit
// interleaved samples at the device's rate and channel count and gathered in
// the frame entry at frames_write until the chunk holds at least 25 ms.
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"
#include "queue/queue.h"

// Each frame of a packet carries its own time: when the decoder gives a
// later frame of the same packet no timestamp of its own (or repeats the
// previous one), the time follows from the samples before it.
static int64_t sound_timestamp(PacketProgress* progress, const AVFrame* frame, const AVStream* stream)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE || (progress->frames_out > 0 && ts == progress->last_ts))
        ts = progress->next_ts;
    if (ts == AV_NOPTS_VALUE)
        ts = 0;
    progress->last_ts = frame->best_effort_timestamp;
    progress->frames_out++;
    if (frame->sample_rate > 0 && stream->time_base.num > 0)
        progress->next_ts = ts + int64_t(frame->nb_samples) * stream->time_base.den /
                                     (int64_t(frame->sample_rate) * stream->time_base.num);
    return ts;
}

// A new resampler whenever the input format changes. False when none
// could be made (the frame is dropped; the next frame tries again).
static bool ensure_resampler(AudioOutput* out, const AVFrame* frame)
{
    int channels = frame->ch_layout.nb_channels;
    if (frame->format == out->audio_sample_format && channels == out->audio_in_channels &&
        frame->sample_rate == out->audio_in_rate)
        return true;
    out->audio_chunk_bytes = (out->audio_rate * 25 / 1000) * out->audio_block_align;
    swr_free(&out->resampler);
    out->audio_in_rate = frame->sample_rate;
    out->audio_sample_format = frame->format;
    out->audio_in_channels = channels;
    AVChannelLayout out_layout, in_layout;
    av_channel_layout_default(&out_layout, out->audio_channels);
    av_channel_layout_default(&in_layout, channels);
    // The frame's own channel layout is not used: the default layout of its
    // channel count maps it onto the device's.
    int ret = swr_alloc_set_opts2(&out->resampler, &out_layout, AV_SAMPLE_FMT_S16, out->audio_rate, &in_layout,
                                  AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out_layout);
    av_channel_layout_uninit(&in_layout);
    if (ret < 0 || !out->resampler || swr_init(out->resampler) != 0 || out->audio_chunk_bytes <= 0) {
        swr_free(&out->resampler);
        out->audio_in_channels = 0;
        return false;
    }
    return true;
}

// Room for the converted frame behind what is gathered already.
static bool ensure_room(FrameEntry* entry, int64_t need, int32_t chunk_bytes, int32_t busy)
{
    if (need <= entry->audio_capacity && need + 2 * int64_t(chunk_bytes) >= entry->audio_capacity)
        return true;
    int64_t size = need > 2 * int64_t(chunk_bytes) ? need : 2 * int64_t(chunk_bytes);
    if (size > INT32_MAX)
        return false;
    auto* buffer = static_cast<uint8_t*>(av_malloc(size_t(size))); // aligned for the gain stage
    if (!buffer)
        return false;
    if (busy > 0)
        memcpy(buffer, entry->audio_data, size_t(busy));
    av_free(entry->audio_data);
    entry->audio_data = buffer;
    entry->audio_capacity = int32_t(size);
    return true;
}

// For one decoded frame. Returns whether a chunk was published.
static bool gather_frame(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, FrameEntry* entry,
                         int32_t time_ms)
{
    AudioOutput* out = &ctx->audio;
    AVFrame* frame = entry->frame;
    int32_t busy = ctx->decoder_busy.load(std::memory_order_relaxed);
    if (busy == 0)
        state->chunk_time_ms = time_ms;
    if (frame->sample_rate <= 0 || frame->nb_samples <= 0 || !ensure_resampler(out, frame))
        return false;
    int64_t max_out = int64_t(out->audio_rate) * frame->nb_samples / frame->sample_rate + 32;
    int64_t need = max_out * out->audio_block_align + busy;
    if (!ensure_room(entry, need, out->audio_chunk_bytes, busy)) {
        ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    uint8_t* dest = entry->audio_data + busy;
    int samples = swr_convert(out->resampler, &dest, int(max_out), const_cast<const uint8_t**>(frame->extended_data),
                              frame->nb_samples);
    if (samples > 0)
        busy += samples * out->audio_block_align;
    entry->audio_bytes = busy;
    if (busy < out->audio_chunk_bytes) {
        ctx->decoder_busy.store(busy, std::memory_order_release);
        return false;
    }
    entry->time_ms = state->chunk_time_ms;
    publish_frame(slot);
    ctx->decoder_busy.store(0, std::memory_order_release);
    return true;
}

DecodeOutcome decode_audio(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node)
{
    PacketProgress* progress = &state->progress[SLOT_AUDIO];
    uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
    FrameEntry* entry = &slot->frames[w & FRAME_RING_MASK];
    if (!send_packet_once(ctx, slot, progress, node))
        return DECODE_NEXT_PACKET;
    int ret = avcodec_receive_frame(slot->codec, entry->frame);
    note_decode_result(ctx, ret);
    if (ret < 0)
        return DECODE_NEXT_PACKET; // needs more input, an error, or fully drained
    AVFormatContext* format = ctx->format.load(std::memory_order_acquire);
    const AVStream* stream = format->streams[node->packet->stream_index];
    int32_t time_ms = stream_to_media_ms(ctx, stream, sound_timestamp(progress, entry->frame, stream));
    if (time_ms < ctx->clock_ms.load(std::memory_order_relaxed) &&
        ctx->step_frame.load(std::memory_order_relaxed) == 0)
        return DECODE_AGAIN; // late: dropped
    if (gather_frame(ctx, state, slot, entry, time_ms) && !frame_ring_has_room(slot))
        return DECODE_KEEP_PACKET;
    return DECODE_AGAIN;
}
