// Choosing, opening and closing the stream each slot plays, and the
// description of the video stream (frame rate, display size, aspect text).
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/rational.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "decode/decode.h"
#include "settings/settings.h"

constexpr int ATTACHED_PICTURE = AV_DISPOSITION_ATTACHED_PIC; // 0x400
constexpr int DEFAULT_OR_FORCED = AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED;

AVFormatContext* format_of(PlayerContext* ctx)
{
    return ctx->format.load(std::memory_order_relaxed);
}

AVStream* slot_stream(PlayerContext* ctx, int kind)
{
    int32_t index = ctx->slots[kind].stream_index.load(std::memory_order_relaxed);
    return index >= 0 ? format_of(ctx)->streams[index] : nullptr;
}

int slot_of_stream(PlayerContext* ctx, int stream)
{
    for (int kind = 0; kind < SLOT_COUNT; kind++) {
        if (ctx->slots[kind].stream_index.load(std::memory_order_relaxed) == stream)
            return kind;
    }
    return -1;
}

// ---- choosing and opening one stream ----

// The stream chosen by ordinal, else the default or forced
// one, else the first; attached pictures are never chosen.
static int choose_stream(AVFormatContext* format, int32_t choice, int type)
{
    if (choice >= 0) {
        int32_t ordinal = 0;
        for (unsigned i = 0; i < format->nb_streams; i++) {
            const AVStream* s = format->streams[i];
            if (s->codecpar->codec_type != type)
                continue;
            if (ordinal++ == choice && !(s->disposition & ATTACHED_PICTURE))
                return int(i);
        }
    }
    int first = -1;
    for (unsigned i = 0; i < format->nb_streams; i++) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type != type || (s->disposition & ATTACHED_PICTURE))
            continue;
        if (s->disposition & DEFAULT_OR_FORCED)
            return int(i);
        if (first < 0)
            first = int(i);
    }
    return first;
}

// One decoding thread for pictures small enough not to need more. Beyond
// that, frame threads: each keeps a picture of its own in flight on top of
// the reference pictures, so there are no more of them than the picture
// rate needs (two up to 1080p at 60 frames a second, two more for every
// further such load) and than the cores can run at once.
int decoder_thread_count(const AVCodecParameters* par, AVRational frame_rate, int cores)
{
    int64_t area = int64_t(par->width) * par->height;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO)
        return 0;
    if (area < 1920 * 1080) {
        // The reference count is not known before decoding starts; it counts as few.
        if (par->bits_per_coded_sample <= 8 || area < 1280 * 720)
            return 1;
    }
    double rate = frame_rate.num > 0 && frame_rate.den > 0 ? av_q2d(frame_rate) : 0;
    if (rate <= 0 || rate > 240)
        rate = 60; // unknown or implausible: counted as a fast stream
    double load = double(area) * rate / (1920.0 * 1088.0 * 60.0);
    int wanted = 2 * int(load + 0.999);
    if (wanted < 2)
        wanted = 2;
    if (wanted > MAX_FRAME_THREADS)
        wanted = MAX_FRAME_THREADS;
    if (cores < 1)
        cores = 1;
    return wanted < cores ? wanted : cores;
}

// Frees a decoding context and what hardware decoding kept beside it.
static void free_codec(AVCodecContext** codec)
{
    void* hw = hw_decoder_armed(*codec) ? (*codec)->opaque : nullptr;
    avcodec_free_context(codec);
    hw_decoder_release(hw);
}

int open_stream(PlayerContext* ctx, int32_t choice, int type, AVCodecContext** codec_out)
{
    *codec_out = nullptr;
    AVFormatContext* format = ctx->format.load(std::memory_order_relaxed);
    if (!format)
        return -1;
    int index = choose_stream(format, choice, type);
    if (index < 0)
        return -1;
    AVStream* stream = format->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return -1;
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    if (!codec)
        return -1;
    if (avcodec_parameters_to_context(codec, stream->codecpar) < 0) {
        free_codec(&codec);
        return -1;
    }
    codec->pkt_timebase = stream->time_base;
    // Pictures of an earlier decoder's surfaces keep their pool alive, so
    // the one on screen needs no flush when a new decoder starts.
    if (type != AVMEDIA_TYPE_VIDEO ||
        !hw_decoder_prepare(ctx, stream, codec, settings.hw_decode.load(std::memory_order_relaxed))) {
        codec->thread_count =
            decoder_thread_count(stream->codecpar, av_guess_frame_rate(format, stream, nullptr), av_cpu_count());
        decoder_note_memory(ctx, codec);
    }
    int opened = avcodec_open2(codec, decoder, nullptr);
    if (opened < 0) {
        // Frame threads that cannot be made fail the open too.
        if (opened == AVERROR(ENOMEM) || opened == AVERROR(EAGAIN))
            ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
        free_codec(&codec);
        return -1;
    }
    *codec_out = codec;
    return index;
}

