// The video decoding path: pictures are decoded straight into the frame
// entry at frames_write and published unless they are late.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"
#include "queue/queue.h"
#include "stats/stats.h"

// A picture's timestamp; pictures without one follow the previous picture
// by one frame period, so a stream without timestamps still plays in order.
static int64_t picture_timestamp(DecoderState* state, const AVFrame* frame, const AVStream* stream)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) {
        if (state->video_ts_step <= 0) {
            AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
            if (rate.num <= 0 || rate.den <= 0)
                rate = AVRational{25, 1};
            state->video_ts_step = av_rescale_q(1, av_inv_q(rate), stream->time_base);
            if (state->video_ts_step <= 0)
                state->video_ts_step = 1;
        }
        if (state->last_video_ts == AV_NOPTS_VALUE)
            ts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        else
            ts = state->last_video_ts + state->video_ts_step;
    }
    state->last_video_ts = ts;
    return ts;
}

// A picture that no other picture refers to and that can never be shown
// would be decoded only to be thrown away, so the decoder is told to skip
// it. While catching up after a seek in play, that is one whose packet time
// already lies behind the clock (it would be dropped as late); while
// stepping (a seek made in pause), one whose successor is also due (the step
// passes over it to the successor). That roughly halves the work between a
// key frame and a seek's landing point. Pictures that others refer to are
// always decoded: skipping them would spoil the landing picture.
static bool never_shown(PlayerContext* ctx, const DecoderState* state, const AVPacket* packet)
{
    if (!packet->data || packet->pts == AV_NOPTS_VALUE || (packet->flags & AV_PKT_FLAG_KEY))
        return false;
    AVFormatContext* format = ctx->format.load(std::memory_order_acquire);
    const AVStream* stream = format->streams[packet->stream_index];
    const int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    const int32_t step = ctx->step_frame.load(std::memory_order_relaxed);
    if (step == 0)
        return state->video_catching_up && stream_to_media_ms(ctx, stream, packet->pts) < clock;
    // The successor's time is known only from the packet's duration.
    return step == 1 && packet->duration > 0 &&
           int64_t(stream_to_media_ms(ctx, stream, packet->pts + packet->duration)) <= int64_t(clock) + 1;
}

static void skip_if_never_shown(PlayerContext* ctx, DecoderState* state, AVCodecContext* codec, const PacketNode* node)
{
    AVDiscard wanted = never_shown(ctx, state, node->packet) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    if (codec->skip_frame != wanted)
        codec->skip_frame = wanted;
}

DecodeOutcome decode_video(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node)
{
    PacketProgress* progress = &state->progress[SLOT_VIDEO];
    uint32_t w = slot->frames_write.load(std::memory_order_relaxed);
    FrameEntry* entry = &slot->frames[w & FRAME_RING_MASK];
    if (state->video_codec_seen != slot->codec) {
        // A new stream: forget the previous one's timestamps.
        state->video_codec_seen = slot->codec;
        state->last_video_ts = AV_NOPTS_VALUE;
        state->video_ts_step = 0;
    }
    if (!progress->sent)
        skip_if_never_shown(ctx, state, slot->codec, node);
    int ret;
    {
        // Held around each decoding call: frame release and GPU presentation
        // wait for it.
        SpinGuard guard(&ctx->video_decode_lock);
        if (!send_packet_once(ctx, slot, progress, node)) {
            hw_decode_failed(slot->codec, progress->send_error);
            return DECODE_NEXT_PACKET; // a broken packet loses the rest of itself
        }
        ret = avcodec_receive_frame(slot->codec, entry->frame);
    }
    note_decode_result(ctx, ret);
    if (ret < 0) {
        hw_decode_failed(slot->codec, ret);
        return DECODE_NEXT_PACKET; // needs more input, an error, or an end marker fully drained
    }
    AVFormatContext* format = ctx->format.load(std::memory_order_acquire);
    const AVStream* stream = format->streams[node->packet->stream_index];
    ctx->video_frames_out.fetch_add(1, std::memory_order_relaxed);
    ctx->video_refs.store(slot->codec->refs, std::memory_order_relaxed);
    stats_picture_decoded(ctx);
    stats_item_decoder(ctx, hw_frame_decoder_name(entry->frame));
    entry->time_ms = stream_to_media_ms(ctx, stream, picture_timestamp(state, entry->frame, stream));
    if (entry->time_ms < ctx->clock_ms.load(std::memory_order_relaxed) &&
        ctx->step_frame.load(std::memory_order_relaxed) == 0) {
        // Late: not published. Frames before a seek's landing point are
        // expected and not counted as dropped.
        stats_picture_dropped(ctx);
        av_frame_unref(entry->frame);
        return DECODE_AGAIN;
    }
    state->video_catching_up = 0;
    return publish_frame(slot) ? DECODE_AGAIN : DECODE_KEEP_PACKET;
}
