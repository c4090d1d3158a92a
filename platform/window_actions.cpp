// Small window services of the input handling: minimising and the window's
// numbered timers.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

constexpr unsigned TIMER_COUNT = 4;

struct WindowTimer {
    PlatformWindow* window;
    unsigned id;
    guint source; // 0 while stopped
};
WindowTimer timers[TIMER_COUNT]; // window thread only

gboolean on_timer(gpointer data)
{
    auto* t = static_cast<WindowTimer*>(data);
    t->window->procedure(t->window->user, MSG_TIMER, t->id, 0);
    return G_SOURCE_CONTINUE;
}

} // namespace

void platform_window_minimize(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (w)
        gtk_window_iconify(GTK_WINDOW(w->toplevel));
}

void platform_window_set_timer(void* window, unsigned id, unsigned period_ms)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || id >= TIMER_COUNT)
        return;
    platform_window_kill_timer(window, id);
    timers[id] = WindowTimer{w, id, 0};
    timers[id].source = g_timeout_add(period_ms ? period_ms : 1, on_timer, &timers[id]);
}

void platform_window_kill_timer(void* window, unsigned id)
{
    if (!window || id >= TIMER_COUNT || !timers[id].source)
        return;
    g_source_remove(timers[id].source);
    timers[id].source = 0;
}
