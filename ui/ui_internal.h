// What the files of the window shell share among themselves (and with their
// tests): the desktop window's table of calls and the window's geometry.
#pragma once
#include <cstdint>

#include "ui/ui.h"

// ---- the desktop ----
struct WindowDesktop {
    void* handle;
    // The work area and primary screen size; false when the desktop does not
    // say (the stored values then stay).
    bool (*query_screen)(void* handle, WindowRect* work_area, int32_t* screen_width, int32_t* screen_height);
    // Moves and sizes without activating or restacking the window.
    void (*move_resize)(void* handle, const WindowRect* rect);
    // Shows the window in its normal state (not minimised).
    void (*show)(void* handle);
    // Raises the window to the top, then keeps it above others or not.
    void (*raise)(void* handle, int keep_above);
    void (*set_pointer_visible)(void* handle, int visible);
    void (*set_title)(void* handle, const char* utf8);
    // Ends the window's loop; the loop returns exit_code.
    void (*quit)(void* handle, int exit_code);
};

// The calls the rest of the window code makes; each does nothing without a
// desktop.
bool desktop_query_screen(MainWindow* w, WindowRect* work_area, int32_t* screen_width, int32_t* screen_height);
void desktop_move_resize(MainWindow* w, const WindowRect* rect);
void desktop_show(MainWindow* w);
void desktop_raise(MainWindow* w, int keep_above);
void desktop_set_pointer_visible(MainWindow* w, int visible);
void desktop_set_title(MainWindow* w, const char* utf8);
void desktop_quit(MainWindow* w, int exit_code);

// ---- geometry ----
// Shifts and, when it is larger, shrinks rect so it lies inside the window's
// work area.
void fit_to_work_area(const MainWindow* w, WindowRect* rect);
// The same against any work area.
void fit_rect_into(const WindowRect* work_area, WindowRect* rect);

// The placement without saved settings: 960 x 540 centred in the work area.
WindowRect window_default_rect(const MainWindow* w);

// Reads the work area and screen size again; a full-screen or maximised
// window follows them.
void window_track_work_area(MainWindow* w);

// Moves the window to rect and shows it (the last step of settings loading).
void window_place_and_show(MainWindow* w, const WindowRect* rect);

// The desktop reported a new position (POSITION_MOVED) and/or size
// (POSITION_SIZED): the client size goes to the frame presentation, the
// rectangle to the bookkeeping.
void window_position_changed(MainWindow* w, uintptr_t flags, const WindowRect* rect);

// The rectangle to remember for the next start: the windowed one, also while
// the window is full screen or maximised.
WindowRect window_normal_rect(const MainWindow* w);
