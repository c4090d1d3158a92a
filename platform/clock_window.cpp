// The clock overlay's window: override-redirect (no window manager places or
// decorates it), 32-bit ARGB where the server offers such a visual, and with
// an empty input shape, so every click goes through to the player below. It
// lives on the presentation thread's own display connection, so the update
// once a second never waits for the window thread.
//
// Per-pixel alpha needs a compositing manager. Where none runs, the server
// would show the whole box, transparent pixels as black: the window is then
// shaped to the digits' own pixels instead, drawn in their full colour.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "platform/window_internal.h"

struct ClockWindow {
    Display* display; // the blit's
    Window window;
    Visual* visual;
    int depth;
    GC gc;
    int x, y, width, height;
    int mapped;
    int shape; // the server has the shape extension
    int shaped_width, shaped_height;
    OsdRect hole;
    Window frame; // the main window's top-level ancestor; 0: not known
    Atom compositor_selection; // _NET_WM_CM_S<screen>: owned while a compositing manager runs
    int digits_shaped;         // the shape follows the digits (no compositing manager)
    std::vector<XRectangle> digit_parts; // the shape last set from the digits
    std::vector<uint8_t> opaque;         // the digits in full colour, for that shape
};

namespace {

ClockWindow* create_clock_window(PlatformWindow* w, int x, int y, int width, int height)
{
    Display* d = platform_blit_display(w);
    if (!d)
        return nullptr;
    int screen = DefaultScreen(d);
    Window root = RootWindow(d, screen);
    auto* c = new ClockWindow{};
    c->display = d;
    c->visual = DefaultVisual(d, screen);
    c->depth = DefaultDepth(d, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0;
    attributes.border_pixel = 0;
    attributes.backing_store = WhenMapped;
    unsigned long mask = CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWBackingStore;
    XVisualInfo argb;
    if (XMatchVisualInfo(d, screen, 32, TrueColor, &argb) && argb.red_mask == 0xFF0000 &&
        argb.green_mask == 0xFF00 && argb.blue_mask == 0xFF) {
        c->visual = argb.visual;
        c->depth = 32;
        attributes.colormap = XCreateColormap(d, root, argb.visual, AllocNone);
        mask |= CWColormap;
    }
    c->window = XCreateWindow(d, root, x, y, unsigned(width), unsigned(height), 0, c->depth, InputOutput, c->visual,
                              mask, &attributes);
    int event_base, error_base;
    c->shape = XShapeQueryExtension(d, &event_base, &error_base);
    if (c->shape)
        XShapeCombineRectangles(d, c->window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    XClassHint class_hint{const_cast<char*>("moravista-clock"), const_cast<char*>("Moravista")};
    XSetClassHint(d, c->window, &class_hint);
    if (Window owner = w->toplevel_xid.load(std::memory_order_acquire))
        XSetTransientForHint(d, c->window, owner);
    c->gc = XCreateGC(d, c->window, 0, nullptr);
    char name[32];
    snprintf(name, sizeof name, "_NET_WM_CM_S%d", screen);
    c->compositor_selection = XInternAtom(d, name, False);
    c->x = x;
    c->y = y;
    c->width = width;
    c->height = height;
    return c;
}

// The window is the time's box but for the caption buttons' corner when that
// lets them through. The shape changes only with the box or the corner:
// each change makes the server expose what lies below, which the main window
// then draws again.
void shape_window(ClockWindow* c, int width, int height, const OsdRect* clear)
{
    OsdRect hole = clear ? *clear : OsdRect{0, 0, 0, 0};
    if (!c->shape || (width == c->shaped_width && height == c->shaped_height && hole.left == c->hole.left &&
                      hole.top == c->hole.top && hole.right == c->hole.right && hole.bottom == c->hole.bottom))
        return;
    c->shaped_width = width;
    c->shaped_height = height;
    c->hole = hole;
    std::vector<XRectangle> parts;
    auto add = [&](int x, int y, int w, int h) {
        if (w > 0 && h > 0)
            parts.push_back(XRectangle{short(x), short(y), (unsigned short)w, (unsigned short)h});
    };
    if (hole.right <= hole.left || hole.bottom <= hole.top) {
        add(0, 0, width, height);
    } else {
        add(0, 0, width, hole.top);
        add(0, hole.top, hole.left, hole.bottom - hole.top);
        add(hole.right, hole.top, width - hole.right, hole.bottom - hole.top);
        add(0, hole.bottom, width, height - hole.bottom);
    }
    XShapeCombineRectangles(c->display, c->window, ShapeBounding, 0, 0, parts.data(), int(parts.size()), ShapeSet,
                            YXBanded);
}

// A pixel at least this opaque belongs to the digits (their fill is a
// little more than a third opaque, the outline wholly).
constexpr int DIGIT_ALPHA = 48;

bool in_hole(const OsdRect& hole, int x, int y)
{
    return x >= hole.left && x < hole.right && y >= hole.top && y < hole.bottom;
}

// Without a compositing manager: the shape is the digits' pixels, one run
// of a row at a time, and they are shown in their full colour (the image
// is premultiplied, which the server would show darkened). Returns the
// pixels to put.
const uint8_t* shape_to_digits(ClockWindow* c, const uint8_t* bgra, int64_t pitch, int width, int height,
                               const OsdRect* clear)
{
    OsdRect hole = clear ? *clear : OsdRect{0, 0, 0, 0};
    std::vector<XRectangle> parts;
    c->opaque.assign(size_t(width) * size_t(height) * 4, 0);
    for (int y = 0; y < height; y++) {
        const uint8_t* row = bgra + y * pitch;
        uint8_t* out = &c->opaque[size_t(y) * size_t(width) * 4];
        for (int x = 0; x < width;) {
            if (row[x * 4 + 3] < DIGIT_ALPHA || in_hole(hole, x, y)) {
                x++;
                continue;
            }
            int start = x;
            for (; x < width && row[x * 4 + 3] >= DIGIT_ALPHA && !in_hole(hole, x, y); x++) {
                int a = row[x * 4 + 3];
                for (int k = 0; k < 3; k++)
                    out[x * 4 + k] = uint8_t(std::min(255, row[x * 4 + k] * 255 / a));
                out[x * 4 + 3] = 255;
            }
            parts.push_back(XRectangle{short(start), short(y), (unsigned short)(x - start), 1});
        }
    }
    // Each change of the shape exposes what lies below: only a real one is made.
    bool same = c->digits_shaped && parts.size() == c->digit_parts.size() &&
                std::equal(parts.begin(), parts.end(), c->digit_parts.begin(), [](const XRectangle& a, const XRectangle& b) {
                    return a.x == b.x && a.y == b.y && a.width == b.width;
                });
    if (!same)
        XShapeCombineRectangles(c->display, c->window, ShapeBounding, 0, 0, parts.data(), int(parts.size()), ShapeSet,
                                YXBanded);
    c->digit_parts.swap(parts);
    c->digits_shaped = 1;
    c->shaped_width = -1; // the box's shape is set anew when a compositing manager comes
    return c->opaque.data();
}

// The main window's top-level ancestor (the window manager's frame, or the
// window itself), the sibling the overlay is stacked on.
Window frame_of(Display* d, Window client)
{
    Window w = client;
    for (int depth = 0; depth < 8 && w; depth++) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == root)
            return w;
        w = parent;
    }
    return 0;
}

void stack_above_owner(PlatformWindow* w, ClockWindow* c)
{
    // The frame stays while the window is shown; it is looked up again each
    // time the overlay is shown.
    if (!c->frame) {
        Window owner = w->toplevel_xid.load(std::memory_order_acquire);
        c->frame = owner ? frame_of(c->display, owner) : 0;
    }
    Window frame = c->frame;
    if (!frame)
        return;
    XWindowChanges changes{};
    changes.sibling = frame;
    changes.stack_mode = Above;
    XConfigureWindow(c->display, c->window, CWSibling | CWStackMode, &changes);
}

} // namespace

