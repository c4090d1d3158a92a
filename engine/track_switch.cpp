// Track switches: another video, audio or subtitle stream of the item, an
// external subtitle file, or subtitles off, asked for by the window thread
// through track_switch_request and carried out by the demux loop.
#include <cstdio>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

// The track's label in the notice: what its item in the track menu says.
static std::string track_label(PlayerContext* ctx, const AVStream* stream)
{
    int32_t video = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed);
    int32_t refs = ctx->video_refs.load(std::memory_order_relaxed);
    SpinGuard guard(&ctx->menu_source_lock);
    if (const MenuSource* source = ctx->menu_source) {
        for (const MenuStream& s : source->streams)
            if (s.index == stream->index)
                return menu_text_as_notice(menu_stream_text(&s, s.index == video ? refs : s.refs));
    }
    char number[16];
    snprintf(number, sizeof number, "#%d", stream->index);
    return number;
}

// The common first step of a stream switch: notice, a seek to the current
// position, and the slot drained.
static void switch_notice(PlayerContext* ctx, int kind, AVStream* stream, const char* label)
{
    show_notice(ctx, " 切换%s - %s ", label, track_label(ctx, stream).c_str());
    ctx->copy_request.store(0, std::memory_order_relaxed);
    stats_engine_seek(ctx, SEEK_BY_SWITCH);
    // At the very start the clock stands before 0; the seek must still be a
    // seek (0 or more), or the drain below would wait for paused frames.
    int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    request_seek_unless_pending(ctx, clock > 0 ? clock : 0, 0);
    drain_slot(ctx, &ctx->slots[kind]);
}

void close_subtitle_stream(PlayerContext* ctx)
{
    drain_slot(ctx, &ctx->slots[SLOT_SUBTITLE]);
    close_slot(ctx, SLOT_SUBTITLE);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        stats_item_subtitles(ctx);
    }
    close_subtitles(&ctx->subtitles);
    stats_subtitle_source(ctx, STATS_SUB_NONE, nullptr);
}

static void subtitles_back_on(PlayerContext* ctx)
{
    if (ctx->subtitle_choice.load(std::memory_order_relaxed) == -2)
        ctx->subtitle_choice.store(-1, std::memory_order_relaxed);
}

static void switch_external(PlayerContext* ctx, int32_t n)
{
    close_subtitle_stream(ctx);
    subtitles_back_on(ctx);
    SubtitleState* subs = &ctx->subtitles;
    uint32_t count = subs->external_count.load(std::memory_order_acquire);
    for (uint32_t k = uint32_t(n); k < count; k++) {
        if (load_external_file(subs, k)) {
            // The window thread may grow the list meanwhile: the path is copied under its lock.
            char path[EXTERNAL_PATH_BYTES];
            if (!external_file_path(subs, k, path, sizeof path))
                path[0] = 0;
            show_notice(ctx, " 使用字幕 %s ", path);
            stats_subtitle_source(ctx, STATS_SUB_EXTERNAL, path);
            return;
        }
    }
}

static void switch_video(PlayerContext* ctx, AVStream* stream, int32_t ordinal)
{
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return;
    switch_notice(ctx, SLOT_VIDEO, stream, "视频");
    ctx->video_choice.store(ordinal, std::memory_order_relaxed);
    if (open_video(ctx, ordinal)) {
        const AVStream* s = slot_stream(ctx, SLOT_VIDEO);
        int64_t start = s->start_time > 0 && s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
        ctx->video_start_ms.store(stream_to_media_ms(ctx, s, start), std::memory_order_relaxed);
    }
}

static void switch_audio(PlayerContext* ctx, AVStream* stream, int32_t ordinal)
{
    switch_notice(ctx, SLOT_AUDIO, stream, "音频");
    ctx->audio_choice.store(ordinal, std::memory_order_relaxed);
    if (open_slot(ctx, SLOT_AUDIO, ordinal, AVMEDIA_TYPE_AUDIO) &&
        !audio_open(&ctx->audio, ctx->slots[SLOT_AUDIO].codec))
        close_slot(ctx, SLOT_AUDIO); // no device for it: play on without sound
}

static void switch_subtitle(PlayerContext* ctx, AVStream* stream, int32_t ordinal)
{
    switch_notice(ctx, SLOT_SUBTITLE, stream, "字幕");
    subtitles_back_on(ctx);
    ctx->subtitle_choice.store(ordinal, std::memory_order_relaxed);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        stats_item_subtitles(ctx);
    }
    if (open_slot(ctx, SLOT_SUBTITLE, ordinal, AVMEDIA_TYPE_SUBTITLE) &&
        open_embedded_subtitles(&ctx->subtitles, ctx->slots[SLOT_SUBTITLE].codec, format_of(ctx)))
        stats_subtitle_source(ctx, STATS_SUB_EMBEDDED, nullptr);
}

static void switch_stream(PlayerContext* ctx, int32_t k)
{
    AVFormatContext* format = format_of(ctx);
    if (k < 0 || unsigned(k) >= format->nb_streams)
        return; // a menu id of another item
    AVStream* stream = format->streams[k];
    int type = stream->codecpar->codec_type;
    int32_t ordinal = 0;
    for (int32_t i = 0; i < k; i++)
        ordinal += format->streams[i]->codecpar->codec_type == type;
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        if (ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) != k)
            switch_video(ctx, stream, ordinal);
        break;
    case AVMEDIA_TYPE_AUDIO:
        if (ctx->slots[SLOT_AUDIO].stream_index.load(std::memory_order_relaxed) != k)
            switch_audio(ctx, stream, ordinal);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (ctx->slots[SLOT_SUBTITLE].stream_index.load(std::memory_order_relaxed) != k ||
            ctx->subtitles.external_index.load(std::memory_order_relaxed) >= 0)
            switch_subtitle(ctx, stream, ordinal);
        break;
    default:
        break;
    }
}

void handle_track_switch(PlayerContext* ctx)
{
    int32_t request = ctx->track_switch_request.load(std::memory_order_relaxed);
    if (request < 0)
        return;
    // The aspect text and the track ticks change: nothing is drawn meanwhile.
    hold_presentation(ctx);
    if (request >= 3021)
        close_subtitle_stream(ctx);
    else if (request >= 2020)
        switch_external(ctx, request - 2020);
    else
        switch_stream(ctx, request - 1019);
    release_presentation(ctx);
    // A request written meanwhile stays for the next pass.
    ctx->track_switch_request.compare_exchange_strong(request, -1, std::memory_order_relaxed);
}
