// The window-thread side of MSG_PLAYLIST: what the engine asks of the playlist.
#pragma once
#include <cstdint>

struct PlayerContext;

// Handles one MSG_PLAYLIST sub-code (see ui/messages.h) on the window thread.
intptr_t playlist_handle_message(PlayerContext* ctx, uint32_t sub_code, intptr_t param);

// The parts of MSG_PLAYLIST that need the desktop window or the decoder.
// Each may be null: the step is then skipped.
struct PlaylistWindowHooks {
    // Sub-code 0: show the window unless it is in the tray, raise it, then
    // place it in the topmost band (topmost nonzero) or the normal band.
    void (*show_window)(PlayerContext* ctx, intptr_t topmost);
    // Sub-code 1: hide the mouse pointer (the state fields are set here).
    void (*hide_pointer)(PlayerContext* ctx);
    // Sub-code 5: frames the open video decoder has returned since its
    // stream was opened. Without it the deferred seek does not wait.
    int64_t (*video_frames_decoded)(PlayerContext* ctx);
};
// Installed once by the window (or the headless loop) before the engine runs.
void playlist_set_window_hooks(const PlaylistWindowHooks* hooks);

// The sub-codes as plain functions.
// 2: the item ended. Two or more entries: the next one, wrapping to the
// first; fewer: the single item restarts from 0. With quit_at_end set, the
// wrap or the restart posts MSG_CLOSE (exit code 0) instead.
void playlist_item_ended(PlayerContext* ctx);
// 3: media_path and display_name of entry index. Returns 1 when they were
// filled, 0 when the index lies outside the list or the path needs more
// than 779 UTF-16 units (the entry cannot be opened).
int playlist_fill_path(PlayerContext* ctx, intptr_t index);
// 4: frees the previous open options, then builds ctx->open_options from
// the entry's parameters. Returns the address of ctx->open_options (an
// AVDictionary**, what the open call takes) when it holds a pair, else 0.
intptr_t playlist_build_options(PlayerContext* ctx, intptr_t index);
// 5: waits (1 ms steps) until the video decoder has returned 128 frames or
// the item has run dry, then sets seek_target_ms to target_ms.
void playlist_deferred_seek(PlayerContext* ctx, int32_t target_ms);
