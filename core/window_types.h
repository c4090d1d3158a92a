// Small shared types of the window and the desktop.
#pragma once
#include <cstdint>

// A rectangle in screen pixels, right and bottom exclusive.
struct WindowRect {
    int32_t left, top, right, bottom;
};

// What goes to the desktop clipboard: format CLIPBOARD_BITMAP with a
// ClipboardBitmap, CLIPBOARD_TEXT with zero-terminated UTF-8 text.
constexpr int CLIPBOARD_BITMAP = 2;
constexpr int CLIPBOARD_TEXT = 13;
struct ClipboardBitmap {
    const uint8_t* bgrx;
    int pitch;
    int width, height;
};
