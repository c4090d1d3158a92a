// The window title and the item label it carries. Callable from any thread;
// the title itself is set by the window thread.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlayerContext;

// "Moravista 16.11.18.1022 64位": the title while nothing is open, and the
// middle part of the title of an open item.
const char* title_base_text();

// The item label "%d/%d.%s" (the entry's place counted from 1, the entry
// count, the name), at most 270 UTF-16 units; written by the media thread
// while opening the entry at entry_index (counted from 0, as the playlist
// counts). A null name empties it (the item was closed).
void set_item_label(PlayerContext* ctx, int32_t entry_index, uint32_t count, const char* name);
// Copies the label into out; returns its length.
size_t item_label_copy(PlayerContext* ctx, char* out, size_t out_size);

// With a name: "label / base / name" (at most 780 UTF-16 units); without one
// (null or empty): the base text. Hands the title to the window thread and
// returns once it is set; does nothing when no window loop runs.
void set_window_title(PlayerContext* ctx, const char* display_name);
// The title set_window_title would set, for the same state (tests, tray tip).
size_t format_window_title(PlayerContext* ctx, const char* display_name, char* out, size_t out_size);
