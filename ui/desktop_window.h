// What the window procedure asks of the desktop window. The desktop layer
// fills one table when it creates the window; headless runs have none and
// tests give a recording one. Window thread only.
#pragma once
#include <cstdint>

struct MainWindow;
struct WindowRect;

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
