// Seeking in the demux loop: the seek itself, the decoders flushed, the
// packets read up to the landing point, and the clock set there.
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

// A seek that keeps landing on the wrong side of its target is redone one
// second further each time; this many redos end the search where it is, so
// a stream with broken timestamps cannot keep the loop seeking for minutes.
constexpr int MAX_SEEK_REDOS = 100;

void push_node(PlayerContext* ctx, PacketNode* node)
{
    Backoff backoff{};
    while (ring_is_full(&ctx->ring))
        backoff_pause(&backoff);
    ring_push_node(ctx, node);
}

// A seek of HEVC decoded on the device right after opening goes through
// the window thread, which hands it back once the decoder has returned
// enough pictures. Once per item: a decoder that cannot return more (the
// file ended) must not send the seek round for ever.
static bool seek_deferred(PlayerContext* ctx, DemuxState* st, int32_t target)
{
    const AVCodecContext* codec = ctx->slots[SLOT_VIDEO].codec;
    if (st->seek_deferred || ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) < 0 || !codec ||
        codec->codec_id != AV_CODEC_ID_HEVC || !settings.hw_decode.load(std::memory_order_relaxed) ||
        !hw_device_name() || !hw_decoder_armed(codec) ||
        ctx->video_frames_out.load(std::memory_order_relaxed) > 32)
        return false;
    st->seek_deferred = 1;
    ctx->clock_ms.store(-1, std::memory_order_relaxed);
    ctx->seek_target_ms.store(-1, std::memory_order_relaxed);
    window_post(MSG_PLAYLIST, PLAYLIST_DEFERRED_SEEK, target);
    return true;
}

// Whether the seek stream's index holds only key frames (then non-key video
// packets after a seek cannot start a picture and are skipped).
static bool index_keyframes_only(DemuxState* st)
{
    if (st->keyframes_only < 0) {
        int entries = avformat_index_get_entries_count(st->seek_stream);
        st->keyframes_only = 1;
        for (int i = 0; i < entries; i++) {
            const AVIndexEntry* e = avformat_index_get_entry(st->seek_stream, i);
            if (e && !(e->flags & AVINDEX_KEYFRAME)) {
                st->keyframes_only = 0;
                break;
            }
        }
    }
    return st->keyframes_only != 0;
}

void release_accepted(PlayerContext* ctx, DemuxState* st)
{
    while (st->accepted) {
        PacketNode* next = st->accepted->next;
        packet_node_free(st->accepted, &ctx->packets_in_flight);
        st->accepted = next;
    }
}

// The time of a packet: pts, else dts, else the seek timestamp.
static int64_t packet_time(const AVPacket* packet, int64_t a)
{
    if (packet->pts >= 0 && packet->pts != AV_NOPTS_VALUE)
        return packet->pts;
    if (packet->dts >= 0 && packet->dts != AV_NOPTS_VALUE)
        return packet->dts;
    return a;
}

static int64_t stream_duration(PlayerContext* ctx, const AVStream* s)
{
    if (s->duration > 0 && s->duration != AV_NOPTS_VALUE)
        return s->duration;
    // Without a duration of its own the container's stands in.
    AVFormatContext* format = format_of(ctx);
    if (format->duration > 0)
        return av_rescale_q(format->duration, AVRational{1, AV_TIME_BASE}, s->time_base);
    return 0;
}

// The landing point was on the wrong side of the target: one second further
// (backward: earlier, not before the stream's start). Returns false when the
// seek is not redone.
static bool redo_seek(PlayerContext* ctx, DemuxState* st)
{
    const AVStream* s = st->seek_stream;
    if (s->time_base.num <= 0)
        return false;
    int64_t d = int64_t(s->time_base.den) * 1000 / (int64_t(s->time_base.num) * 1000);
    if (st->backward) {
        int64_t start = s->start_time > 0 && s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
        if (st->seek_ts <= start)
            return false;
        d = -d;
        if (st->seek_ts + d < start)
            d = -st->seek_ts;
    }
    if (!(st->seek_ts + d < stream_duration(ctx, s) || st->backward))
        return false;
    st->seek_ts += d;
    AVFormatContext* format = format_of(ctx);
    if (av_seek_frame(format, s->index, st->seek_ts, st->backward ? AVSEEK_FLAG_BACKWARD : 0) < 0) {
        av_seek_frame(format, s->index, st->seek_ts, AVSEEK_FLAG_BACKWARD);
        st->backward = 1;
    }
    return true;
}

