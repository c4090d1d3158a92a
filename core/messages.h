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

// ---- input and commands (the window procedure's input messages) ----
// Key down: a the key code (core/key_codes.h), b the modifiers held
// (KEY_MOD_*). Auto-repeat arrives as repeated key downs. A key with Alt
// held comes as MSG_SYS_KEY_DOWN.
constexpr unsigned MSG_KEY_DOWN = 0x0100;
constexpr unsigned MSG_SYS_KEY_DOWN = 0x0104;
// Mouse messages: a the buttons and modifiers held (MOUSE_*), b the client
// position as mouse_position(x, y) packs it.
constexpr unsigned MSG_MOUSE_MOVE = 0x0200;
constexpr unsigned MSG_LEFT_DOWN = 0x0201;
constexpr unsigned MSG_LEFT_UP = 0x0202;
constexpr unsigned MSG_LEFT_DOUBLE = 0x0203;
constexpr unsigned MSG_RIGHT_DOWN = 0x0204;
constexpr unsigned MSG_RIGHT_UP = 0x0205;
constexpr unsigned MSG_MIDDLE_DOWN = 0x0207;
// The wheel: a the signed turn, WHEEL_NOTCH per notch, positive away from
// the user; b as the other mouse messages.
constexpr unsigned MSG_MOUSE_WHEEL = 0x020A;
// The pointer left the window.
constexpr unsigned MSG_MOUSE_LEAVE = 0x02A3;
// A menu command: a the command identifier; b COMMAND_SILENT for the silent
// form of command 1003.
constexpr unsigned MSG_COMMAND = 0x0111;
// A system command of the window manager: a one of SYSTEM_*.
constexpr unsigned MSG_SYS_COMMAND = 0x0112;
// A timer of the window: a the timer's number.
constexpr unsigned MSG_TIMER = 0x0113;
// A global hot key (Ctrl+Alt held): a the key code.
constexpr unsigned MSG_HOTKEY = 0x0312;
// The session is ending: the log-off question and the log-off itself.
constexpr unsigned MSG_QUERY_END_SESSION = 0x0011;
constexpr unsigned MSG_END_SESSION = 0x0016;

constexpr intptr_t COMMAND_SILENT = 1;

constexpr uintptr_t SYSTEM_SIZE = 0xF000;
constexpr uintptr_t SYSTEM_MOVE = 0xF010;
constexpr uintptr_t SYSTEM_MINIMIZE = 0xF020;
constexpr uintptr_t SYSTEM_MAXIMIZE = 0xF030;

// Mouse message state bits.
constexpr uintptr_t MOUSE_LEFT = 0x0001;
constexpr uintptr_t MOUSE_RIGHT = 0x0002;
constexpr uintptr_t MOUSE_SHIFT = 0x0004;
constexpr uintptr_t MOUSE_CTRL = 0x0008;
constexpr uintptr_t MOUSE_MIDDLE = 0x0010;
constexpr uintptr_t MOUSE_ALT = 0x0100;

constexpr intptr_t WHEEL_NOTCH = 120;

// Client coordinates as the mouse messages carry them: two signed 16-bit
// values, x low.
constexpr intptr_t mouse_position(int32_t x, int32_t y)
{
    return intptr_t(uint32_t(uint16_t(int16_t(x))) | uint32_t(uint16_t(int16_t(y))) << 16);
}
constexpr int32_t mouse_x(intptr_t b)
{
    return int16_t(uint16_t(uint32_t(b) & 0xFFFF));
}
constexpr int32_t mouse_y(intptr_t b)
{
    return int16_t(uint16_t(uint32_t(b) >> 16));
}
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
// Posted by the thread that lists the folders of files that came in (a
// drop, the open dialog, the media-player interface): a is the batch's
// number; its entries may now join the list.
constexpr unsigned MSG_INTAKE_LISTED = 0x0540;

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
// ---- the context menu ----
// Raise the context menu at the pointer (the default handling of a right
// button released on the picture).
constexpr unsigned MSG_CONTEXT_MENU = 0x007B;
// ---- window modes and the tray ----
// The tray icon and its balloon: b is the event (TRAY_EVENT_*).
constexpr unsigned MSG_TRAY = 0x501;
constexpr intptr_t TRAY_EVENT_LEFT_UP = 0x202;       // activated: restore the window
constexpr intptr_t TRAY_EVENT_RIGHT_UP = 0x205;      // the context menu, the window staying hidden
constexpr intptr_t TRAY_EVENT_BALLOON_CLICK = 0x405; // the balloon was clicked: restore the window
constexpr intptr_t TRAY_EVENT_HOST_GONE = 0x1000;    // no tray shows the icon any more: restore the window
// Posted by notices to the window thread: a 1 shows the current notice as the
// tray's balloon, a 0 closes the balloon.
constexpr unsigned MSG_BALLOON = 0x502;
// The desktop itself asked for full screen (a 1) or for leaving it (a 0),
// for instance from a window-manager shortcut.
constexpr unsigned MSG_FULLSCREEN_REQUEST = 0x503;
// ---- hot keys, timers, screensaver and trimming ----
// MSG_HOTKEY carries the key code of its row: 'M', 'R', 'B', Page Up, 'N',
// Page Down, 'P', 'S', Left, Right, Up, Down. MSG_TIMER's timer 0 trims.
// Posted by the media thread (never sent, so the desktop's bus calls cannot
// hold it up): a: MEDIA_OPENED_VIDEO, MEDIA_OPENED_SOUND or MEDIA_STOPPED.
constexpr unsigned MSG_MEDIA_STATE = 0x0520;
enum MediaState { MEDIA_OPENED_SOUND = 0, MEDIA_OPENED_VIDEO = 1, MEDIA_STOPPED = 2 };
// Posted by the engine while "清理内存" is on: trim once, a second from now
// (the window's timer 0).
constexpr unsigned MSG_TRIM_SOON = 0x0521;
// Posted by the engine when the open item's tags or its cover came after
// the item had opened: the desktop's media-player interface tells at once.
constexpr unsigned MSG_ITEM_TAGS = 0x0522;
// ---- hardware decoding ----
// An error box owned by the main window (a modal message box with an
// error icon): a is the caption, b the text, both static UTF-8 strings.
// Posted by the decoder thread; without a window the text goes to stderr.
constexpr unsigned MSG_ERROR_BOX = 0x0530;
