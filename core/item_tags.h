// What the desktop is told about the open item: its tags and its cover
// picture. The media thread describes the item (it owns the container) and
// hands the description to the window thread as a record of its own, under
// item_tags_lock, as it does for the context menu.
#pragma once
#include <cstdint>
#include <string>

struct ItemTags {
    // items_opened once this item had opened: the cover's writer hands its
    // file only to the item it was written for.
    int32_t item;
    // UTF-8, empty when the item has none.
    std::string title, artist, album, album_artist, genre, date;
    int32_t track_number; // 0 when none
    // The cover as a local picture file: the embedded one as the cache holds
    // it, else a cover.jpg or folder.jpg beside the file; empty when none.
    std::string art_path;
};

// An embedded cover on its way into the cache (engine/cover_art.cpp).
struct CoverJob;