void platform_clock_show(void* window, const uint8_t* bgra, int64_t pitch, int32_t x, int32_t y, int32_t width,
                         int32_t height, const OsdRect* clear)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !bgra || width < 1 || height < 1 || pitch < int64_t(width) * 4)
        return;
    if (!w->clock && !(w->clock = create_clock_window(w, x, y, width, height)))
        return;
    ClockWindow* c = w->clock;
    if (x != c->x || y != c->y || width != c->width || height != c->height) {
        XMoveResizeWindow(c->display, c->window, x, y, unsigned(width), unsigned(height));
        c->x = x;
        c->y = y;
        c->width = width;
        c->height = height;
    }
    // Asked every second: a compositing manager may start or stop at any time.
    bool composited = c->depth == 32 && XGetSelectionOwner(c->display, c->compositor_selection) != None;
    if (c->shape && !composited) {
        bgra = shape_to_digits(c, bgra, pitch, width, height, clear);
        pitch = int64_t(width) * 4;
    } else {
        c->digits_shaped = 0;
        shape_window(c, width, height, clear);
    }
    if (!c->mapped) {
        XMapWindow(c->display, c->window);
        c->mapped = 1;
    }
    // Again every second: the window manager may have raised the main window
    // over the overlay, or another window over both.
    stack_above_owner(w, c);
    XImage* image = XCreateImage(c->display, c->visual, unsigned(c->depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(const_cast<uint8_t*>(bgra)), unsigned(width),
                                 unsigned(height), 32, int(pitch));
    if (!image)
        return;
    image->byte_order = LSBFirst; // B, G, R, A in memory
    XPutImage(c->display, c->window, c->gc, image, 0, 0, 0, 0, unsigned(width), unsigned(height));
    image->data = nullptr; // the pixels are not ours to free
    XDestroyImage(image);
    XFlush(c->display);
}

void platform_clock_hide(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !w->clock || !w->clock->mapped)
        return;
    XUnmapWindow(w->clock->display, w->clock->window);
    XFlush(w->clock->display);
    w->clock->mapped = 0;
    w->clock->frame = 0;
}
