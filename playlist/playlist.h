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
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

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

// --- what may become an entry (any thread) ---
// What a path names, as the intake sees it.
enum PlaylistIntakeKind : int {
    PLAYLIST_INTAKE_FILE = 0,     // a regular file
    PLAYLIST_INTAKE_FOLDER = 1,   // a folder: its media are listed
    PLAYLIST_INTAKE_LOCATION = 2, // "scheme://..." (not file://): handed to the demuxer as it is
    PLAYLIST_INTAKE_MISSING = 3,  // names nothing (now)
    PLAYLIST_INTAKE_NOT_A_FILE = 4, // a named pipe, a device, a socket
    PLAYLIST_INTAKE_TOO_LONG = 5, // more than 779 UTF-16 units: it could never be opened
};
// What was refused in one batch, for its one notice.
struct PlaylistRefusals {
    uint32_t count = 0;
    std::string first_path;
    int first_reason = 0; // PlaylistIntakeKind
};
// 1 when the path fits the media thread's path buffer (779 UTF-16 units).
int playlist_path_fits(const char* path);
// The kind of path; entry_path is what the entry would hold (a file://
// location becomes its path).
int playlist_intake_kind(const char* path, std::string* entry_path);
// The one check every way in makes before a path joins the list: a regular
// file, a folder or a location is admitted (its kind is returned), and with
// keep_missing an absolute path that names nothing yet (the command line,
// the saved list: a disk may be mounted later). Anything else is refused:
// -1, and it is noted in refusals (may be null).
int playlist_admit(const char* path, int keep_missing, std::string* entry_path, PlaylistRefusals* refusals);
// Adds what from refused to into (may be null), keeping into's first.
void playlist_refusals_merge(PlaylistRefusals* into, const PlaylistRefusals& from);
// One notice for everything a batch refused (none when nothing was).
void playlist_refusals_notice(PlayerContext* ctx, const PlaylistRefusals* refusals);

// --- the media of a folder (any thread: no entry is touched) ---
struct PlaylistFolderFiles {
    std::vector<std::string> paths; // in list order
    PlaylistRefusals refused;       // matching names that are no regular file, or too long
};
// Recursive walk of one folder with one pattern list. Each folder's names
// are taken by name, case folded, compared ordinally; subfolders whose name
// begins with "." are skipped, every folder is entered once (symbolic-link
// loops end), and only regular files are taken. An unreadable folder, or one
// that vanishes meanwhile, gives nothing. cancel (may be null) set ends the
// walk early.
void playlist_collect_folder(const char* folder, const char* patterns, PlaylistFolderFiles* out,
                             const std::atomic<int>* cancel);
// A folder's media: its videos (from every subfolder), then its sounds;
// pictures only when the tree holds neither.
void playlist_collect_media(const char* folder, PlaylistFolderFiles* out, const std::atomic<int>* cancel);

// --- adding (window thread) ---
// With check_duplicates nonzero, a path equal byte for byte to an existing
// entry's path is refused (result 0): file names are case-sensitive.
// Otherwise a copy of the path is appended with no title and no parameters;
// nonzero. Out of memory also gives 0. No intake check: callers admit first.
int playlist_add_entry(PlayerContext* ctx, const char* path, int check_duplicates);
// The command line's way in: the path is admitted (a missing one kept);
// a folder's media are added in their order, anything else as it is.
// Returns how many files were added or met as duplicates; what was refused
// goes to refusals (may be null).
uint32_t playlist_add_path(PlayerContext* ctx, const char* path, int check_duplicates,
                           PlaylistRefusals* refusals = nullptr);
// The files of one pattern list from a folder tree (playlist_collect_folder)
// added to the list. Returns how many there were, duplicates refused included.
uint32_t playlist_scan_folder(PlayerContext* ctx, const char* folder, const char* patterns, int check_duplicates);
// After a batch of additions from dropped files or the open dialogs, with
// the count before the batch. Append mode: notice only. Replace mode: the
// new entries replace the old ones and entry 0 is opened. Returns 1 when the
// batch added something, else 0.
int playlist_commit_added(PlayerContext* ctx, int append_mode, uint32_t old_count);
// A batch gathered away from the list (a drop, the open dialog, a folder
// listed on another thread), committed against the list as it is now: in
// append mode its paths are added at the end (duplicates of listed entries
// and of each other refused) with the notice; in replace mode they become
// the whole list and the first one opens. Returns how many were added.
uint32_t playlist_commit_batch(PlayerContext* ctx, const std::vector<std::string>& paths, int append_mode);
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
// than 779 UTF-16 units (the entry cannot be opened; display_name still
// names it).
int playlist_fill_path(PlayerContext* ctx, intptr_t index);
// Frees the previous open options, then builds ctx->open_options from
// the entry's parameters. Returns the address of ctx->open_options (an
// AVDictionary**, what the open call takes) when it holds a pair, else 0.
intptr_t playlist_build_options(PlayerContext* ctx, intptr_t index);
// Sub-code 5: a thread of its own waits (1 ms steps) until the video
// decoder has returned 128 frames since its stream was opened or the item
// has run dry, then sets seek_target_ms to target_ms; returns at once. The
// seek is dropped when another item opens, another seek is asked for or a
// newer deferred seek comes meanwhile.
void playlist_deferred_seek(PlayerContext* ctx, int32_t target_ms);
