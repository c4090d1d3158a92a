// The desktop calls of the window modes and the tray; each does nothing
// without a desktop (headless, or a test's desktop that lacks the call).
#include "core/core.h"
#include "ui/ui_internal.h"

bool desktop_query_monitor(MainWindow* w, WindowRect* monitor, WindowRect* work_area)
{
    const WindowDesktop* d = w->desktop;
    return d && d->query_monitor && d->query_monitor(d->handle, monitor, work_area);
}

void desktop_set_fullscreen_hint(MainWindow* w, int on)
{
    if (const WindowDesktop* d = w->desktop; d && d->set_fullscreen_hint)
        d->set_fullscreen_hint(d->handle, on);
}

void desktop_unmaximize(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->unmaximize)
        d->unmaximize(d->handle);
}

void desktop_set_band(MainWindow* w, int on)
{
    if (const WindowDesktop* d = w->desktop; d && d->set_band)
        d->set_band(d->handle, on);
}

void desktop_hide(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->hide)
        d->hide(d->handle);
}

int desktop_ctrl_held(MainWindow* w)
{
    const WindowDesktop* d = w->desktop;
    return d && d->ctrl_held ? d->ctrl_held(d->handle) : 0;
}

int desktop_tray_available(MainWindow* w)
{
    const WindowDesktop* d = w->desktop;
    return d && d->tray_available ? d->tray_available(d->handle) : 0;
}

void desktop_tray_show(MainWindow* w, const char* tip)
{
    if (const WindowDesktop* d = w->desktop; d && d->tray_show)
        d->tray_show(d->handle, tip);
}

void desktop_tray_hide(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->tray_hide)
        d->tray_hide(d->handle);
}

void desktop_tray_set_tip(MainWindow* w, const char* tip)
{
    if (const WindowDesktop* d = w->desktop; d && d->tray_set_tip)
        d->tray_set_tip(d->handle, tip);
}

void desktop_balloon_show(MainWindow* w, const char* summary, const char* body)
{
    if (const WindowDesktop* d = w->desktop; d && d->balloon_show)
        d->balloon_show(d->handle, summary, body);
}

void desktop_balloon_close(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->balloon_close)
        d->balloon_close(d->handle);
}

void desktop_balloon_close_wait(MainWindow* w, int wait_ms)
{
    if (const WindowDesktop* d = w->desktop; d && d->balloon_close_wait)
        d->balloon_close_wait(d->handle, wait_ms);
}
