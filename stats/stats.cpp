#include "stats/stats.h"

#include "stats/stats_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <ass/ass.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

Stats* stats_enable(PlayerContext* ctx, uint32_t start_wall_ms)
{
    Stats* s = stats_of(ctx);
    if (s)
        return s;
    s = new (std::nothrow) Stats();
    if (!s)
        return nullptr;
    s->start_wall_ms = start_wall_ms;
    s->first_picture_ms.store(-1, std::memory_order_relaxed);
    s->open_seek.store(-1, std::memory_order_relaxed);
    ctx->stats.store(s, std::memory_order_release);
    return s;
}

Stats* stats_of(PlayerContext* ctx)
{
    return ctx->stats.load(std::memory_order_acquire);
}

void stats_disable(PlayerContext* ctx)
{
    Stats* s = ctx->stats.exchange(nullptr, std::memory_order_acq_rel);
    if (!s)
        return;
    free(s->items);
    free(s->notices);
    delete s;
}

void stats_reset(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    SpinGuard guard(&s->lock);
    s->item_count = 0;
    s->seek_count = 0;
    s->notice_count = 0;
    s->video_frames_decoded.store(0, std::memory_order_relaxed);
    s->video_frames_presented.store(0, std::memory_order_relaxed);
    s->video_frames_dropped.store(0, std::memory_order_relaxed);
    s->audio_chunks_written.store(0, std::memory_order_relaxed);
    s->first_picture_ms.store(-1, std::memory_order_relaxed);
    s->offset_count = 0;
    s->offset_sum_ms = 0;
    s->offset_max_ms = 0;
    memset(s->offset_histogram, 0, sizeof s->offset_histogram);
    s->seek_request_wall_ms.store(0, std::memory_order_relaxed);
    s->seek_origin.store(SEEK_BY_USER, std::memory_order_relaxed);
    s->open_seek.store(-1, std::memory_order_relaxed);
}

void stats_seek_asked(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    uint32_t now = now_ms();
    s->seek_request_wall_ms.store(now ? now : 1, std::memory_order_relaxed);
}

void stats_engine_seek(PlayerContext* ctx, int32_t origin)
{
    if (Stats* s = stats_of(ctx))
        s->seek_origin.store(origin, std::memory_order_relaxed);
}

void stats_seek_started(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s || s->current_request_wall_ms != 0)
        return;
    uint32_t noted = s->seek_request_wall_ms.exchange(0, std::memory_order_relaxed);
    s->current_request_wall_ms = noted ? noted : now_ms();
    s->current_origin = s->seek_origin.exchange(SEEK_BY_USER, std::memory_order_relaxed);
}

void stats_seek_abandoned(PlayerContext* ctx)
{
    if (Stats* s = stats_of(ctx))
        s->current_request_wall_ms = 0;
}

static StatsItem* current_item(Stats* s)
{
    return s->item_count > 0 ? &s->items[s->item_count - 1] : nullptr;
}

void stats_item_begun(PlayerContext* ctx, const char* path)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    SpinGuard guard(&s->lock);
    if (s->item_count == s->item_capacity) {
        int32_t capacity = s->item_capacity ? s->item_capacity * 2 : 16;
        auto* grown = static_cast<StatsItem*>(realloc(s->items, size_t(capacity) * sizeof(StatsItem)));
        if (!grown)
            return; // the statistics lose this item; playback goes on
        s->items = grown;
        s->item_capacity = capacity;
    }
    StatsItem* item = &s->items[s->item_count++];
    memset(item, 0, sizeof *item);
    snprintf(item->path, sizeof item->path, "%s", path);
}

static void copy_codec_name(char* out, size_t size, const StreamSlot* slot)
{
    if (slot->stream_index.load(std::memory_order_relaxed) >= 0 && slot->codec)
        snprintf(out, size, "%s", avcodec_get_name(slot->codec->codec_id));
}