// Reads until the first usable packet of the seek stream. Returns
// the media time the clock lands on.
static int32_t read_landing(PlayerContext* ctx, DemuxState* st, int32_t target)
{
    AVFormatContext* format = format_of(ctx);
    PacketNode* node = st->spare;
    PacketNode** link = &st->accepted;
    int redos = 0;
    for (;;) {
        if (ctx->open_index.load(std::memory_order_relaxed) >= 0 || av_read_frame(format, node->packet) < 0)
            return target;
        AVPacket* packet = node->packet;
        if (slot_of_stream(ctx, packet->stream_index) < 0) {
            av_packet_unref(packet);
            continue;
        }
        int64_t o = packet_time(packet, st->seek_ts);
        bool seek_stream = packet->stream_index == st->seek_stream->index;
        if (seek_stream) {
            bool wrong_side = st->backward ? o > st->seek_ts : o <= st->seek_ts;
            if (wrong_side && redos < MAX_SEEK_REDOS && redo_seek(ctx, st)) {
                redos++;
                av_packet_unref(packet);
                release_accepted(ctx, st);
                link = &st->accepted;
                continue;
            }
            bool video = slot_of_stream(ctx, packet->stream_index) == SLOT_VIDEO;
            if (video && !(packet->flags & AV_PKT_FLAG_KEY) &&
                (avformat_index_get_entries_count(st->seek_stream) == 0 || index_keyframes_only(st))) {
                av_packet_unref(packet);
                continue;
            }
        }
        // Accepted: a new spare goes behind it.
        *link = node;
        link = &node->next;
        node->next = nullptr;
        node = packet_node_new(&ctx->packets_in_flight);
        st->spare = node;
        if (seek_stream) {
            int32_t t = stream_to_media_ms(ctx, st->seek_stream, o);
            if (st->forward == 0)
                return t > target ? t : target;
            return t;
        }
    }
}

static void finish_seek(PlayerContext* ctx, DemuxState* st, SeekOrder order, int32_t landing)
{
    // Embedded events are forgotten so the packets read again are taken.
    reset_subtitles_for_seek(&ctx->subtitles);
    audio_reset(&ctx->audio);
    ctx->audio.audio_clock_ms.store(0, std::memory_order_relaxed);
    bool playing = ctx->playing.load(std::memory_order_relaxed) != 0;
    ctx->step_frame.store(playing ? 0 : 1, std::memory_order_relaxed);
    ctx->clock_ms.store(playing ? landing - 30 : landing, std::memory_order_relaxed);
    ctx->clock_wall_ms.store(now_ms(), std::memory_order_relaxed);
    stats_seek_done(ctx, order.target_ms);
    seek_settle_start(ctx);
    // A newer seek asked for while this one was carried out is kept: the
    // last seek asked for wins.
    seek_order_done(ctx, order);
    while (st->accepted) {
        PacketNode* next = st->accepted->next;
        push_node(ctx, st->accepted);
        st->accepted = next;
    }
    ask_for_trim_soon();
}

// The seek itself. False when it failed both ways.
static bool seek_to(PlayerContext* ctx, DemuxState* st, int32_t target)
{
    st->seek_stream = slot_stream(ctx, SLOT_VIDEO);
    if (!st->seek_stream)
        st->seek_stream = slot_stream(ctx, SLOT_AUDIO);
    if (!st->seek_stream)
        return false;
    st->keyframes_only = -1;
    st->seek_ts = media_ms_to_stream(ctx, st->seek_stream, target);
    st->backward = 1;
    if (st->forward != 0 && target > ctx->clock_ms.load(std::memory_order_relaxed))
        st->backward = 0;
    AVFormatContext* format = format_of(ctx);
    int index = st->seek_stream->index;
    if (av_seek_frame(format, index, st->seek_ts, st->backward ? AVSEEK_FLAG_BACKWARD : 0) >= 0)
        return true;
    if (!st->backward && ctx->playing.load(std::memory_order_relaxed) == 1)
        return true;
    return av_seek_frame(format, index, st->seek_ts, st->backward ? 0 : AVSEEK_FLAG_BACKWARD) >= 0;
}

// Decoders flushed, frame rings emptied by presentation.
static void flush_decoders(PlayerContext* ctx)
{
    ctx->end_of_file.store(0, std::memory_order_relaxed);
    for (StreamSlot& slot : ctx->slots) {
        if (slot.stream_index.load(std::memory_order_relaxed) < 0)
            continue;
        avcodec_flush_buffers(slot.codec);
        Backoff backoff{};
        while (slot.frames_read.load(std::memory_order_acquire) != slot.frames_write.load(std::memory_order_acquire))
            backoff_pause(&backoff);
    }
}

PassResult handle_seek(PlayerContext* ctx, DemuxState* st)
{
    int32_t target = ctx->seek_target_ms.load(std::memory_order_acquire);
    if (target < 0)
        return PASS_GO_ON;
    stats_seek_started(ctx);
    if (seek_deferred(ctx, st, target))
        return PASS_SLEEP;
    // The decoder must have let go of every packet and published its sound.
    if (ctx->packets_in_flight.load(std::memory_order_acquire) != 0 ||
        ctx->decoder_busy.load(std::memory_order_acquire) != 0)
        return PASS_SLEEP;
    // Target and direction are taken together as the seek starts (and the
    // direction is reset): a newer request written meanwhile keeps its own.
    SeekOrder order = seek_order_read(ctx);
    if (order.target_ms < 0)
        order = SeekOrder{target, -1}; // drop mode of a closing item, not a request
    ctx->seek_forward.store(-1, std::memory_order_relaxed);
    st->forward = order.forward;
    if (!seek_to(ctx, st, order.target_ms)) {
        seek_order_done(ctx, order);
        stats_seek_abandoned(ctx);
        return PASS_SLEEP;
    }
    // The landing is read while the decoder's threads finish the pictures
    // they hold; the flush then waits for less.
    int32_t landing = read_landing(ctx, st, order.target_ms);
    flush_decoders(ctx);
    finish_seek(ctx, st, order, landing);
    return PASS_GO_ON;
}
