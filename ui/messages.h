// Messages between the engine and the window thread.
#pragma once

// Ends the window thread's loop with the exit code in the first parameter,
// after the exit sequence (settings written, desktop state restored).
constexpr unsigned MSG_CLOSE = 0x0010;

// The engine's only way to reach the window thread and the playlist.
constexpr unsigned MSG_PLAYLIST = 0x500;

enum PlaylistSubCode {
    PLAYLIST_SHOW_WINDOW = 0,   // show, raise and keep the window above
    PLAYLIST_HIDE_POINTER = 1,  // hide the mouse pointer
    PLAYLIST_ITEM_ENDED = 2,    // the item played to its end
    PLAYLIST_GET_PATH = 3,      // fill media_path and display_name
    PLAYLIST_GET_OPTIONS = 4,   // build the open options of the item
    PLAYLIST_DEFERRED_SEEK = 5, // carry out a deferred seek
};
