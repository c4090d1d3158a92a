// The playlist: entries with path, title and parameters. Owned by the window
// thread; the engine reaches it only through MSG_PLAYLIST.
#pragma once
#include <cstdint>

struct PlaylistEntry {
    char* path;
    char* title;      // null when the entry has none
    char* parameters; // null when the entry has none
};

struct Playlist {
    PlaylistEntry* items;
    uint32_t item_capacity;
};
