// The frameless window's own move and resize loops. The window manager's
// move and resize are never used, so the window behaves the same under
// every window manager: a press on a resize band (the window procedure's
// hit test) or a move asked for by the window procedure grabs the pointer,
// and every pointer step proposes a rectangle that the window procedure
// shapes (snapping, aspect, work area) before it is applied.
#include <gtk/gtk.h>

#include "platform/platform.h"
#include "platform/window_internal.h"

struct WindowDrag {
    intptr_t hit;              // HIT_CAPTION or an edge while a drag runs; 0 otherwise
    GdkSeat* seat;             // the grab's seat while a drag runs
    int pointer_x, pointer_y;  // root position at the last step
    int offset_x, offset_y;    // pointer minus the dragged edges, fixed at the start
    WindowRect rect;           // the rectangle as the window procedure last shaped it
    WindowRect start_rect;     // Escape puts the window back here
    WindowMinSize min_size;
    GdkCursor* cursors[HIT_BOTTOM_RIGHT + 1]; // by HIT_* code; null: the arrow
    intptr_t hover_hit;        // the hit-test answer under the pointer
};

namespace {

// Larger windows than this are not asked of the X server.
constexpr int WINDOW_MAX_SIDE = 16384;

intptr_t send(PlatformWindow* w, unsigned msg, uintptr_t a, intptr_t b)
{
    return w->procedure(w->user, msg, a, b);
}

bool is_resize_hit(intptr_t hit)
{
    return hit >= HIT_LEFT && hit <= HIT_BOTTOM_RIGHT;
}

GdkCursor* make_cursor(GdkDisplay* display, const char* name, GdkCursorType fallback)
{
    GdkCursor* cursor = gdk_cursor_new_from_name(display, name);
    return cursor ? cursor : gdk_cursor_new_for_display(display, fallback);
}

void load_cursors(WindowDrag* d, GdkDisplay* display)
{
    const struct {
        intptr_t hit;
        const char* name;
        GdkCursorType fallback;
    } shapes[] = {
        {HIT_LEFT, "w-resize", GDK_LEFT_SIDE},
        {HIT_RIGHT, "e-resize", GDK_RIGHT_SIDE},
        {HIT_TOP, "n-resize", GDK_TOP_SIDE},
        {HIT_TOP_LEFT, "nw-resize", GDK_TOP_LEFT_CORNER},
        {HIT_TOP_RIGHT, "ne-resize", GDK_TOP_RIGHT_CORNER},
        {HIT_BOTTOM, "s-resize", GDK_BOTTOM_SIDE},
        {HIT_BOTTOM_LEFT, "sw-resize", GDK_BOTTOM_LEFT_CORNER},
        {HIT_BOTTOM_RIGHT, "se-resize", GDK_BOTTOM_RIGHT_CORNER},
    };
    for (const auto& s : shapes)
        d->cursors[s.hit] = make_cursor(display, s.name, s.fallback);
}

GdkCursor* cursor_for(PlatformWindow* w, intptr_t hit)
{
    GdkCursor* c = is_resize_hit(hit) ? w->drag->cursors[hit] : nullptr;
    return c ? c : w->arrow_cursor;
}

void set_hover(PlatformWindow* w, intptr_t hit)
{
    if (hit == w->drag->hover_hit)
        return;
    w->drag->hover_hit = hit;
    // A hidden pointer stays hidden; it comes back with this shape.
    if (!w->pointer_hidden)
        gdk_window_set_cursor(gtk_widget_get_window(w->toplevel), cursor_for(w, hit));
}

intptr_t hit_test(PlatformWindow* w, double x, double y)
{
    return send(w, MSG_HIT_TEST, uintptr_t(intptr_t(x < 0 ? x - 1 : x)), intptr_t(y < 0 ? y - 1 : y));
}

uintptr_t sizing_edge(intptr_t hit)
{
    switch (hit) {
    case HIT_LEFT: return SIZING_LEFT;
    case HIT_RIGHT: return SIZING_RIGHT;
    case HIT_TOP: return SIZING_TOP;
    case HIT_TOP_LEFT: return SIZING_TOP_LEFT;
    case HIT_TOP_RIGHT: return SIZING_TOP_RIGHT;
    case HIT_BOTTOM: return SIZING_BOTTOM;
    case HIT_BOTTOM_LEFT: return SIZING_BOTTOM_LEFT;
    default: return SIZING_BOTTOM_RIGHT;
    }
}

bool moves_left(intptr_t hit) { return hit == HIT_LEFT || hit == HIT_TOP_LEFT || hit == HIT_BOTTOM_LEFT; }
bool moves_right(intptr_t hit) { return hit == HIT_RIGHT || hit == HIT_TOP_RIGHT || hit == HIT_BOTTOM_RIGHT; }
bool moves_top(intptr_t hit) { return hit == HIT_TOP || hit == HIT_TOP_LEFT || hit == HIT_TOP_RIGHT; }
bool moves_bottom(intptr_t hit) { return hit == HIT_BOTTOM || hit == HIT_BOTTOM_LEFT || hit == HIT_BOTTOM_RIGHT; }

int clamp(int v, int low, int high)
{
    return v < low ? low : v > high ? high : v;
}

// The dragged edges follow the pointer, never closer to the opposite edge
// than the minimum size nor farther than the largest window.
void size_step(WindowDrag* d, int x, int y)
{
    WindowRect& r = d->rect;
    int min_w = d->min_size.width, min_h = d->min_size.height;
    if (moves_left(d->hit))
        r.left = clamp(x - d->offset_x, r.right - WINDOW_MAX_SIDE, r.right - min_w);
    if (moves_right(d->hit))
        r.right = clamp(x - d->offset_x, r.left + min_w, r.left + WINDOW_MAX_SIDE);
    if (moves_top(d->hit))
        r.top = clamp(y - d->offset_y, r.bottom - WINDOW_MAX_SIDE, r.bottom - min_h);
    if (moves_bottom(d->hit))
        r.bottom = clamp(y - d->offset_y, r.top + min_h, r.top + WINDOW_MAX_SIDE);
}

void apply(PlatformWindow* w, const WindowRect* r, bool sized)
{
    if (sized)
        platform_window_move_resize(w, r);
    else
        gtk_window_move(GTK_WINDOW(w->toplevel), r->left, r->top);
}

void step(PlatformWindow* w, int x, int y)
{
    WindowDrag* d = w->drag;
    if (x == d->pointer_x && y == d->pointer_y)
        return;
    if (d->hit == HIT_CAPTION) {
        // A move carries on from where the window procedure last put the
        // window, so a held-back window stays held back.
        int dx = x - d->pointer_x, dy = y - d->pointer_y;
        d->rect = WindowRect{d->rect.left + dx, d->rect.top + dy, d->rect.right + dx, d->rect.bottom + dy};
        d->pointer_x = x;
        d->pointer_y = y;
        send(w, MSG_MOVING, 0, reinterpret_cast<intptr_t>(&d->rect));
        apply(w, &d->rect, false);
        return;
    }
    d->pointer_x = x;
    d->pointer_y = y;
    size_step(d, x, y);
    send(w, MSG_SIZING, sizing_edge(d->hit), reinterpret_cast<intptr_t>(&d->rect));
    apply(w, &d->rect, true);
}

void end_drag(PlatformWindow* w, bool put_back)
{
    WindowDrag* d = w->drag;
    if (!d->hit)
        return;
    if (put_back) {
        d->rect = d->start_rect;
        apply(w, &d->rect, d->hit != HIT_CAPTION);
    }
    d->hit = 0;
    gdk_seat_ungrab(d->seat);
    d->seat = nullptr;
    d->hover_hit = -1; // the next motion sets the cursor again
    send(w, MSG_EXIT_SIZE_MOVE, 0, 0);
}

GdkDevice* pointer_of(PlatformWindow* w)
{
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(w->toplevel));
    return seat ? gdk_seat_get_pointer(seat) : nullptr;
}

