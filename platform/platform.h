// The door to the platform layer: the only code that talks to the desktop.
// Everything above calls these plain functions; the platform calls back only
// through the callbacks it is given.
#pragma once
#include <cstdint>

// Menus are opaque handles above this layer.
void platform_menu_set_check(void* menu, int command_id, int checked);
// Ends the menu tracking of the window (the cancel-mode message).
void platform_menu_cancel_tracking(void* window);
void platform_menu_destroy(void* menu);
