// Messages between the engine and the window thread.
#pragma once
#include <cstdint>
#include <cstddef>

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

// ---- window geometry and file intake ----
// The desktop layer asks the window procedure where the pointer is (a: x,
// b: y, client coordinates); the answer is a HIT_* code.
constexpr unsigned MSG_HIT_TEST = 0x0084;
// The smallest size the window may take; b: WindowMinSize*, filled in.
constexpr unsigned MSG_GET_MIN_SIZE = 0x0024;
// A press of the left button on a resize band (a: HIT_* code), as the
// desktop layer saw it: the window procedure starts the resize.
constexpr unsigned MSG_NC_LBUTTON_DOWN = 0x00A1;
// The player's own move and resize loops: begin and end of one drag, and
// each proposed rectangle (b: WindowRect*, changed in place) while moving
// or sizing (a: the SIZING_* edge).
constexpr unsigned MSG_ENTER_SIZE_MOVE = 0x0231;
constexpr unsigned MSG_EXIT_SIZE_MOVE = 0x0232;
constexpr unsigned MSG_SIZING = 0x0214;
constexpr unsigned MSG_MOVING = 0x0216;
// Files dropped on the window; b: const DroppedFiles*.
constexpr unsigned MSG_DROP_FILES = 0x0233;
// A data message from another program; b: const CopyData*. The answer is
// the message's 64-bit result.
constexpr unsigned MSG_COPY_DATA = 0x004A;

// Hit-test answers: the client area, or the edge or corner a press resizes.
constexpr intptr_t HIT_CLIENT = 1;
constexpr intptr_t HIT_CAPTION = 2; // moves the window
constexpr intptr_t HIT_LEFT = 10;
constexpr intptr_t HIT_RIGHT = 11;
constexpr intptr_t HIT_TOP = 12;
constexpr intptr_t HIT_TOP_LEFT = 13;
constexpr intptr_t HIT_TOP_RIGHT = 14;
constexpr intptr_t HIT_BOTTOM = 15;
constexpr intptr_t HIT_BOTTOM_LEFT = 16;
constexpr intptr_t HIT_BOTTOM_RIGHT = 17;

// The edge or corner a sizing message moves.
constexpr uintptr_t SIZING_LEFT = 1;
constexpr uintptr_t SIZING_RIGHT = 2;
constexpr uintptr_t SIZING_TOP = 3;
constexpr uintptr_t SIZING_TOP_LEFT = 4;
constexpr uintptr_t SIZING_TOP_RIGHT = 5;
constexpr uintptr_t SIZING_BOTTOM = 6;
constexpr uintptr_t SIZING_BOTTOM_LEFT = 7;
constexpr uintptr_t SIZING_BOTTOM_RIGHT = 8;

struct WindowMinSize {
    int32_t width, height;
};

// Paths are the file system's own bytes, zero-terminated.
struct DroppedFiles {
    const char* const* paths;
    uint32_t count;
    int32_t append_mode; // Ctrl was held at the drop
};

// The payload is bytes: text up to its first zero byte, or all of it when
// it holds none.
struct CopyData {
    uint64_t code;
    const uint8_t* payload;
    size_t size;
};
