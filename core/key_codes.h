// The key codes of the window procedure's key and hot-key messages
// (platform/ translates the desktop's keys into them).
#pragma once
#include <cstdint>

constexpr int32_t KEY_NONE = 0; // a key the player has no use for
constexpr int32_t KEY_TAB = 0x09;
constexpr int32_t KEY_RETURN = 0x0D;
constexpr int32_t KEY_SHIFT = 0x10;
constexpr int32_t KEY_CONTROL = 0x11;
constexpr int32_t KEY_ALT = 0x12;
constexpr int32_t KEY_ESCAPE = 0x1B;
constexpr int32_t KEY_SPACE = 0x20;
constexpr int32_t KEY_PAGE_UP = 0x21;
constexpr int32_t KEY_PAGE_DOWN = 0x22;
constexpr int32_t KEY_END = 0x23;
constexpr int32_t KEY_HOME = 0x24;
constexpr int32_t KEY_LEFT = 0x25;
constexpr int32_t KEY_UP = 0x26;
constexpr int32_t KEY_RIGHT = 0x27;
constexpr int32_t KEY_DOWN = 0x28;
// Digits are '0' to '9' and letters 'A' to 'Z' (upper case), as ASCII.
constexpr int32_t KEY_BROWSER_BACK = 0xA6;
constexpr int32_t KEY_BROWSER_FORWARD = 0xA7;
constexpr int32_t KEY_BROWSER_STOP = 0xA9;
constexpr int32_t KEY_MEDIA_NEXT = 0xB0;
constexpr int32_t KEY_MEDIA_PREVIOUS = 0xB1;
constexpr int32_t KEY_MEDIA_STOP = 0xB2;
constexpr int32_t KEY_MEDIA_PLAY_PAUSE = 0xB3;

// Modifiers held with a key (the second parameter of a key message).
constexpr intptr_t KEY_MOD_CTRL = 1;
constexpr intptr_t KEY_MOD_SHIFT = 2;
constexpr intptr_t KEY_MOD_ALT = 4;