void stats_item_opened(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    SpinGuard guard(&s->lock);
    StatsItem* item = current_item(s);
    if (!item)
        return;
    item->opened = 1;
    item->duration_ms = ctx->duration_ms.load(std::memory_order_relaxed);
    const StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    const StreamSlot* audio = &ctx->slots[SLOT_AUDIO];
    copy_codec_name(item->video_codec, sizeof item->video_codec, video);
    if (video->stream_index.load(std::memory_order_relaxed) >= 0 && video->codec) {
        item->width = video->codec->width;
        item->height = video->codec->height;
    }
    copy_codec_name(item->audio_codec, sizeof item->audio_codec, audio);
    if (audio->stream_index.load(std::memory_order_relaxed) >= 0 && audio->codec) {
        item->sample_rate = audio->codec->sample_rate;
        item->channels = audio->codec->ch_layout.nb_channels;
    }
    item->chapters = int32_t(ctx->chapter_count.load(std::memory_order_relaxed));
}

void stats_sound_silent(PlayerContext* ctx, const AVCodecContext* codec)
{
    Stats* s = stats_of(ctx);
    if (!s || !codec)
        return;
    SpinGuard guard(&s->lock);
    StatsItem* item = current_item(s);
    if (!item)
        return;
    item->silent = 1;
    snprintf(item->audio_codec, sizeof item->audio_codec, "%s", avcodec_get_name(codec->codec_id));
    item->sample_rate = codec->sample_rate;
    item->channels = codec->ch_layout.nb_channels;
}

void stats_subtitle_source(PlayerContext* ctx, int32_t source, const char* path)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    SpinGuard guard(&s->lock);
    StatsItem* item = current_item(s);
    if (!item)
        return;
    item->subtitle_source = source;
    snprintf(item->subtitle_path, sizeof item->subtitle_path, "%s", path ? path : "");
}

void stats_item_subtitles(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    ASS_Track* track = ctx->subtitles.sub_track.load(std::memory_order_acquire);
    SpinGuard guard(&s->lock);
    StatsItem* item = current_item(s);
    if (!item || !track || item->subtitle_source == STATS_SUB_NONE)
        return;
    item->subtitle_events = track->n_events;
    // The first event in time, not in storage order.
    int first = -1;
    for (int i = 0; i < track->n_events; i++) {
        if (first < 0 || track->events[i].Start < track->events[first].Start)
            first = i;
    }
    if (first >= 0 && track->events[first].Text)
        snprintf(item->subtitle_first_text, sizeof item->subtitle_first_text, "%s", track->events[first].Text);
}

void stats_seek_done(PlayerContext* ctx, int32_t target_ms)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    uint32_t request_wall_ms = s->current_request_wall_ms;
    int32_t origin = s->current_origin;
    s->current_request_wall_ms = 0;
    SpinGuard guard(&s->lock);
    if (s->seek_count >= STATS_MAX_SEEKS) {
        s->open_seek.store(-1, std::memory_order_release);
        return;
    }
    StatsSeek* seek = &s->seeks[s->seek_count];
    seek->target_ms = target_ms;
    seek->origin = origin;
    seek->request_wall_ms = request_wall_ms;
    seek->first_frame_ms = -1;
    seek->latency_ms = -1;
    s->open_seek.store(s->seek_count++, std::memory_order_release);
}

void stats_picture_decoded(PlayerContext* ctx)
{
    if (Stats* s = stats_of(ctx))
        s->video_frames_decoded.fetch_add(1, std::memory_order_relaxed);
}

void stats_picture_dropped(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (s && s->open_seek.load(std::memory_order_relaxed) < 0)
        s->video_frames_dropped.fetch_add(1, std::memory_order_relaxed);
}

// A shown picture or sound chunk closes the seek that awaited it when it was
// taken (awaited: the open seek then, -1 none).
static void close_open_seek(Stats* s, int32_t time_ms, uint32_t now, int32_t awaited)
{
    if (awaited < 0 || s->open_seek.load(std::memory_order_acquire) != awaited)
        return;
    SpinGuard guard(&s->lock);
    int32_t index = awaited; // a seek opened meanwhile stays open
    if (!s->open_seek.compare_exchange_strong(index, -1, std::memory_order_acq_rel) || index >= s->seek_count)
        return;
    s->seeks[index].first_frame_ms = time_ms;
    s->seeks[index].latency_ms = int32_t(now - s->seeks[index].request_wall_ms);
}

