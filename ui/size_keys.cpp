// The size keys 1 to 5: the window becomes 50 % to 250 % of the video's
// height at its display aspect, keeping the work-area edges it touched.
#include "core/core.h"
#include "ui/input_internal.h"
#include "ui/ui_internal.h"

namespace {

// The new start of one axis: an edge on the work area's edge stays there
// when the opposite one is not on its own; otherwise the centre stays.
int32_t place_axis(int32_t start, int32_t end, int32_t work_start, int32_t work_end, int32_t new_length)
{
    bool on_start = start == work_start, on_end = end == work_end;
    if (on_start && !on_end)
        return start;
    if (on_end && !on_start)
        return int32_t(int64_t(end) - new_length);
    return int32_t(start - (int64_t(new_length) - (int64_t(end) - start)) / 2);
}

} // namespace

bool size_key_rect(const WindowRect* window, const WindowRect* work, int32_t digit, int32_t video_height,
                   uint32_t aspect_width, uint32_t aspect_height, WindowRect* out)
{
    int64_t work_width = int64_t(work->right) - work->left;
    int64_t work_height = int64_t(work->bottom) - work->top;
    if (video_height <= 0 || !aspect_width || !aspect_height || work_width < 1 || work_height < 1)
        return false;
    int64_t height = int64_t(digit) * video_height / 2;
    if (height > work_height)
        height = work_height;
    if (height < 100)
        height = 100;
    int64_t width = (height * aspect_width / aspect_height + 1) & ~int64_t(1);
    if (width > work_width) {
        width = work_width;
        height = work_width * aspect_height / aspect_width;
    }
    out->left = place_axis(window->left, window->right, work->left, work->right, int32_t(width));
    out->top = place_axis(window->top, window->bottom, work->top, work->bottom, int32_t(height));
    out->right = int32_t(out->left + width);
    out->bottom = int32_t(out->top + height);
    fit_rect_into(work, out);
    return true;
}

void size_window_to_video(MainWindow* w, int32_t digit)
{
    PlayerContext* ctx = context_of(w);
    if (w->screen_mode != 0)
        toggle_screen_mode(w, w->screen_mode == -1 ? 1 : 0);
    // The windowed rectangle: the one the window has, or returns to.
    WindowRect window = window_normal_rect(w);
    WindowRect rect;
    if (!size_key_rect(&window, &w->work_area, digit, ctx->video_height.load(std::memory_order_relaxed),
                       ctx->display_width.load(std::memory_order_relaxed),
                       ctx->display_height.load(std::memory_order_relaxed), &rect))
        return;
    w->normal_rect = rect;
    desktop_move_resize(w, &rect);
    request_redraw(ctx);
}
