// Global hot keys, screensaver and sleep blocking, memory trimming.
// Placeholder bodies until they are built.
#include <malloc.h>

#include "settings/settings.h"
#include "ui/ui_internal.h"

void apply_hotkeys(MainWindow* w) {}
void show_hotkey_help(MainWindow* w) {}
void set_power_blocking(MainWindow* w, int video_open) {}

void trim_working_set()
{
    malloc_trim(0);
}

void trim_if_enabled()
{
    if (settings.trim_memory.load(std::memory_order_relaxed))
        trim_working_set();
}