WindowRect current_rect(PlatformWindow* w)
{
    if (w->position_known)
        return WindowRect{w->last_x, w->last_y, w->last_x + w->last_width, w->last_y + w->last_height};
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    int x = 0, y = 0;
    gdk_window_get_origin(gdk_window, &x, &y);
    return WindowRect{x, y, x + gdk_window_get_width(gdk_window), y + gdk_window_get_height(gdk_window)};
}

gboolean on_event(GtkWidget*, GdkEvent* event, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    WindowDrag* d = w->drag;
    switch (event->type) {
    case GDK_MOTION_NOTIFY:
        if (d->hit) {
            step(w, int(event->motion.x_root), int(event->motion.y_root));
            return TRUE;
        }
        set_hover(w, hit_test(w, event->motion.x, event->motion.y));
        return FALSE;
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS: {
        if (d->hit)
            return TRUE;
        if (event->button.button != 1)
            return FALSE;
        // A band belongs to the frame: its presses never reach the input of
        // the client area.
        intptr_t hit = hit_test(w, event->button.x, event->button.y);
        if (!is_resize_hit(hit))
            return FALSE;
        if (event->type == GDK_BUTTON_PRESS)
            send(w, MSG_NC_LBUTTON_DOWN, uintptr_t(hit), 0);
        return TRUE;
    }
    case GDK_BUTTON_RELEASE:
        if (!d->hit)
            return FALSE;
        if (event->button.button == 1)
            end_drag(w, false);
        return TRUE;
    case GDK_KEY_PRESS:
        if (!d->hit)
            return FALSE;
        if (event->key.keyval == GDK_KEY_Escape)
            end_drag(w, true);
        return TRUE;
    case GDK_KEY_RELEASE:
        return d->hit ? TRUE : FALSE;
    case GDK_GRAB_BROKEN:
        end_drag(w, false);
        return FALSE;
    case GDK_LEAVE_NOTIFY:
        // Entering the picture window inside is not leaving.
        if (!d->hit && event->crossing.detail != GDK_NOTIFY_INFERIOR)
            set_hover(w, HIT_CLIENT);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void platform_window_drag_install(PlatformWindow* w)
{
    w->drag = new WindowDrag{};
    w->drag->hover_hit = HIT_CLIENT;
    load_cursors(w->drag, gtk_widget_get_display(w->toplevel));
    // "event" comes before the button and motion signals, so a press on a
    // band is taken here before the client-area input sees it.
    g_signal_connect(w->toplevel, "event", G_CALLBACK(on_event), w);
}

GdkCursor* platform_window_hover_cursor(PlatformWindow* w)
{
    return w->drag ? cursor_for(w, w->drag->hover_hit) : w->arrow_cursor;
}

void platform_window_begin_drag(void* window, intptr_t hit)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !w->drag || w->drag->hit || (hit != HIT_CAPTION && !is_resize_hit(hit)))
        return;
    WindowDrag* d = w->drag;
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    GdkDevice* pointer = pointer_of(w);
    if (!gdk_window || !pointer)
        return;
    // Started by the press being handled: the drag follows from where the
    // press was, and the motions and the release queued behind it (a busy
    // window thread may see them late) still drive it in order.
    GdkEvent* press = gtk_get_current_event();
    bool from_press = press && press->type == GDK_BUTTON_PRESS && press->button.button == 1;
    int x = 0, y = 0;
    if (from_press) {
        x = int(press->button.x_root);
        y = int(press->button.y_root);
    } else {
        // Otherwise only while the button is still held: no release would end it.
        GdkModifierType mask{};
        gdk_device_get_position(pointer, nullptr, &x, &y);
        gdk_window_get_device_position(gdk_window, pointer, nullptr, nullptr, &mask);
        if (!(mask & GDK_BUTTON1_MASK)) {
            if (press)
                gdk_event_free(press);
            return;
        }
    }
    GdkSeat* seat = gdk_device_get_seat(pointer);
    GdkCursor* cursor = cursor_for(w, hit);
    GdkGrabStatus grabbed = gdk_seat_grab(seat, gdk_window, GDK_SEAT_CAPABILITY_ALL_POINTING, FALSE, cursor,
                                          from_press ? press : nullptr, nullptr, nullptr);
    if (press)
        gdk_event_free(press);
    if (grabbed != GDK_GRAB_SUCCESS)
        return;
    d->seat = seat;
    d->rect = d->start_rect = current_rect(w);
    d->min_size = WindowMinSize{1, 1};
    send(w, MSG_GET_MIN_SIZE, 0, reinterpret_cast<intptr_t>(&d->min_size));
    d->pointer_x = x;
    d->pointer_y = y;
    d->offset_x = x - (moves_left(hit) ? d->rect.left : d->rect.right);
    d->offset_y = y - (moves_top(hit) ? d->rect.top : d->rect.bottom);
    d->hit = hit;
    send(w, MSG_ENTER_SIZE_MOVE, 0, 0);
}

void platform_window_drag_end(PlatformWindow* w)
{
    if (w->drag)
        end_drag(w, false);
}
