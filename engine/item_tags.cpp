// The open item's tags as the desktop's media-player interface shows them,
// read from the container by the media thread and handed to the window
// thread as a record of its own.
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"

namespace {

// The first of the keys the container or the stream that plays the sound
// has (Ogg and FLAC keep their comments with the stream).
std::string tag(AVFormatContext* format, AVStream* sound, std::initializer_list<const char*> keys)
{
    for (AVDictionary* metadata : {format->metadata, sound ? sound->metadata : nullptr}) {
        for (const char* key : keys) {
            std::string text = metadata_text(metadata, key);
            if (!text.empty())
                return text;
        }
    }
    return std::string();
}

// "3", "03" and "3/12" are track 3; anything else none.
int32_t track_number(const std::string& text)
{
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    bool whole = end != text.c_str() && (*end == 0 || *end == '/');
    return whole && n > 0 && n <= INT32_MAX ? int32_t(n) : 0;
}

// A date the interface can give as one: it begins with a four-digit year.
std::string content_date(const std::string& text)
{
    for (size_t i = 0; i < 4; i++)
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::string();
    return text.substr(0, 64);
}

void read_tags(AVFormatContext* format, AVStream* sound, ItemTags* tags)
{
    tags->title = tag(format, sound, {"title"});
    tags->artist = tag(format, sound, {"artist", "author", "performer"});
    tags->album = tag(format, sound, {"album"});
    tags->album_artist = tag(format, sound, {"album_artist", "albumartist", "album artist"});
    tags->genre = tag(format, sound, {"genre"});
    tags->date = content_date(tag(format, sound, {"date", "year"}));
    tags->track_number = track_number(tag(format, sound, {"track"}));
}

// Clears the flags by which demuxers tell of changed tags; true when one was set.
bool take_update_flags(AVFormatContext* format)
{
    bool updated = (format->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED) != 0;
    format->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
    for (unsigned i = 0; i < format->nb_streams; i++) {
        AVStream* s = format->streams[i];
        updated |= (s->event_flags & AVSTREAM_EVENT_FLAG_METADATA_UPDATED) != 0;
        s->event_flags &= ~AVSTREAM_EVENT_FLAG_METADATA_UPDATED;
    }
    return updated;
}

void replace_tags(PlayerContext* ctx, ItemTags* fresh)
{
    ItemTags* old;
    {
        SpinGuard guard(&ctx->item_tags_lock);
        old = ctx->item_tags;
        ctx->item_tags = fresh;
    }
    delete old;
}

} // namespace

void item_tags_publish(PlayerContext* ctx, AVFormatContext* format)
{
    if (!format) {
        replace_tags(ctx, nullptr);
        return;
    }
    take_update_flags(format);
    auto* tags = new ItemTags();
    tags->item = ctx->items_opened.load(std::memory_order_relaxed);
    read_tags(format, slot_stream(ctx, SLOT_AUDIO), tags);
    CoverJob* job = nullptr;
    cover_art_find(ctx, format, tags, &job);
    replace_tags(ctx, tags);
    if (job)
        cover_art_write_later(ctx, job);
}

void item_tags_follow(PlayerContext* ctx, AVFormatContext* format)
{
    if (!format || !take_update_flags(format))
        return;
    ItemTags fresh{};
    read_tags(format, slot_stream(ctx, SLOT_AUDIO), &fresh);
    bool changed = false;
    {
        SpinGuard guard(&ctx->item_tags_lock);
        if (ItemTags* tags = ctx->item_tags) {
            // Some demuxers flag every packet's tags: only a change is told.
            changed = fresh.title != tags->title || fresh.artist != tags->artist || fresh.album != tags->album ||
                      fresh.album_artist != tags->album_artist || fresh.genre != tags->genre ||
                      fresh.date != tags->date || fresh.track_number != tags->track_number;
            if (changed) {
                fresh.item = tags->item;
                fresh.art_path = std::move(tags->art_path);
                *tags = std::move(fresh);
            }
        }
    }
    if (changed)
        window_post(MSG_ITEM_TAGS, 0, 0);
}
