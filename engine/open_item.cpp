// Opening an item: the container, its streams and decoders, the sound
// device, subtitles beside the file, the start offset and the chapters.
#include <dirent.h>
#include <fnmatch.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
}

#include "app/player_context.h"
#include "app/text_utf.h"
#include "app/window_bridge.h"
#include "engine/engine.h"
#include "engine/timing.h"
#include "platform/platform.h"
#include "subtitle/subtitle.h"
#include "ui/messages.h"
#include "ui/window_title.h"

constexpr int ATTACHED_PICTURE = AV_DISPOSITION_ATTACHED_PIC; // 0x400
constexpr int DEFAULT_OR_FORCED = AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED;

int64_t timestamp_to_ms(int64_t ts, int num, int den)
{
    int64_t product;
    if (den <= 0)
        return 0;
    if (__builtin_mul_overflow(ts, int64_t(num) * 1000, &product))
        return (ts < 0) == (num < 0) ? INT64_MAX / den : INT64_MIN / den;
    return product / den;
}

int32_t stream_to_media_ms(const PlayerContext* ctx, const AVStream* stream, int64_t ts)
{
    int64_t ms = timestamp_to_ms(ts, stream->time_base.num, stream->time_base.den);
    int64_t offset = ctx->start_offset_ms.load(std::memory_order_relaxed);
    // Saturating: a timestamp far outside the item stays far outside it.
    if (ms < INT32_MIN + offset)
        return INT32_MIN;
    ms -= offset;
    return ms > INT32_MAX ? INT32_MAX : int32_t(ms);
}

int64_t media_ms_to_stream(const PlayerContext* ctx, const AVStream* stream, int64_t ms)
{
    int64_t product;
    if (stream->time_base.num <= 0)
        return 0;
    if (__builtin_mul_overflow(ctx->start_offset_ms.load(std::memory_order_relaxed) + ms,
                               int64_t(stream->time_base.den), &product))
        return ms < 0 ? INT64_MIN / 2 : INT64_MAX / 2;
    return product / (int64_t(stream->time_base.num) * 1000);
}

bool hardware_decoding_eligible(PlayerContext* ctx, const AVStream* stream, const AVCodec* decoder)
{
    return false;
}

// ---- choosing and opening one stream ----

// Steps 1 and 2: the stream chosen by ordinal, else the default or forced
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

// Steps 5 and 6: one decoding thread for pictures small enough not to need
// more, FFmpeg's own choice otherwise.
static int decoder_thread_count(const AVCodecParameters* par)
{
    int64_t area = int64_t(par->width) * par->height;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && area < 1920 * 1080) {
        // The reference count is not known before decoding starts; it counts as few.
        if (par->bits_per_coded_sample <= 8 || area < 1280 * 720)
            return 1;
    }
    return 0;
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
        avcodec_free_context(&codec);
        return -1;
    }
    codec->pkt_timebase = stream->time_base;
    if (!hardware_decoding_eligible(ctx, stream, decoder))
        codec->thread_count = decoder_thread_count(stream->codecpar);
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        avcodec_free_context(&codec);
        return -1;
    }
    platform_menu_set_check(ctx->menu.load(std::memory_order_acquire), 1019 + index, 1);
    *codec_out = codec;
    return index;
}

void close_slot(PlayerContext* ctx, int kind)
{
    StreamSlot* slot = &ctx->slots[kind];
    int32_t index = slot->stream_index.load(std::memory_order_relaxed);
    if (index >= 0)
        platform_menu_set_check(ctx->menu.load(std::memory_order_acquire), 1019 + index, 0);
    // The slot is drained: the decoder thread no longer touches its decoder.
    slot->stream_index.store(-1, std::memory_order_release);
    if (slot->codec) {
        avcodec_flush_buffers(slot->codec);
        avcodec_free_context(&slot->codec);
    }
}

bool open_slot(PlayerContext* ctx, int kind, int32_t choice, int type)
{
    close_slot(ctx, kind);
    AVCodecContext* codec = nullptr;
    int index = open_stream(ctx, choice, type, &codec);
    StreamSlot* slot = &ctx->slots[kind];
    slot->codec = codec;
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
    format_aspect_text(ctx->aspect_text, sizeof ctx->aspect_text, width, height, sar.num, sar.den);
    return true;
}

// ---- subtitle files beside the media file ----