int32_t stats_picture_taken(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    return s ? s->open_seek.load(std::memory_order_acquire) : -1;
}

void stats_picture_shown(PlayerContext* ctx, int32_t time_ms, int32_t taken, const int32_t* heard_ms)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    uint32_t now = now_ms();
    s->video_frames_presented.fetch_add(1, std::memory_order_release);
    int64_t expected = -1;
    int64_t since_start = int64_t(uint32_t(now - s->start_wall_ms));
    s->first_picture_ms.compare_exchange_strong(expected, since_start, std::memory_order_relaxed);
    close_open_seek(s, time_ms, now, taken);
    // Sound minus picture: how much later the sound of this picture is
    // heard than the picture is seen (positive: the sound comes late).
    if (heard_ms)
        stats_av_offset(ctx, time_ms - *heard_ms);
    stats_drag_picture(s, now);
}

void stats_sound_written(PlayerContext* ctx, int32_t time_ms, bool without_video)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    if (without_video)
        close_open_seek(s, time_ms, now_ms(), s->open_seek.load(std::memory_order_acquire));
    s->audio_chunks_written.fetch_add(1, std::memory_order_release);
}

void stats_av_offset(PlayerContext* ctx, int32_t offset_ms)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    int32_t magnitude = offset_ms < 0 ? -offset_ms : offset_ms;
    SpinGuard guard(&s->lock);
    s->offset_count++;
    s->offset_sum_ms += offset_ms;
    if (magnitude > s->offset_max_ms)
        s->offset_max_ms = magnitude;
    s->offset_histogram[magnitude < STATS_OFFSET_BUCKETS ? magnitude : STATS_OFFSET_BUCKETS - 1]++;
}

static StatsOffsets offsets_locked(const Stats* s)
{
    StatsOffsets o = {s->offset_count, 0.0, 0, s->offset_max_ms};
    if (s->offset_count == 0)
        return o;
    o.mean_ms = double(s->offset_sum_ms) / double(s->offset_count);
    // The smallest value that at least 95 % of the offsets do not exceed.
    int64_t needed = (s->offset_count * 95 + 99) / 100;
    int64_t seen = 0;
    for (int32_t b = 0; b < STATS_OFFSET_BUCKETS; b++) {
        seen += s->offset_histogram[b];
        if (seen >= needed) {
            o.p95_ms = b;
            break;
        }
    }
    return o;
}

StatsOffsets stats_offsets(PlayerContext* ctx)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return StatsOffsets{0, 0.0, 0, 0};
    SpinGuard guard(&s->lock);
    return offsets_locked(s);
}

static void write_json_string(FILE* f, const char* text)
{
    std::string quoted;
    stats_append_json_string(&quoted, text);
    fputs(quoted.c_str(), f);
}

static const char* subtitle_source_name(int32_t source)
{
    switch (source) {
    case STATS_SUB_EMBEDDED: return "embedded";
    case STATS_SUB_EXTERNAL: return "external";
    default: return "none";
    }
}

static const char* seek_origin_name(int32_t origin)
{
    switch (origin) {
    case SEEK_BY_SWITCH: return "switch";
    case SEEK_BY_LOOP: return "loop";
    case SEEK_BY_START: return "start";
    default: return "user";
    }
}

static void write_item(FILE* f, const StatsItem* item)
{
    fputs("{\"path\":", f);
    write_json_string(f, item->path);
    fprintf(f, ",\"opened\":%s,\"duration_ms\":%d,\"video_codec\":", item->opened ? "true" : "false",
            item->duration_ms);
    write_json_string(f, item->video_codec);
    fprintf(f, ",\"width\":%d,\"height\":%d,\"audio_codec\":", item->width, item->height);
    write_json_string(f, item->audio_codec);
    fprintf(f, ",\"sample_rate\":%d,\"channels\":%d,\"silent\":%s,\"chapters\":%d,\"subtitle\":{\"source\":",
            item->sample_rate, item->channels, item->silent ? "true" : "false", item->chapters);
    write_json_string(f, subtitle_source_name(item->subtitle_source));
    fputs(",\"path\":", f);
    write_json_string(f, item->subtitle_path);
    fprintf(f, ",\"events\":%d,\"first_text\":", item->subtitle_events);
    write_json_string(f, item->subtitle_first_text);
    fputs("},\"decoder\":", f);
    write_json_string(f, item->decoder);
    fputs(",\"presenter\":", f);
    write_json_string(f, item->presenter);
    fputs("}", f);
}

