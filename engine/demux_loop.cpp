// The demux loop: reads packets into the hand-over ring, carries out seeks
// and track switches, notices the end of the item and decides what follows
// it, and leaves the pipeline drained when it returns.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "app/player_context.h"
#include "app/window_bridge.h"
#include "engine/engine.h"
#include "engine/timing.h"
#include "platform/platform.h"
#include "subtitle/subtitle.h"
#include "ui/messages.h"
#include "ui/notice.h"

// A seek that keeps landing on the wrong side of its target is redone one
// second further each time; this many redos end the search where it is, so
// a stream with broken timestamps cannot keep the loop seeking for minutes.
constexpr int MAX_SEEK_REDOS = 100;

struct DemuxState {
    PacketNode* spare;        // the node the next read fills
    PacketNode* accepted;     // nodes read since a seek, in reading order
    AVStream* seek_stream;
    int64_t seek_ts;          // in the seek stream's time base
    int backward;             // the backward flag of the current seek
    int32_t forward;          // seek_forward as the current seek found it
    int32_t keyframes_only;   // -1 unknown, else whether the index holds only key frames
    uint32_t request_wall_ms; // when the pending seek was asked for (statistics)
    int32_t origin;
};

enum PassResult { PASS_SLEEP, PASS_AT_ONCE, PASS_GO_ON, PASS_EXIT };

static AVFormatContext* format_of(PlayerContext* ctx)
{
    return ctx->format.load(std::memory_order_relaxed);
}

static AVStream* slot_stream(PlayerContext* ctx, int kind)
{
    int32_t index = ctx->slots[kind].stream_index.load(std::memory_order_relaxed);
    return index >= 0 ? format_of(ctx)->streams[index] : nullptr;
}

static int slot_of_stream(PlayerContext* ctx, int stream)
{
    for (int kind = 0; kind < SLOT_COUNT; kind++) {
        if (ctx->slots[kind].stream_index.load(std::memory_order_relaxed) == stream)
            return kind;
    }
    return -1;
}

static void free_node(PlayerContext* ctx, PacketNode* node)
{
    ctx->packets_in_flight.fetch_sub(1, std::memory_order_relaxed);
    av_packet_free(&node->packet);
    free(node);
}

// Waits without sleeping for room in the ring, then hands the node over.
static void push_node(PlayerContext* ctx, PacketNode* node)
{
    while (ring_is_full(&ctx->ring))
        std::this_thread::yield();
    ring_push_node(ctx, node);
}

// ---- track switching ----

// The track's label in the notice: what the track menu shows for it.
static void track_label(AVStream* stream, char* out, size_t size)
{
    const AVDictionaryEntry* title = av_dict_get(stream->metadata, "title", nullptr, 0);
    const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0);
    snprintf(out, size, "%d %s%s%s%s%s", stream->index, avcodec_get_name(stream->codecpar->codec_id),
             language ? " " : "", language ? language->value : "", title ? " " : "", title ? title->value : "");
}

// The common first step of a stream switch: notice, a seek to the current
// position, and the slot drained.
static void switch_notice(PlayerContext* ctx, int kind, AVStream* stream, const char* label)
{
    char text[266 * 3 + 1];
    track_label(stream, text, sizeof text);
    show_notice(ctx, " 切换%s - %s ", label, text);
    ctx->copy_request.store(0, std::memory_order_relaxed);
    ctx->seek_forward.store(0, std::memory_order_relaxed);
    ctx->stats.seek_origin.store(SEEK_BY_SWITCH, std::memory_order_relaxed);
    // At the very start the clock stands before 0; the seek must still be a
    // seek (0 or more), or the drain below would wait for paused frames.
    int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    ctx->seek_target_ms.store(clock > 0 ? clock : 0, std::memory_order_relaxed);
    drain_slot(ctx, &ctx->slots[kind]);
}

static void untick_external(PlayerContext* ctx)
{
    int32_t chosen = ctx->subtitles.external_index.load(std::memory_order_relaxed);
    if (chosen >= 0)
        platform_menu_set_check(ctx->menu.load(std::memory_order_acquire), 2020 + chosen, 0);
}

void close_subtitle_stream(PlayerContext* ctx)
{
    drain_slot(ctx, &ctx->slots[SLOT_SUBTITLE]);
    untick_external(ctx);
    close_slot(ctx, SLOT_SUBTITLE);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        engine_stats_item_subtitles(ctx);
    }
    close_subtitles(&ctx->subtitles);
    engine_stats_subtitle_source(ctx, STATS_SUB_NONE, nullptr);
}

