// The open item's tags and cover as the media-player interface reports them,
// copied from the engine's description of the item. Window thread only.
#include <cstring>

#include "core/core.h"
#include "ui/services_internal.h"

static void copy_text(char* out, size_t out_size, const std::string& text)
{
    utf8_copy_units(out, out_size, text.data(), text.size(), (out_size - 1) / 3);
}

void remote_read_tags(PlayerContext* ctx, const PlaylistEntry* entry, MprisState* s)
{
    if (entry && entry->title && entry->title[0])
        utf8_copy_units(s->title, sizeof s->title, entry->title, strlen(entry->title), DISPLAY_NAME_UNITS - 1);
    SpinGuard guard(&ctx->item_tags_lock);
    const ItemTags* tags = ctx->item_tags;
    if (!tags)
        return;
    if (!s->title[0])
        copy_text(s->title, sizeof s->title, tags->title);
    copy_text(s->artist, sizeof s->artist, tags->artist);
    copy_text(s->album, sizeof s->album, tags->album);
    copy_text(s->album_artist, sizeof s->album_artist, tags->album_artist);
    copy_text(s->genre, sizeof s->genre, tags->genre);
    copy_text(s->date, sizeof s->date, tags->date);
    s->track_number = tags->track_number;
    // A path cut short would name another file: such a cover is left out.
    if (tags->art_path.size() < sizeof s->art_path)
        memcpy(s->art_path, tags->art_path.c_str(), tags->art_path.size() + 1);
}
