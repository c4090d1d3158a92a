// Messages between the engine and the window thread.
#pragma once
#include <cstdint>

// Ends the window thread's loop with the exit code in the first parameter,
// after the exit sequence (settings written, desktop state restored).
constexpr unsigned MSG_CLOSE = 0x0010;

// The window's own messages, delivered by the desktop layer.
constexpr unsigned MSG_CREATE = 0x0001;          // a: const WindowCreation*
constexpr unsigned MSG_SIZE = 0x0005;            // a: SIZE_*; b: width | height << 16
constexpr unsigned MSG_SET_TITLE = 0x000C;       // b: const char* UTF-8 title
constexpr unsigned MSG_ERASE_BACKGROUND = 0x0014; // part of the window needs painting
constexpr unsigned MSG_SHOW_WINDOW = 0x0018;     // a: 1 shown, 0 hidden
constexpr unsigned MSG_SETTING_CHANGE = 0x001A;  // the work area may have changed
constexpr unsigned MSG_POSITION_CHANGED = 0x0047; // a: POSITION_*; b: const WindowRect*
constexpr unsigned MSG_DISPLAY_CHANGE = 0x007E;  // screens added, removed or resized
constexpr unsigned MSG_ACTIVATE = 0x0086;        // a: 1 becoming active, 0 inactive
// A dropped context menu: a non-zero while it is shown (it is closed
// first), b the menu, which the window thread destroys.
constexpr unsigned MSG_CANCEL_MODE = 0x001F;

// MSG_SIZE kinds.
constexpr uintptr_t SIZE_RESTORED = 0;
constexpr uintptr_t SIZE_MINIMIZED = 1;
constexpr uintptr_t SIZE_MAXIMIZED = 2;
constexpr uintptr_t SIZE_MAXSHOW = 3; // uncovered again
constexpr uintptr_t SIZE_MAXHIDE = 4; // fully covered by another window

// MSG_POSITION_CHANGED flags.
constexpr uintptr_t POSITION_MOVED = 1;
constexpr uintptr_t POSITION_SIZED = 2;

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

// ---- hardware decoding ----
// An error box owned by the main window (a modal message box with an
// error icon): a is the caption, b the text, both static UTF-8 strings.
// Posted by the decoder thread; without a window the text goes to stderr.
constexpr unsigned MSG_ERROR_BOX = 0x0530;
