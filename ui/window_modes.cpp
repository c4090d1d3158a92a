// Window modes: full screen, maximised to the work area, always on top,
// hidden in the tray, and the clock overlay shown in a screen mode.
// Placeholder bodies until the window modes are built.
#include "ui/ui_internal.h"

void toggle_screen_mode(MainWindow* w, int maximise) {}
void set_topmost_band(MainWindow* w, int on) {}
void toggle_always_on_top(MainWindow* w, int silent) {}
void hide_to_tray(MainWindow* w) {}
void restore_from_tray(MainWindow* w) {}
int window_in_tray(MainWindow* w) { return 0; }
void show_clock_overlay(MainWindow* w) {}
void hide_clock_overlay(MainWindow* w) {}