static bool is_subtitle_name(const char* name)
{
    static const char* const patterns[] = {"*.ass", "*.ssa", "*.srt", "*.lrc"};
    for (const char* p : patterns) {
        if (fnmatch(p, name, FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

int find_subtitle_files(const char* media_path, void (*found)(void* user, const char* path), void* user)
{
    // The file part, and its stem without the extension.
    const char* slash = strrchr(media_path, '/');
    const char* name = slash ? slash + 1 : media_path;
    std::string_view stem(name);
    if (const char* dot = strrchr(name, '.'))
        stem = std::string_view(name, size_t(dot - name));
    std::string folder = slash ? std::string(media_path, size_t(slash - media_path + 1)) : std::string("./");
    std::string prefix = slash ? folder : std::string();
    int count = 0;
    for (const char* tail : {".*", "*"}) {
        std::string pattern = std::string(stem) + tail;
        DIR* dir = opendir(folder.c_str());
        if (!dir)
            return count;
        while (dirent* entry = readdir(dir)) {
            if (fnmatch(pattern.c_str(), entry->d_name, FNM_PERIOD) != 0 || !is_subtitle_name(entry->d_name))
                continue;
            std::string path = prefix + entry->d_name;
            found(user, path.c_str());
            count++;
        }
        closedir(dir);
    }
    return count;
}

// ---- open_item ----

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
// owns its dictionary and frees it at the next request).
static AVFormatContext* open_container(PlayerContext* ctx, const char* path)
{
    window_send(MSG_PLAYLIST, PLAYLIST_GET_OPTIONS, intptr_t(ctx->current_item.load(std::memory_order_relaxed)));
    AVDictionary* options = nullptr;
    av_dict_copy(&options, ctx->open_options, 0);
    AVFormatContext* format = nullptr;
    int ret = avformat_open_input(&format, path, nullptr, &options);
    av_dict_free(&options);
    return ret < 0 ? nullptr : format;
}

// Step 2: the container, with the legacy file name as the second try.
static AVFormatContext* open_media(PlayerContext* ctx)
{
    AVFormatContext* format = open_container(ctx, ctx->media_path);
    if (!format) {
        char converted[sizeof ctx->media_path];
        if (legacy_path(ctx->media_path, converted, sizeof converted))
            format = open_container(ctx, converted);
    }
    if (format && avformat_find_stream_info(format, nullptr) < 0)
        avformat_close_input(&format);
    return format;
}

// Step 4: the information line's title.
static void set_item_title(PlayerContext* ctx, AVFormatContext* format, int32_t i)
{
    const char* title = title_from_metadata(format->metadata);
    if (!title) {
        const char* slash = strrchr(ctx->display_name, '/');
        title = slash ? slash + 1 : ctx->display_name;
    }
    set_item_label(ctx, i, ctx->item_count.load(std::memory_order_relaxed), title);
}

// Step 5: video, then audio with its sound device. An audio stream whose
// device cannot be opened is closed again, so the item plays without sound
// instead of waiting for a clock that never comes.
static int open_streams(PlayerContext* ctx)
{
    int result = open_video(ctx, ctx->video_choice.load(std::memory_order_relaxed)) ? 1 : 0;
    if (open_slot(ctx, SLOT_AUDIO, ctx->audio_choice.load(std::memory_order_relaxed), AVMEDIA_TYPE_AUDIO)) {
        if (audio_open(&ctx->audio, ctx->slots[SLOT_AUDIO].codec))
            result = 1;
        else
            close_slot(ctx, SLOT_AUDIO);
        ctx->stats.audio_reset_wall_ms.store(now_ms(), std::memory_order_release);
    }
    return result;
}

static void add_found_file(void* user, const char* path)
{
    add_external_file(&static_cast<PlayerContext*>(user)->subtitles, path);
}

// Step 6: the embedded stream, else the first file beside the media file that loads.
static void open_subtitles(PlayerContext* ctx)
{
    int32_t choice = ctx->subtitle_choice.load(std::memory_order_relaxed);
    if (choice == -2)
        return;
    AVFormatContext* format = ctx->format.load(std::memory_order_relaxed);
    if (open_slot(ctx, SLOT_SUBTITLE, choice, AVMEDIA_TYPE_SUBTITLE) &&
        open_embedded_subtitles(&ctx->subtitles, ctx->slots[SLOT_SUBTITLE].codec, format)) {
        engine_stats_subtitle_source(ctx, STATS_SUB_EMBEDDED, nullptr);
        return;
    }
    SubtitleState* subs = &ctx->subtitles;
    uint32_t first_new = subs->external_count.load(std::memory_order_acquire);
    find_subtitle_files(ctx->media_path, add_found_file, ctx);
    uint32_t count = subs->external_count.load(std::memory_order_acquire);
    for (uint32_t k = first_new; k < count; k++) {
        if (load_external_file(subs, k)) {
            engine_stats_subtitle_source(ctx, STATS_SUB_EXTERNAL, subs->external_files[k]);
            return;
        }
    }
}

// Step 7: the start offset, the video start and the chapters.
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
    cancel_menu(ctx);
}

int open_item(PlayerContext* ctx, int32_t i)
{
    // 1.
    ctx->current_item.store(uint32_t(i), std::memory_order_relaxed);
    close_item(ctx);
    ctx->seek_forward.store(-1, std::memory_order_relaxed);
    ctx->seek_target_ms.store(-1, std::memory_order_relaxed);
    ctx->step_frame.store(0, std::memory_order_relaxed);
    engine_stats_begin_item(ctx, ctx->media_path);
    // 2.
    AVFormatContext* format = open_media(ctx);
    int result = 0;
    if (format) {
        ctx->format.store(format, std::memory_order_release);
        // 3.
        int64_t duration = format->duration > 0 ? format->duration / 1000 : 0;
        if (duration < 100 || duration > INT32_MAX)
            duration = duration > INT32_MAX ? INT32_MAX : 100;
        ctx->duration_ms.store(int32_t(duration), std::memory_order_relaxed);
        // 4, 5, 6.
        set_item_title(ctx, format, i);
        result = open_streams(ctx);
        if (result)
            open_subtitles(ctx);
    }
    // 7.
    finish_open(ctx, format);
    if (result)
        engine_stats_item_opened(ctx);
    return result;
}
