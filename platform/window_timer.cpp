// The window's numbered timers: each one, while it runs, delivers MSG_TIMER
// with its number to the window procedure once per period, on the window
// thread. Starting a running timer again restarts its period.
#include <glib.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

constexpr unsigned TIMER_COUNT = 8;

struct WindowTimer {
    PlatformWindow* window;
    unsigned number;
    guint source; // 0 while stopped
};

WindowTimer timers[TIMER_COUNT];

gboolean on_timer(gpointer data)
{
    auto* t = static_cast<WindowTimer*>(data);
    t->window->procedure(t->window->user, MSG_TIMER, t->number, 0);
    // The procedure may have stopped (or restarted) this very timer.
    return G_SOURCE_CONTINUE;
}

} // namespace

void platform_timer_start(void* window, unsigned number, unsigned period_ms)
{
    if (!window || number >= TIMER_COUNT)
        return;
    platform_timer_stop(window, number);
    WindowTimer* t = &timers[number];
    t->window = static_cast<PlatformWindow*>(window);
    t->number = number;
    t->source = g_timeout_add(period_ms, on_timer, t);
}

void platform_timer_stop(void* window, unsigned number)
{
    if (number >= TIMER_COUNT || !timers[number].source)
        return;
    g_source_remove(timers[number].source);
    timers[number].source = 0;
}
