#include "core/core.h"
#include "render/render.h"
#include "ui/ui_internal.h"

void fit_rect_into(const WindowRect* work, WindowRect* r)
{
    // 64-bit differences: a rectangle read from a file may hold any values.
    int64_t work_width = int64_t(work->right) - work->left;
    int64_t work_height = int64_t(work->bottom) - work->top;
    if (int64_t(r->right) - r->left > work_width)
        r->right = int32_t(r->left + work_width);
    if (int64_t(r->bottom) - r->top > work_height)
        r->bottom = int32_t(r->top + work_height);
    int32_t dx = r->left < work->left ? work->left - r->left : 0;
    if (r->right > work->right)
        dx = work->right - r->right;
    int32_t dy = r->top < work->top ? work->top - r->top : 0;
    if (r->bottom > work->bottom)
        dy = work->bottom - r->bottom;
    r->left += dx;
    r->right += dx;
    r->top += dy;
    r->bottom += dy;
}

void fit_to_work_area(const MainWindow* w, WindowRect* rect)
{
    fit_rect_into(&w->work_area, rect);
}

WindowRect window_default_rect(const MainWindow* w)
{
    const WindowRect& work = w->work_area;
    int32_t left = work.left + (work.right - work.left - 960) / 2;
    int32_t top = work.top + (work.bottom - work.top - 540) / 2;
    return WindowRect{left, top, left + 960, top + 540};
}

void window_track_work_area(MainWindow* w)
{
    WindowRect work;
    int32_t width = 0, height = 0;
    if (!desktop_query_screen(w, &work, &width, &height))
        return;
    // A desktop that reports nothing usable keeps the last good values.
    if (work.right - work.left < 1 || work.bottom - work.top < 1 || width < 1 || height < 1)
        return;
    w->work_area = work;
    w->screen_width = width;
    w->screen_height = height;
    reapply_screen_mode(w);
}

void window_place_and_show(MainWindow* w, const WindowRect* rect)
{
    if (w->screen_mode == 0)
        w->normal_rect = *rect;
    desktop_move_resize(w, rect);
    desktop_show(w);
}

void window_position_changed(MainWindow* w, uintptr_t flags, const WindowRect* r)
{
    if (!(flags & (POSITION_MOVED | POSITION_SIZED)))
        return;
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    if (flags & POSITION_MOVED) {
        w->window_screen_x = r->left;
        w->window_screen_y = r->top;
    }
    if (flags & POSITION_SIZED) {
        int32_t width = r->right - r->left;
        int32_t height = r->bottom - r->top;
        w->client_width = width;
        w->client_height = height;
        w->window_screen_width = width;
        render_set_client_size(ctx, width, height);
        // The size message may have asked for its picture before the size
        // was known: the frame buffer and the screen image are made at the
        // new size now, not when the next picture is due.
        request_redraw(ctx);
    }
    if (w->screen_mode == 0 && r->right > r->left && r->bottom > r->top)
        w->normal_rect = *r;
    // The clock overlay keeps its distance from the window's top-right
    // corner: its next update, due at once, places it from these values.
    if (ctx->clock_shown.load(std::memory_order_relaxed))
        ctx->clock_ticks.store(0, std::memory_order_relaxed);
}

WindowRect window_normal_rect(const MainWindow* w)
{
    return w->normal_rect;
}