bool stats_write_json(PlayerContext* ctx, const char* path, const char* exit_reason)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return false;
    FILE* f = fopen(path, "w");
    if (!f)
        return false;
    // The item still playing has its subtitle count taken now.
    {
        SpinGuard subtitles(&ctx->subtitles.subtitle_lock);
        stats_item_subtitles(ctx);
    }
    SpinGuard guard(&s->lock);
    fputs("{\"items\":[", f);
    for (int32_t i = 0; i < s->item_count; i++) {
        if (i)
            fputc(',', f);
        write_item(f, &s->items[i]);
    }
    fprintf(f, "],\"video_frames_decoded\":%lld,\"video_frames_presented\":%lld,\"video_frames_dropped\":%lld,"
               "\"audio_chunks_written\":%lld,\"first_picture_ms\":%lld,",
            (long long)s->video_frames_decoded.load(), (long long)s->video_frames_presented.load(),
            (long long)s->video_frames_dropped.load(), (long long)s->audio_chunks_written.load(),
            (long long)s->first_picture_ms.load());
    StatsOffsets o = offsets_locked(s);
    fprintf(f, "\"av_offset_ms\":{\"mean\":%.2f,\"p95\":%d,\"max\":%d,\"count\":%lld},\"seeks\":[", o.mean_ms,
            o.p95_ms, o.max_ms, (long long)o.count);
    for (int32_t i = 0; i < s->seek_count; i++) {
        const StatsSeek* seek = &s->seeks[i];
        fprintf(f, "%s{\"target_ms\":%d,\"first_frame_ms\":%d,\"latency_ms\":%d,\"origin\":\"%s\"}", i ? "," : "",
                seek->target_ms, seek->first_frame_ms, seek->latency_ms, seek_origin_name(seek->origin));
    }
    fprintf(f, "],\"window_drags\":{\"count\":%d,\"total_ms\":%lld,\"pictures\":%lld,\"max_gap_ms\":%d}",
            s->drag_count.load(), (long long)s->drag_total_ms.load(), (long long)s->drag_pictures.load(),
            s->drag_max_gap_ms.load());
    fprintf(f, ",\"window_longest_hold_ms\":%d,\"window_holds\":[", s->hold_longest_ms);
    for (int32_t i = 0; i < s->hold_count; i++)
        fprintf(f, "%s[%u,%d,%d,%d]", i ? "," : "", s->holds[i].end_wall_ms, s->holds[i].held_ms, s->holds[i].cpu_ms,
                s->holds[i].queued_ms);
    fputc(']', f);
    fputs(",", f);
    stats_write_notices_and_state(f, ctx, s);
    fputs(",\"menu\":", f);
    fputs(s->menu_json.empty() ? "null" : s->menu_json.c_str(), f);
    fputs(",\"exit_reason\":", f);
    write_json_string(f, exit_reason ? exit_reason : "");
    fputs("}\n", f);
    return fclose(f) == 0;
}

// ---- decoding and presentation paths ----

static void set_item_text(PlayerContext* ctx, const char* name, bool decoder)
{
    Stats* s = stats_of(ctx);
    if (!s || !name)
        return;
    SpinGuard guard(&s->lock);
    StatsItem* item = current_item(s);
    if (!item)
        return;
    char* field = decoder ? item->decoder : item->presenter;
    size_t size = decoder ? sizeof item->decoder : sizeof item->presenter;
    if (strcmp(field, name) != 0)
        snprintf(field, size, "%s", name);
}

void stats_item_decoder(PlayerContext* ctx, const char* name)
{
    set_item_text(ctx, name, true);
}

void stats_item_presenter(PlayerContext* ctx, const char* name)
{
    set_item_text(ctx, name, false);
}
