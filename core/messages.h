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
