#include "core/core.h"
#include "ui/ui_internal.h"

bool desktop_query_screen(MainWindow* w, WindowRect* work_area, int32_t* screen_width, int32_t* screen_height)
{
    const WindowDesktop* d = w->desktop;
    return d && d->query_screen && d->query_screen(d->handle, work_area, screen_width, screen_height);
}

void desktop_move_resize(MainWindow* w, const WindowRect* rect)
{
    if (const WindowDesktop* d = w->desktop; d && d->move_resize)
        d->move_resize(d->handle, rect);
}

void desktop_show(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->show)
        d->show(d->handle);
}

void desktop_raise(MainWindow* w, int keep_above)
{
    if (const WindowDesktop* d = w->desktop; d && d->raise)
        d->raise(d->handle, keep_above);
}

void desktop_set_pointer_visible(MainWindow* w, int visible)
{
    if (const WindowDesktop* d = w->desktop; d && d->set_pointer_visible)
        d->set_pointer_visible(d->handle, visible);
}

void desktop_set_title(MainWindow* w, const char* utf8)
{
    if (const WindowDesktop* d = w->desktop; d && d->set_title)
        d->set_title(d->handle, utf8);
}

void desktop_quit(MainWindow* w, int exit_code)
{
    if (const WindowDesktop* d = w->desktop; d && d->quit)
        d->quit(d->handle, exit_code);
}

void desktop_minimize(MainWindow* w)
{
    if (const WindowDesktop* d = w->desktop; d && d->minimize)
        d->minimize(d->handle);
}

void desktop_begin_drag(MainWindow* w, intptr_t hit)
{
    if (const WindowDesktop* d = w->desktop; d && d->begin_drag)
        d->begin_drag(d->handle, hit);
}
