// The playlist's door: entries with path, title and parameters (the record
// is in core/playlist_types.h). Owned by the window thread: only that thread
// adds, sorts or shuffles entries. The engine reaches it only through
// MSG_PLAYLIST and the open request fields of the player context.
//
// Texts are UTF-8; a path is the native byte string the file system gave, so
// it need not be valid UTF-8. The entry count and the current index live in
// the player context (`item_count`, `current_item`), where the media thread
// reads them.
#pragma once
#include <cstdint>

#include "core/core.h"

// File type lists: shell patterns separated by ";", matched without regard
// to letter case.
extern const char PLAYLIST_VIDEO_PATTERNS[];
extern const char PLAYLIST_AUDIO_PATTERNS[];
extern const char PLAYLIST_IMAGE_PATTERNS[];
extern const char PLAYLIST_SUBTITLE_PATTERNS[];

// 1 when the file name (or the last component of a path) matches one of the
// patterns.
int playlist_name_matches(const char* name, const char* patterns);

// --- adding (window thread) ---
// With check_duplicates nonzero, a path equal to an existing entry's path
// ignoring ASCII letter case is refused (result 0). Otherwise a copy of the
// path is appended with no title and no parameters; nonzero. Out of memory
// also gives 0.
int playlist_add_entry(PlayerContext* ctx, const char* path, int check_duplicates);
// A folder is scanned (video, then audio, then pictures only when the first
// two met nothing); anything else is added as it is. Returns how many files
// were met (a path that is not a folder counts 1).
uint32_t playlist_add_path(PlayerContext* ctx, const char* path, int check_duplicates);
// Recursive scan of one folder with one pattern list: subfolders whose name
// begins with "." are skipped, every folder is entered once (symbolic-link
// loops end), and only regular files are added. Returns how many matching
// files were met, duplicates refused included; an unreadable folder gives 0.
uint32_t playlist_scan_folder(PlayerContext* ctx, const char* folder, const char* patterns, int check_duplicates);
// After a batch of additions from dropped files or the open dialogs, with
// the count before the batch. Append mode: notice only. Replace mode: the
// new entries replace the old ones and entry 0 is opened. Returns 1 when the
// batch added something, else 0.
int playlist_commit_added(PlayerContext* ctx, int append_mode, uint32_t old_count);
// Sets (text non-empty) or clears (null or empty) an entry's title or
// parameters. Returns 0 for an index outside the list or when out of memory.
int playlist_set_title(PlayerContext* ctx, uint32_t index, const char* title);
int playlist_set_params(PlayerContext* ctx, uint32_t index, const char* params);
// The title if present, else the path.
const char* playlist_display_name(const PlaylistEntry* entry);
// Frees every entry and the arrays (tests; the program keeps its list).
void playlist_free(PlayerContext* ctx);

// --- ordering (window thread) ---
// Natural order on display names: digit runs ("0" to "9") by value without
// regard to zero padding or length, other runs case-insensitively in the
// user's collation order; a shorter name that is a prefix sorts first.
// Negative, 0 or positive.
int playlist_compare(const PlaylistEntry* a, const PlaylistEntry* b);
// Sorts the list with playlist_compare; the current entry keeps playing and
// `current_item` follows it. Shows " 列表排序完成! " and drops the cached menu.
void playlist_sort(PlayerContext* ctx);
// Reorders the list at random around the current entry, which keeps its
// place in `current_item`. Shows " 列表已被打乱! " and drops the cached menu.
void playlist_shuffle(PlayerContext* ctx);

// --- playing (window thread) ---
// Writes an open request: open_request 1, open_play, open_start_ms, then
// open_index with release ordering, which the media thread takes.
void playlist_open_request(PlayerContext* ctx, int32_t index, int32_t play, int32_t start_ms);
// Asks the media thread to stop (open_index 2147483647 alone).
void playlist_request_stop(PlayerContext* ctx);
// Next and previous: only with two or more entries, wrapping around. Return
// 1 when a request was written.
int playlist_next(PlayerContext* ctx);
int playlist_previous(PlayerContext* ctx);
// Play when nothing is open: the current entry, or entry 0 when the current
// index lies outside the list. Returns 1 when a request was written.
int playlist_play_idle(PlayerContext* ctx);

// ---- what the engine asks of the playlist (window thread) ----
// Handles MSG_PLAYLIST sub-codes 2 to 5 (core/messages.h) on the window
// thread; 0 and 1 belong to the window itself.
intptr_t playlist_handle_message(PlayerContext* ctx, uint32_t sub_code, intptr_t param);

// The sub-codes as plain functions.
// The item ended. Two or more entries: the next one, wrapping to the
// first; fewer: the single item restarts from 0. With quit_at_end set, the
// wrap or the restart posts MSG_CLOSE (exit code 0) instead.
void playlist_item_ended(PlayerContext* ctx);
// Media_path and display_name of entry index. Returns 1 when they were
// filled, 0 when the index lies outside the list or the path needs more
// than 779 UTF-16 units (the entry cannot be opened).
int playlist_fill_path(PlayerContext* ctx, intptr_t index);
// Frees the previous open options, then builds ctx->open_options from
// the entry's parameters. Returns the address of ctx->open_options (an
// AVDictionary**, what the open call takes) when it holds a pair, else 0.
intptr_t playlist_build_options(PlayerContext* ctx, intptr_t index);
// Waits (1 ms steps) until the video decoder has returned 128 frames
// since its stream was opened or the item has run dry, then sets
// seek_target_ms to target_ms.
void playlist_deferred_seek(PlayerContext* ctx, int32_t target_ms);