void close_slot(PlayerContext* ctx, int kind)
{
    StreamSlot* slot = &ctx->slots[kind];
    // The slot is drained: the decoder thread no longer touches its decoder.
    slot->stream_index.store(-1, std::memory_order_release);
    if (slot->codec) {
        avcodec_flush_buffers(slot->codec);
        free_codec(&slot->codec);
    }
}

bool open_slot(PlayerContext* ctx, int kind, int32_t choice, int type)
{
    close_slot(ctx, kind);
    AVCodecContext* codec = nullptr;
    int index = open_stream(ctx, choice, type, &codec);
    StreamSlot* slot = &ctx->slots[kind];
    slot->codec = codec;
    if (kind == SLOT_VIDEO) {
        ctx->video_frames_out.store(0, std::memory_order_relaxed);
        ctx->video_refs.store(0, std::memory_order_relaxed);
    }
    // The decoder thread reads codec only after it sees the index (acquire).
    slot->stream_index.store(index, std::memory_order_release);
    return index >= 0;
}

// ---- the aspect text ----

void format_aspect_text(char* out, size_t out_size, uint32_t display_width, uint32_t display_height, int sar_num,
                        int sar_den)
{
    int num = 0, den = 0;
    av_reduce(&num, &den, display_width, display_height, 1048576);
    int n = snprintf(out, out_size, "%d:%d", num, den);
    if (num > 16 && den > 16) {
        int small_num = 0, small_den = 0;
        av_reduce(&small_num, &small_den, display_width, display_height, 16);
        n += snprintf(out + n, out_size - size_t(n), "≈%d:%d", small_num, small_den);
    }
    // The sample aspect to three decimals (half a thousandth added, then cut
    // off), without trailing zeros.
    double sar = sar_den ? double(sar_num) / sar_den : 1.0;
    long milli = long((sar + 0.0005) * 1000.0);
    char number[32];
    int len = snprintf(number, sizeof number, "%ld.%03ld", milli / 1000, milli % 1000);
    while (len > 0 && number[len - 1] == '0')
        number[--len] = 0;
    if (len > 0 && number[len - 1] == '.')
        number[--len] = 0;
    snprintf(out + n, out_size - size_t(n), "<%s>", number);
}

bool open_video(PlayerContext* ctx, int32_t choice)
{
    if (!open_slot(ctx, SLOT_VIDEO, choice, AVMEDIA_TYPE_VIDEO))
        return false;
    AVFormatContext* format = ctx->format.load(std::memory_order_relaxed);
    const AVStream* stream = format->streams[ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed)];
    ctx->frame_rate_num.store(stream->r_frame_rate.num, std::memory_order_relaxed);
    ctx->frame_rate_den.store(stream->r_frame_rate.den, std::memory_order_relaxed);
    AVRational sar = stream->sample_aspect_ratio;
    if (!sar.num || !sar.den)
        sar = stream->codecpar->sample_aspect_ratio;
    if (!sar.num || !sar.den)
        sar = AVRational{1, 1};
    uint32_t width = uint32_t(stream->codecpar->width) * uint32_t(sar.num);
    uint32_t height = uint32_t(stream->codecpar->height) * uint32_t(sar.den);
    ctx->display_width.store(width, std::memory_order_relaxed);
    ctx->display_height.store(height, std::memory_order_relaxed);
    ctx->video_height.store(stream->codecpar->height, std::memory_order_relaxed);
    format_aspect_text(ctx->aspect_text, sizeof ctx->aspect_text, width, height, sar.num, sar.den);
    return true;
}
