// The tray icon for desktops with an XEmbed system tray: a small window of
// the player's own that asks the tray (the owner of the screen's system tray
// selection) to dock it, and draws the program's icon at whatever size the
// tray gives it. A left click restores the window, a right click shows the
// player's context menu; the item label shows beside the pointer while it
// rests on the icon. Window thread; its X events come through tray.cpp's
// filter on the toolkit's own connection.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/tray_internal.h"

namespace {

constexpr long SYSTEM_TRAY_REQUEST_DOCK = 0;
constexpr int DEFAULT_SIZE = 22;

Atom atom(Display* d, const char* name)
{
    return XInternAtom(d, name, False);
}

// The tray's own visual when it offers a 32-bit one: the icon's soft edges
// then blend with the tray. Else the tray's background shows through the
// icon's shape.
Visual* tray_visual(Display* d, Window manager, int* depth)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Visual* visual = nullptr;
    if (XGetWindowProperty(d, manager, atom(d, "_NET_SYSTEM_TRAY_VISUAL"), 0, 1, False, XA_VISUALID, &type, &format,
                           &count, &after, &data) == Success && data && count == 1 && format == 32) {
        XVisualInfo want{};
        want.visualid = VisualID(*reinterpret_cast<unsigned long*>(data));
        int found = 0;
        if (XVisualInfo* info = XGetVisualInfo(d, VisualIDMask, &want, &found)) {
            if (found > 0 && info[0].depth == 32) {
                visual = info[0].visual;
                *depth = 32;
            }
            XFree(info);
        }
    }
    if (data)
        XFree(data);
    return visual;
}

void draw(TrayState* t)
{
    Display* d = t->window->xdisplay;
    int size = std::max(8, std::min(t->xembed_width, t->xembed_height));
    GdkPixbuf* icon = platform_icon_pixbuf(size);
    if (!icon)
        return;
    int width = gdk_pixbuf_get_width(icon), height = gdk_pixbuf_get_height(icon);
    int stride = gdk_pixbuf_get_rowstride(icon), channels = gdk_pixbuf_get_n_channels(icon);
    const guint8* pixels = gdk_pixbuf_read_pixels(icon);
    int left = (t->xembed_width - width) / 2, top = (t->xembed_height - height) / 2;
    std::vector<uint32_t> argb(size_t(width) * size_t(height));
    std::vector<XRectangle> shape;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const guint8* p = pixels + y * stride + x * channels;
            uint32_t a = channels == 4 ? p[3] : 255;
            // Premultiplied for a 32-bit visual; full colour inside the shape otherwise.
            uint32_t k = t->xembed_depth == 32 ? a : 255;
            argb[size_t(y) * size_t(width) + size_t(x)] =
                (t->xembed_depth == 32 ? a << 24 : 0) | (p[0] * k / 255) << 16 | (p[1] * k / 255) << 8 | p[2] * k / 255;
            if (a >= 128)
                shape.push_back(XRectangle{short(left + x), short(top + y), 1, 1});
        }
    g_object_unref(icon);
    Window window = t->xembed_window;
    if (t->xembed_depth != 32)
        XShapeCombineRectangles(d, window, ShapeBounding, 0, 0, shape.data(), int(shape.size()), ShapeSet, Unsorted);
    XImage* image = XCreateImage(d, t->xembed_visual ? static_cast<Visual*>(t->xembed_visual) : DefaultVisual(d, DefaultScreen(d)),
                                 unsigned(t->xembed_depth), ZPixmap, 0, reinterpret_cast<char*>(argb.data()),
                                 unsigned(width), unsigned(height), 32, width * 4);
    if (!image)
        return;
    GC gc = XCreateGC(d, window, 0, nullptr);
    XClearWindow(d, window);
    XPutImage(d, window, gc, image, 0, 0, left, top, unsigned(width), unsigned(height));
    XFreeGC(d, gc);
    image->data = nullptr; // the pixels are the vector's
    XDestroyImage(image);
}

void show_tip(TrayState* t, int x_root, int y_root)
{
    if (!t->tip_window) {
        t->tip_window = gtk_window_new(GTK_WINDOW_POPUP);
        gtk_style_context_add_class(gtk_widget_get_style_context(t->tip_window), "tooltip");
        GtkWidget* label = gtk_label_new("");
        gtk_widget_set_margin_start(label, 6);
        gtk_widget_set_margin_end(label, 6);
        gtk_widget_set_margin_top(label, 4);
        gtk_widget_set_margin_bottom(label, 4);
        gtk_container_add(GTK_CONTAINER(t->tip_window), label);
        gtk_widget_show(label);
    }
    gtk_label_set_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(t->tip_window))), t->tip);
    gtk_window_move(GTK_WINDOW(t->tip_window), x_root + 12, y_root + 16);
    gtk_widget_show(t->tip_window);
}

