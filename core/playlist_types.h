// The playlist record as the player context embeds it. Owned by the window
// thread: only that thread adds, sorts or shuffles entries. Texts are UTF-8;
// a path is the native byte string the file system gave, so it need not be
// valid UTF-8. The functions that work on it live in playlist/.
#pragma once
#include <cstdint>

struct PlaylistEntry {
    char* path;   // never null
    char* title;  // null when the entry has none
    char* params; // key=value pairs joined by U+0001, null when none
};

struct Playlist {
    PlaylistEntry* items;
    uint32_t item_capacity;
    // Duplicate check index: open addressing over the path strings (by
    // address, so sorting and shuffling keep it valid), keyed by a hash that
    // ignores ASCII letter case. Rebuilt after a replace-mode commit.
    char** path_slots;
    uint32_t path_slot_count; // a power of two, or 0
    uint32_t path_slots_used;
};
