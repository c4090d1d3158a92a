// Menu calls before the desktop menu exists: with no menu built there is
// nothing to tick, cancel or destroy.
#include "platform/platform.h"

void platform_menu_set_check(void* menu, int command_id, int checked) {}
void platform_menu_cancel_tracking(void* window) {}
void platform_menu_destroy(void* menu) {}
