// Opening an item: the container, its streams and decoders, the sound
// device, subtitles beside the file, the start offset and the chapters.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The path in the legacy encoding, for files whose names were written that
// way; false when it would be the same bytes or cannot be converted.
static bool legacy_path(const char* path, char* out, size_t out_size)
{
    bool ascii = true;
    for (const char* p = path; *p; p++)
        ascii &= (unsigned char)*p < 0x80;
    if (ascii || !utf8_is_valid(path, strlen(path)))
        return false;
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == iconv_t(-1))
        return false;
    char* in = const_cast<char*>(path);
    size_t in_left = strlen(path);
    char* o = out;
    size_t out_left = out_size - 1;
    size_t r = iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    if (r == size_t(-1) || in_left != 0)
        return false;
    *o = 0;
    return true;
}

// Opens the container with the options of the entry (a copy: the playlist
// owns its dictionary and frees it at the next request). *probed: the
// container was opened and probed while the window was made.
static AVFormatContext* open_container(PlayerContext* ctx, const char* path, bool* probed)
{
    window_send(MSG_PLAYLIST, PLAYLIST_GET_OPTIONS, intptr_t(ctx->current_item.load(std::memory_order_relaxed)));
    AVFormatContext* early = take_early_open(ctx, path, ctx->open_options);
    *probed = early != nullptr;
    if (early)
        return early;
    AVDictionary* options = nullptr;
    av_dict_copy(&options, ctx->open_options, 0);
    AVFormatContext* format = nullptr;
    int ret = avformat_open_input(&format, path, nullptr, &options);
    av_dict_free(&options);
    if (ret == AVERROR(ENOMEM))
        ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
    return ret < 0 ? nullptr : format;
}

// The container, with the legacy file name as the second try.
static AVFormatContext* open_media(PlayerContext* ctx)
{
    bool probed = false;
    AVFormatContext* format = open_container(ctx, ctx->media_path, &probed);
    if (!format) {
        char converted[sizeof ctx->media_path];
        if (legacy_path(ctx->media_path, converted, sizeof converted))
            format = open_container(ctx, converted, &probed);
    }
    if (format && !probed && avformat_find_stream_info(format, nullptr) < 0)
        avformat_close_input(&format);
    return format;
}

// The information line's title.
static void set_item_title(PlayerContext* ctx, AVFormatContext* format, int32_t i)
{
    const char* title = title_from_metadata(format->metadata);
    if (!title) {
        const char* slash = strrchr(ctx->display_name, '/');
        title = slash ? slash + 1 : ctx->display_name;
    }
    set_item_label(ctx, i, ctx->item_count.load(std::memory_order_relaxed), title);
}

// Video, then audio with its sound device. An audio stream whose
// device cannot be opened is closed again, so the item plays without sound
// instead of waiting for a clock that never comes.
static int open_streams(PlayerContext* ctx)
{
    // The aspect text is drawn: it is written while presentation is held.
    hold_presentation(ctx);
    int result = open_video(ctx, ctx->video_choice.load(std::memory_order_relaxed)) ? 1 : 0;
    release_presentation(ctx);
    if (open_slot(ctx, SLOT_AUDIO, ctx->audio_choice.load(std::memory_order_relaxed), AVMEDIA_TYPE_AUDIO)) {
        if (audio_open(&ctx->audio, ctx->slots[SLOT_AUDIO].codec)) {
            result = 1;
        } else {
            stats_sound_silent(ctx, ctx->slots[SLOT_AUDIO].codec);
            close_slot(ctx, SLOT_AUDIO);
        }
    }
    return result;
}

static void add_found_file(void* user, const char* path)
{
    add_external_file(&static_cast<PlayerContext*>(user)->subtitles, path);
}

// The embedded stream, else the first file beside the media file that loads.
static void open_subtitles(PlayerContext* ctx)
{
    int32_t choice = ctx->subtitle_choice.load(std::memory_order_relaxed);
    if (choice == -2)
        return;
    AVFormatContext* format = ctx->format.load(std::memory_order_relaxed);
    if (open_slot(ctx, SLOT_SUBTITLE, choice, AVMEDIA_TYPE_SUBTITLE) &&
        open_embedded_subtitles(&ctx->subtitles, ctx->slots[SLOT_SUBTITLE].codec, format)) {
        stats_subtitle_source(ctx, STATS_SUB_EMBEDDED, nullptr);
        return;
    }
    SubtitleState* subs = &ctx->subtitles;
    uint32_t first_new = subs->external_count.load(std::memory_order_acquire);
    find_subtitle_files(ctx->media_path, add_found_file, ctx);
    uint32_t count = subs->external_count.load(std::memory_order_acquire);
    for (uint32_t k = first_new; k < count; k++) {
        if (load_external_file(subs, k)) {
            char path[EXTERNAL_PATH_BYTES];
            if (!external_file_path(subs, k, path, sizeof path))
                path[0] = 0;
            stats_subtitle_source(ctx, STATS_SUB_EXTERNAL, path);
            return;
        }
    }
}