void hide_tip(TrayState* t)
{
    if (t->tip_window)
        gtk_widget_hide(t->tip_window);
}

} // namespace

void xembed_show(TrayState* t)
{
    Display* d = t->window->xdisplay;
    Window manager = d && t->tray_selection ? XGetSelectionOwner(d, t->tray_selection) : None;
    if (!d || manager == None || (t->xembed_window && t->xembed_manager == manager))
        return;
    xembed_hide(t);
    int screen = DefaultScreen(d);
    int depth = DefaultDepth(d, screen);
    Visual* visual = tray_visual(d, manager, &depth);
    XSetWindowAttributes attributes{};
    unsigned long mask = CWEventMask | CWBorderPixel;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                            EnterWindowMask | LeaveWindowMask;
    attributes.border_pixel = 0;
    if (visual) {
        attributes.colormap = XCreateColormap(d, RootWindow(d, screen), visual, AllocNone);
        attributes.background_pixel = 0;
        mask |= CWColormap | CWBackPixel;
    } else {
        attributes.background_pixmap = ParentRelative;
        mask |= CWBackPixmap;
    }
    t->xembed_width = t->xembed_height = DEFAULT_SIZE;
    t->xembed_depth = visual ? 32 : depth;
    t->xembed_visual = visual;
    Window window = XCreateWindow(d, RootWindow(d, screen), 0, 0, DEFAULT_SIZE, DEFAULT_SIZE, 0,
                                  visual ? 32 : CopyFromParent, InputOutput, visual ? visual : CopyFromParent, mask,
                                  &attributes);
    XClassHint class_hint{const_cast<char*>("moravista"), const_cast<char*>("Moravista")};
    XSetClassHint(d, window, &class_hint);
    XStoreName(d, window, "Moravista");
    // The size a tray's socket asks of its client before it gives its own.
    XSizeHints hints{};
    hints.flags = PMinSize | PBaseSize;
    hints.min_width = hints.base_width = DEFAULT_SIZE;
    hints.min_height = hints.base_height = DEFAULT_SIZE;
    XSetWMNormalHints(d, window, &hints);
    // XEmbed version 0, to be mapped by the tray once docked.
    long info[2] = {0, 1};
    Atom xembed_info = atom(d, "_XEMBED_INFO");
    XChangeProperty(d, window, xembed_info, xembed_info, 32, PropModeReplace, reinterpret_cast<unsigned char*>(info), 2);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = manager;
    request.xclient.message_type = atom(d, "_NET_SYSTEM_TRAY_OPCODE");
    request.xclient.format = 32;
    request.xclient.data.l[0] = CurrentTime;
    request.xclient.data.l[1] = SYSTEM_TRAY_REQUEST_DOCK;
    request.xclient.data.l[2] = long(window);
    XSendEvent(d, manager, False, NoEventMask, &request);
    XFlush(d);
    t->xembed_window = window;
    t->xembed_manager = manager;
}

void xembed_hide(TrayState* t)
{
    hide_tip(t);
    if (!t->xembed_window)
        return;
    // The tray lets go of a destroyed client by itself.
    XDestroyWindow(t->window->xdisplay, t->xembed_window);
    XFlush(t->window->xdisplay);
    t->xembed_window = 0;
    t->xembed_manager = 0;
}

void xembed_tip_changed(TrayState* t)
{
    if (t->tip_window && gtk_widget_get_visible(t->tip_window))
        gtk_label_set_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(t->tip_window))), t->tip);
}

bool xembed_event(TrayState* t, const XEvent* e)
{
    if (!t->xembed_window || e->xany.window != t->xembed_window)
        return false;
    switch (e->type) {
    case ConfigureNotify:
        t->xembed_width = e->xconfigure.width;
        t->xembed_height = e->xconfigure.height;
        break;
    case Expose:
        if (e->xexpose.count == 0)
            draw(t);
        break;
    case EnterNotify: show_tip(t, e->xcrossing.x_root, e->xcrossing.y_root); break;
    case LeaveNotify:
    case ButtonPress: hide_tip(t); break;
    case ButtonRelease:
        if (e->xbutton.button == 1)
            tray_post_event(t, TRAY_EVENT_LEFT_UP);
        else if (e->xbutton.button == 3)
            tray_post_event(t, TRAY_EVENT_RIGHT_UP);
        break;
    case DestroyNotify:
        if (e->xdestroywindow.window == t->xembed_window)
            t->xembed_window = 0;
        break;
    default: break;
    }
    return true;
}
