// The window's place on the desktop: the work area, fitting rectangles into
// it, the default placement and the size and position bookkeeping.
// Window thread only.
#pragma once
#include <cstdint>

struct MainWindow;
struct WindowRect;

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
