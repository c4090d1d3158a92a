// Small window services of the input handling: minimising.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

void platform_window_minimize(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (w)
        gtk_window_iconify(GTK_WINDOW(w->toplevel));
}