// The start offset, the video start and the chapters.
static void finish_open(PlayerContext* ctx, AVFormatContext* format)
{
    int64_t offset = INT64_MAX;
    int64_t video_start = 0;
    for (int kind : {SLOT_VIDEO, SLOT_AUDIO}) {
        int32_t index = ctx->slots[kind].stream_index.load(std::memory_order_relaxed);
        if (index < 0 || !format)
            continue;
        const AVStream* s = format->streams[index];
        int64_t start = s->start_time > 0 && s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
        int64_t ms = timestamp_to_ms(start, s->time_base.num, s->time_base.den);
        if (kind == SLOT_VIDEO)
            video_start = ms;
        if (ms < offset)
            offset = ms;
    }
    if (offset == INT64_MAX)
        offset = 0;
    // The texts and the chapter list are drawn: they change while
    // presentation is held.
    hold_presentation(ctx);
    ctx->start_offset_ms.store(offset, std::memory_order_relaxed);
    ctx->video_start_ms.store(int32_t(video_start - offset), std::memory_order_relaxed);
    if (offset > 0)
        snprintf(ctx->start_offset_text, sizeof ctx->start_offset_text, "+%d.%03d", int(offset / 1000),
                 int(offset % 1000));
    else
        ctx->start_offset_text[0] = 0;
    uint32_t chapters = format ? format->nb_chapters : 0;
    if (chapters > ctx->chapter_capacity) {
        auto* grown = static_cast<Chapter*>(realloc(ctx->chapters, (chapters + 10) * sizeof(Chapter)));
        if (!grown)
            chapters = 0;
        else {
            ctx->chapters = grown;
            ctx->chapter_capacity = chapters + 10;
        }
    }
    for (uint32_t c = 0; c < chapters; c++) {
        const AVChapter* ch = format->chapters[c];
        Chapter* record = &ctx->chapters[c];
        memset(record, 0, sizeof *record);
        int64_t start = timestamp_to_ms(ch->start, ch->time_base.num, ch->time_base.den) - offset;
        int64_t end = timestamp_to_ms(ch->end, ch->time_base.num, ch->time_base.den) - offset;
        record->start_ms = int32_t(std::clamp<int64_t>(start, INT32_MIN, INT32_MAX));
        record->end_ms = int32_t(std::clamp<int64_t>(end, INT32_MIN, INT32_MAX));
        if (const char* title = title_from_metadata(ch->metadata))
            utf8_copy_units(record->title, sizeof record->title, title, strlen(title), 31);
    }
    ctx->chapter_count.store(chapters, std::memory_order_release);
    menu_source_publish(ctx, format);
    release_presentation(ctx);
    cancel_menu(ctx);
}

void close_item(PlayerContext* ctx)
{
    for (int kind = 0; kind < SLOT_COUNT; kind++)
        close_slot(ctx, kind);
    menu_source_publish(ctx, nullptr);
    item_tags_publish(ctx, nullptr);
    AVFormatContext* format = ctx->format.exchange(nullptr, std::memory_order_acq_rel);
    avformat_close_input(&format);
    ctx->track_switch_request.store(-1, std::memory_order_relaxed);
    {
        // The window thread may be appending a dropped subtitle file.
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        ctx->subtitles.external_count.store(0, std::memory_order_relaxed);
    }
    ctx->chapter_count.store(0, std::memory_order_relaxed);
    // Nothing of the item outlives it: with the start's duration again the
    // empty screen draws no progress markers at its old position.
    ctx->duration_ms.store(1, std::memory_order_relaxed);
}

int open_item(PlayerContext* ctx, int32_t i)
{
    ctx->current_item.store(uint32_t(i), std::memory_order_relaxed);
    seek_clear(ctx);
    ctx->step_frame.store(0, std::memory_order_relaxed);
    stats_item_begun(ctx, ctx->media_path);
    AVFormatContext* format = open_media(ctx);
    int result = 0;
    if (format) {
        ctx->format.store(format, std::memory_order_release);
        int64_t duration = format->duration > 0 ? format->duration / 1000 : 0;
        if (duration < 100 || duration > INT32_MAX)
            duration = duration > INT32_MAX ? INT32_MAX : 100;
        ctx->duration_ms.store(int32_t(duration), std::memory_order_relaxed);
        set_item_title(ctx, format, i);
        result = open_streams(ctx);
        if (result)
            open_subtitles(ctx);
    }
    finish_open(ctx, format);
    if (result) {
        ctx->items_opened.fetch_add(1, std::memory_order_relaxed);
        stats_item_opened(ctx);
        item_tags_publish(ctx, format);
    }
    return result;
}