static void subtitles_back_on(PlayerContext* ctx)
{
    if (ctx->subtitle_choice.load(std::memory_order_relaxed) == -2) {
        ctx->subtitle_choice.store(-1, std::memory_order_relaxed);
        platform_menu_set_check(ctx->menu.load(std::memory_order_acquire), 3021, 0);
    }
}

static void switch_external(PlayerContext* ctx, int32_t n)
{
    close_subtitle_stream(ctx);
    subtitles_back_on(ctx);
    SubtitleState* subs = &ctx->subtitles;
    uint32_t count = subs->external_count.load(std::memory_order_acquire);
    for (uint32_t k = uint32_t(n); k < count; k++) {
        if (load_external_file(subs, k)) {
            show_notice(ctx, " 使用字幕 %s ", subs->external_files[k]);
            platform_menu_set_check(ctx->menu.load(std::memory_order_acquire), 2020 + int(k), 1);
            engine_stats_subtitle_source(ctx, STATS_SUB_EXTERNAL, subs->external_files[k]);
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
    ctx->stats.audio_reset_wall_ms.store(now_ms(), std::memory_order_release);
}

static void switch_subtitle(PlayerContext* ctx, AVStream* stream, int32_t ordinal)
{
    switch_notice(ctx, SLOT_SUBTITLE, stream, "字幕");
    untick_external(ctx);
    subtitles_back_on(ctx);
    ctx->subtitle_choice.store(ordinal, std::memory_order_relaxed);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        engine_stats_item_subtitles(ctx);
    }
    if (open_slot(ctx, SLOT_SUBTITLE, ordinal, AVMEDIA_TYPE_SUBTITLE) &&
        open_embedded_subtitles(&ctx->subtitles, ctx->slots[SLOT_SUBTITLE].codec, format_of(ctx)))
        engine_stats_subtitle_source(ctx, STATS_SUB_EMBEDDED, nullptr);
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

// Step 2.
static void handle_track_switch(PlayerContext* ctx)
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

// ---- seeking ----

// Step 3.1: seeks of hardware-decoded HEVC right after opening go through the
// window thread. Hardware decoding is not built yet, so none is deferred.
static bool seek_deferred(PlayerContext* ctx)
{
    return false;
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

static void release_accepted(PlayerContext* ctx, DemuxState* st)
{
    while (st->accepted) {
        PacketNode* next = st->accepted->next;
        free_node(ctx, st->accepted);
        st->accepted = next;
    }
}

// Step 3.6, the time of a packet: pts, else dts, else the seek timestamp.
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

// Step 3.6: reads until the first usable packet of the seek stream. Returns
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

static void finish_seek(PlayerContext* ctx, DemuxState* st, int32_t target, int32_t landing)
{
    // Embedded events are forgotten so the packets read again are taken.
    reset_subtitles_for_seek(&ctx->subtitles);
    audio_reset(&ctx->audio);
    ctx->audio.audio_clock_ms.store(0, std::memory_order_relaxed);
    ctx->stats.audio_reset_wall_ms.store(now_ms(), std::memory_order_release);
    bool playing = ctx->playing.load(std::memory_order_relaxed) != 0;
    ctx->step_frame.store(playing ? 0 : 1, std::memory_order_relaxed);
    ctx->clock_ms.store(playing ? landing - 30 : landing, std::memory_order_relaxed);
    ctx->clock_wall_ms.store(now_ms(), std::memory_order_relaxed);
    engine_stats_seek_done(ctx, target, st->origin, st->request_wall_ms);
    st->request_wall_ms = 0;
    // A newer target written while this one was carried out is kept: the
    // last seek asked for wins.
    ctx->seek_target_ms.compare_exchange_strong(target, -1, std::memory_order_release);
    while (st->accepted) {
        PacketNode* next = st->accepted->next;
        push_node(ctx, st->accepted);
        st->accepted = next;
    }
}

// Steps 3.3 and 3.4: the seek itself. False when it failed both ways.
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

// Step 3.5: decoders flushed, frame rings emptied by presentation.
static void flush_decoders(PlayerContext* ctx)
{
    ctx->end_of_file.store(0, std::memory_order_relaxed);
    for (StreamSlot& slot : ctx->slots) {
        if (slot.stream_index.load(std::memory_order_relaxed) < 0)
            continue;
        avcodec_flush_buffers(slot.codec);
        while (slot.frames_read.load(std::memory_order_acquire) != slot.frames_write.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
}

// Step 3.
static PassResult handle_seek(PlayerContext* ctx, DemuxState* st)
{
    int32_t target = ctx->seek_target_ms.load(std::memory_order_acquire);
    if (target < 0)
        return PASS_GO_ON;
    if (st->request_wall_ms == 0) {
        uint32_t noted = ctx->stats.seek_request_wall_ms.exchange(0, std::memory_order_relaxed);
        st->request_wall_ms = noted ? noted : now_ms();
        st->origin = ctx->stats.seek_origin.exchange(SEEK_BY_USER, std::memory_order_relaxed);
    }
    if (seek_deferred(ctx))
        return PASS_SLEEP;
    // The decoder must have let go of every packet and published its sound.
    if (ctx->packets_in_flight.load(std::memory_order_acquire) != 0 ||
        ctx->decoder_busy.load(std::memory_order_acquire) != 0)
        return PASS_SLEEP;
    // The direction is taken (and reset) as the seek starts, not when it
    // ends: a newer request written meanwhile keeps its own direction.
    st->forward = ctx->seek_forward.exchange(-1, std::memory_order_acq_rel);
    target = ctx->seek_target_ms.load(std::memory_order_acquire);
    if (!seek_to(ctx, st, target)) {
        ctx->seek_target_ms.compare_exchange_strong(target, -1, std::memory_order_relaxed);
        st->request_wall_ms = 0;
        return PASS_SLEEP;
    }
    flush_decoders(ctx);
    int32_t landing = read_landing(ctx, st, target);
    finish_seek(ctx, st, target, landing);
    return PASS_GO_ON;
}

// ---- reading ----

// Step 4.
static PassResult read_packet(PlayerContext* ctx, DemuxState* st)
{
    if (ring_is_full(&ctx->ring))
        return PASS_SLEEP;
    if (ctx->end_of_file.load(std::memory_order_relaxed) != 0)
        return PASS_GO_ON;
    PacketNode* spare = st->spare;
    if (av_read_frame(format_of(ctx), spare->packet) >= 0) {
        if (slot_of_stream(ctx, spare->packet->stream_index) >= 0)
            st->spare = ring_push(ctx, spare, &ctx->packets_in_flight,
                                  (ctx->ring.ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK);
        else
            av_packet_unref(spare->packet);
        return PASS_AT_ONCE;
    }
    // The end of the file, or a read error (a file that went away or was
    // cut short): either way the item ends. Each stream gets its end marker.
    av_packet_unref(spare->packet);
    ctx->end_of_file.store(1, std::memory_order_relaxed);
    for (StreamSlot& slot : ctx->slots) {
        int32_t index = slot.stream_index.load(std::memory_order_relaxed);
        if (index < 0)
            continue;
        while (ring_is_full(&ctx->ring))
            std::this_thread::yield();
        st->spare->packet->stream_index = index;
        st->spare = ring_push(ctx, st->spare, &ctx->packets_in_flight,
                              (ctx->ring.ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK);
    }
    return PASS_GO_ON;
}

// ---- the end of the item ----

static bool pipeline_empty(PlayerContext* ctx)
{
    if (ctx->packets_in_flight.load(std::memory_order_acquire) != 0 ||
        ctx->decoder_busy.load(std::memory_order_acquire) != 0)
        return false;
    for (int kind = 0; kind < SLOT_COUNT; kind++) {
        StreamSlot* slot = &ctx->slots[kind];
        if (slot->frames_read.load(std::memory_order_acquire) != slot->frames_write.load(std::memory_order_acquire))
            return false;
        if (kind == SLOT_VIDEO)
            ctx->step_frame.store(0, std::memory_order_relaxed);
    }
    return true;
}

static bool last_entry(PlayerContext* ctx)
{
    return ctx->current_item.load(std::memory_order_relaxed) + 1 >= ctx->item_count.load(std::memory_order_relaxed);
}

// A run that ends with its list: the last picture must have been drawn before
// the program is asked to close (presentation may still be waiting for it).
static void end_run(PlayerContext* ctx, int64_t presented_before)
{
    bool video = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
    for (int i = 0; video && i < 200; i++) {
        if (ctx->stats.video_frames_presented.load(std::memory_order_relaxed) > presented_before &&
            ctx->redraw_pending.load(std::memory_order_relaxed) == 0)
            break;
        delay_100ns(SLEEP_10MS);
    }
    // With the request cleared, the last picture is being drawn or done; its
    // drawing may still wait for the picture's due time.
    if (video)
        wait_for_drawing(ctx);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        engine_stats_item_subtitles(ctx);
    }
    window_post(MSG_CLOSE, 0, 0);
}

// When the run ends with the list, the item does not loop or repeat: the
// next entry follows, and after the last one the program ends.
static void end_instead_of_looping(PlayerContext* ctx, int64_t presented_before)
{
    if (last_entry(ctx))
        end_run(ctx, presented_before);
    else
        window_post(MSG_PLAYLIST, PLAYLIST_ITEM_ENDED, 0);
}

// Step 5. Returns PASS_EXIT when the item ended as a still picture.
static PassResult handle_end(PlayerContext* ctx, int64_t presented_at_start)
{
    if (ctx->end_of_file.load(std::memory_order_relaxed) != 1 || !pipeline_empty(ctx))
        return PASS_SLEEP;
    if (ctx->playing.load(std::memory_order_relaxed) == 0)
        return PASS_SLEEP; // a paused item stays at its end
    delay_100ns(SLEEP_30MS);
    bool quit_at_end = ctx->quit_at_end.load(std::memory_order_relaxed) != 0;
    const StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    if (video->stream_index.load(std::memory_order_relaxed) >= 0) {
        // The decoder's count of pictures since it was opened; the empty
        // pipeline (acquire above) orders it after the decoder's last write.
        if (video->codec->frame_number <= 1) {
            if (quit_at_end)
                end_instead_of_looping(ctx, presented_at_start);
            return PASS_EXIT;
        }
        if (video->codec->codec_id == AV_CODEC_ID_GIF) {
            if (quit_at_end) {
                ctx->playing.store(0, std::memory_order_relaxed);
                end_instead_of_looping(ctx, presented_at_start);
                return PASS_SLEEP;
            }
            ctx->stats.seek_origin.store(SEEK_BY_LOOP, std::memory_order_relaxed);
            ctx->seek_target_ms.store(0, std::memory_order_relaxed);
            return PASS_SLEEP;
        }
    }
    if (ctx->item_count.load(std::memory_order_relaxed) <= 1 && !quit_at_end) {
        ctx->stats.seek_origin.store(SEEK_BY_LOOP, std::memory_order_relaxed);
        ctx->seek_target_ms.store(0, std::memory_order_relaxed);
        return PASS_SLEEP;
    }
    ctx->playing.store(0, std::memory_order_relaxed);
    while (ctx->menu_depth.load(std::memory_order_acquire) != 0)
        delay_100ns(SLEEP_10MS);
    if (ctx->open_index.load(std::memory_order_acquire) < 0) {
        if (quit_at_end && last_entry(ctx))
            end_run(ctx, presented_at_start);
        else
            window_post(MSG_PLAYLIST, PLAYLIST_ITEM_ENDED, 0);
    }
    return PASS_SLEEP;
}

// ---- the loop ----

// Step 7: every slot drained in drop mode, the subtitle source unloaded.
static void exit_loop(PlayerContext* ctx, DemuxState* st)
{
    for (StreamSlot& slot : ctx->slots) {
        ctx->seek_target_ms.store(0, std::memory_order_relaxed);
        drain_slot(ctx, &slot);
    }
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        engine_stats_item_subtitles(ctx);
    }
    close_subtitles(&ctx->subtitles);
    release_accepted(ctx, st);
    free_node(ctx, st->spare);
    st->spare = nullptr;
}

void demux_loop(PlayerContext* ctx)
{
    DemuxState st;
    memset(&st, 0, sizeof st);
    ctx->packets_in_flight.store(-1, std::memory_order_relaxed);
    st.spare = packet_node_new(&ctx->packets_in_flight);
    ctx->end_of_file.store(0, std::memory_order_relaxed);
    int64_t presented_at_start = ctx->stats.video_frames_presented.load(std::memory_order_relaxed);
    for (;;) {
        // 1.
        if (ctx->open_index.load(std::memory_order_acquire) >= 0)
            break;
        // 2, 3.
        handle_track_switch(ctx);
        if (handle_seek(ctx, &st) == PASS_GO_ON) {
            // 4, 5.
            PassResult result = read_packet(ctx, &st);
            if (result == PASS_AT_ONCE)
                continue;
            if (result == PASS_GO_ON && handle_end(ctx, presented_at_start) == PASS_EXIT)
                break;
        }
        // 6.
        engine_poll_sleep(ctx);
    }
    exit_loop(ctx, &st);
}
