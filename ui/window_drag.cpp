// Moving and sizing the frameless window. The desktop layer runs the
// pointer-grab loops; the rules that shape each proposed rectangle live
// here: the resize bands of the hit test, sticking to the work-area edges
// while moving, and keeping the picture's aspect while sizing.
#include <cstdlib>

#include "core/core.h"
#include "stats/stats.h"
#include "ui/ui_internal.h"

namespace {

// A move sticks to a work-area edge within this many pixels of it, and
// breaks free once it has been held back by more than this.
constexpr int32_t SNAP_ZONE = 10;
constexpr int32_t WINDOW_MIN_SIZE = 100;
// The aspect rule never proposes more than this; the work area then shrinks
// it, and a broken aspect from a file cannot overflow the arithmetic.
constexpr int64_t ASPECT_MAX_SIDE = 1 << 20;

bool item_has_video(PlayerContext* ctx, uint32_t* aspect_width, uint32_t* aspect_height)
{
    if (!ctx->format.load(std::memory_order_acquire) ||
        ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) < 0)
        return false;
    *aspect_width = ctx->display_width.load(std::memory_order_relaxed);
    *aspect_height = ctx->display_height.load(std::memory_order_relaxed);
    return *aspect_width > 0 && *aspect_height > 0;
}

int32_t clamp_side(int64_t side)
{
    return int32_t(side < 1 ? 1 : side > ASPECT_MAX_SIDE ? ASPECT_MAX_SIDE : side);
}

// Places a new length along one axis: an edge lying on the work area's edge
// stays there, otherwise (on both or neither) the centre stays.
void place_along(int32_t* low, int32_t* high, int32_t length, int32_t work_low, int32_t work_high)
{
    bool on_low = *low == work_low;
    bool on_high = *high == work_high;
    if (on_low == on_high) {
        *low = int32_t(*low - (int64_t(length) + *low - *high) / 2);
        *high = *low + length;
    } else if (on_high) {
        *low = *high - length;
    } else {
        *high = *low + length;
    }
}

void shift_axis(WindowRect* r, int edge, int32_t by)
{
    if (edge == 0 || edge == 2) {
        r->left += by;
        r->right += by;
    } else {
        r->top += by;
        r->bottom += by;
    }
}

int32_t* edge_of(WindowRect* r, int edge)
{
    int32_t* edges[4] = {&r->left, &r->top, &r->right, &r->bottom};
    return edges[edge];
}

} // namespace

intptr_t window_hit_test(const MainWindow* w, int32_t x, int32_t y)
{
    // In full screen and the work-area mode the window is all picture.
    if (w->screen_mode != 0)
        return HIT_CLIENT;
    int32_t width = w->client_width;
    int32_t height = w->client_height;
    intptr_t candidate = HIT_CLIENT;
    if (y <= 7)
        candidate = HIT_TOP;
    else if (y >= height - 7)
        candidate = HIT_BOTTOM;
    // The side bands stop above the progress bar at the bottom.
    if (x >= width - 7) {
        if (candidate == HIT_TOP)
            return HIT_TOP_RIGHT;
        if (candidate == HIT_BOTTOM)
            return HIT_BOTTOM_RIGHT;
        return y < height - 30 ? HIT_RIGHT : HIT_CLIENT;
    }
    if (x <= 7) {
        if (candidate == HIT_TOP)
            return HIT_TOP_LEFT;
        if (candidate == HIT_BOTTOM)
            return HIT_BOTTOM_LEFT;
        return y < height - 30 ? HIT_LEFT : HIT_CLIENT;
    }
    return candidate;
}

void window_min_size(WindowMinSize* size)
{
    size->width = WINDOW_MIN_SIZE;
    size->height = WINDOW_MIN_SIZE;
}

void window_moving(MainWindow* w, WindowRect* r)
{
    WindowRect work = w->work_area;
    for (int edge = 0; edge < 4; edge++) {
        int64_t d = int64_t(*edge_of(r, edge)) - *edge_of(&work, edge);
        int32_t* held = &w->snap_held[edge];
        if (llabs(d) < SNAP_ZONE && abs(*held) <= SNAP_ZONE) {
            *held += int32_t(d);
            shift_axis(r, edge, int32_t(-d));
        } else {
            shift_axis(r, edge, *held);
            *held = 0;
        }
    }
}

void window_sizing(MainWindow* w, uintptr_t edge, WindowRect* r)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    uint32_t aspect_width = 0, aspect_height = 0;
    // Without a picture the window takes any shape and any place.
    if (!item_has_video(ctx, &aspect_width, &aspect_height))
        return;
    const WindowRect& work = w->work_area;
    if (edge == SIZING_TOP || edge == SIZING_BOTTOM) {
        int64_t height = int64_t(r->bottom) - r->top;
        int32_t width = clamp_side(height * aspect_width / aspect_height + 1) & ~1;
        place_along(&r->left, &r->right, width, work.left, work.right);
    } else if (edge == SIZING_LEFT || edge == SIZING_RIGHT) {
        int64_t width = int64_t(r->right) - r->left;
        int32_t height = clamp_side(width * aspect_height / aspect_width);
        place_along(&r->top, &r->bottom, height, work.top, work.bottom);
    }
    fit_to_work_area(w, r);
}

void window_begin_move(MainWindow* w)
{
    if (w->screen_mode == 0)
        desktop_begin_drag(w, HIT_CAPTION);
}

void window_begin_resize(MainWindow* w, intptr_t hit)
{
    if (w->screen_mode == 0 && hit >= HIT_LEFT && hit <= HIT_BOTTOM_RIGHT)
        desktop_begin_drag(w, hit);
}

void window_drag_changed(MainWindow* w, int active)
{
    // Each drag starts free: a hold left over from the last one would make
    // the window jump away from the pointer.
    if (active)
        for (int32_t& held : w->snap_held)
            held = 0;
    stats_window_drag(&reinterpret_cast<AppBlock*>(w)->player, active);
}
