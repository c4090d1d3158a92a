// What the context menu lists of the open item: its streams and chapters,
// described by the media thread, which owns the container, and handed to
// the window thread as a record of its own.
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"

std::string metadata_text(AVDictionary* metadata, const char* key)
{
    const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
    if (!entry || !entry->value || !*entry->value)
        return std::string();
    size_t length = strnlen(entry->value, 64 * 1024);
    std::string converted(length * 4 + 16, '\0');
    long n = legacy_to_utf8(entry->value, length, converted.data(), converted.size());
    if (n <= 0)
        return std::string();
    char cut[259 * 3 + 1];
    size_t kept = utf8_copy_units(cut, sizeof cut, converted.data(), size_t(n), 259);
    return std::string(cut, kept);
}

static bool describe_stream(const AVStream* stream, MenuStream* out)
{
    const AVCodecParameters* par = stream->codecpar;
    switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO: out->kind = MENU_STREAM_VIDEO; break;
    case AVMEDIA_TYPE_AUDIO: out->kind = MENU_STREAM_AUDIO; break;
    case AVMEDIA_TYPE_SUBTITLE: out->kind = MENU_STREAM_SUBTITLE; break;
    default: return false;
    }
    out->index = stream->index;
    out->title = metadata_text(stream->metadata, "title");
    out->language = metadata_text(stream->metadata, "language");
    out->width = par->width;
    out->height = par->height;
    out->channels = par->ch_layout.nb_channels;
    out->sample_rate = par->sample_rate;
    out->bits_per_raw_sample = par->bits_per_raw_sample;
    out->bit_rate = par->bit_rate;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    out->codec = descriptor ? descriptor->name : "unknown";
    const char* profile = avcodec_profile_name(par->codec_id, par->profile);
    out->profile = profile ? profile : "";
    out->attached_picture = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    out->forced = (stream->disposition & AV_DISPOSITION_FORCED) != 0;
    out->default_track = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
    return true;
}

static MenuSource* describe_item(PlayerContext* ctx, AVFormatContext* format)
{
    auto* source = new MenuSource();
    for (unsigned i = 0; i < format->nb_streams; i++) {
        MenuStream stream{};
        if (describe_stream(format->streams[i], &stream))
            source->streams.push_back(std::move(stream));
    }
    // The chapter times as the player keeps them (relative to the item's
    // start offset); the titles in full.
    uint32_t count = ctx->chapter_count.load(std::memory_order_relaxed);
    for (uint32_t c = 0; c < count && c < format->nb_chapters; c++) {
        const Chapter* chapter = &ctx->chapters[c];
        source->chapters.push_back(MenuChapter{chapter->start_ms, chapter->end_ms,
                                               metadata_text(format->chapters[c]->metadata, "title")});
    }
    return source;
}

void menu_source_publish(PlayerContext* ctx, AVFormatContext* format)
{
    MenuSource* fresh = format ? describe_item(ctx, format) : nullptr;
    MenuSource* old;
    {
        SpinGuard guard(&ctx->menu_source_lock);
        old = ctx->menu_source;
        ctx->menu_source = fresh;
    }
    delete old;
}
