// The desktop window: an undecorated, app-painted GTK toplevel on the X11
// backend with one native child X window that the presentation thread draws
// the picture into. GTK events become the window procedure's messages.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

// The one window of the process, for the lost-display handler.
std::atomic<PlatformWindow*> the_window{nullptr};

void send(PlatformWindow* w, unsigned msg, uintptr_t a, intptr_t b)
{
    w->procedure(w->user, msg, a, b);
}

// A display that goes away ends the program, after the exit sequence has
// written the settings; nothing in it may talk to the display again. The
// exit sequence belongs to the window thread: another thread whose own
// connection noticed first (the presentation thread's) hands it the close
// and stops there, since the handler may not return.
int on_display_lost(Display*)
{
    static std::atomic<int> reported{0};
    if (!reported.exchange(1))
        fputs("moravista: the connection to the display was lost\n", stderr);
    PlatformWindow* w = the_window.load(std::memory_order_acquire);
    if (w)
        w->display_lost.store(1, std::memory_order_release);
    if (w && !platform_on_window_thread(w)) {
        platform_post_message(w, MSG_CLOSE, 1, 0);
        for (;;)
            pause();
    }
    if (w)
        send(w, MSG_CLOSE, 1, 0); // the exit sequence runs once, whoever asks again
    _exit(1);
}

// Errors of the presentation thread's own connection (a window that goes
// away between two of its requests, such as the window manager's frame
// replaced when the window is shown again) are worth no more than a skipped
// picture, and must never reach the toolkit, whose handler is the window
// thread's alone. The handler is the whole process's: set once, on the
// window thread, before any other connection exists.
std::atomic<Display*> toolkit_display{nullptr};
XErrorHandler toolkit_error_handler; // window thread

int on_x_error(Display* d, XErrorEvent* e)
{
    if (d != toolkit_display.load(std::memory_order_relaxed) || !toolkit_error_handler)
        return 0;
    return toolkit_error_handler(d, e);
}

std::string startup_id, autostart_id; // set before any thread starts, read only after

void report_position(PlatformWindow* w)
{
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    if (!gdk_window)
        return;
    int x = 0, y = 0;
    gdk_window_get_origin(gdk_window, &x, &y);
    int width = gdk_window_get_width(gdk_window);
    int height = gdk_window_get_height(gdk_window);
    uintptr_t flags = 0;
    if (!w->position_known || x != w->last_x || y != w->last_y)
        flags |= POSITION_MOVED;
    if (!w->position_known || width != w->last_width || height != w->last_height)
        flags |= POSITION_SIZED;
    if (!flags)
        return;
    w->position_known = 1;
    w->last_x = x;
    w->last_y = y;
    if (flags & POSITION_SIZED) {
        w->last_width = width;
        w->last_height = height;
        // The picture window always covers the whole client area.
        XResizeWindow(w->xdisplay, w->picture_xid.load(std::memory_order_relaxed), unsigned(width > 0 ? width : 1),
                      unsigned(height > 0 ? height : 1));
    }
    WindowRect rect{x, y, x + width, y + height};
    send(w, MSG_POSITION_CHANGED, flags, reinterpret_cast<intptr_t>(&rect));
    if (flags & POSITION_SIZED)
        send(w, MSG_SIZE, w->iconified ? SIZE_MINIMIZED : SIZE_RESTORED,
             intptr_t((width & 0xFFFF) | (height & 0xFFFF) << 16));
}

gboolean on_configure(GtkWidget*, GdkEventConfigure*, gpointer data)
{
    report_position(static_cast<PlatformWindow*>(data));
    return FALSE;
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data)
{
    send(static_cast<PlatformWindow*>(data), MSG_CLOSE, 0, 0);
    return TRUE; // the window stays until the process ends
}

gboolean on_window_state(GtkWidget*, GdkEventWindowState* event, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    GdkWindowState changed = event->changed_mask;
    if (changed & GDK_WINDOW_STATE_ICONIFIED) {
        w->iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        send(w, MSG_SIZE, w->iconified ? SIZE_MINIMIZED : SIZE_RESTORED,
             intptr_t((w->last_width & 0xFFFF) | (w->last_height & 0xFFFF) << 16));
    }
    if ((changed & GDK_WINDOW_STATE_MAXIMIZED) && (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED))
        send(w, MSG_SIZE, SIZE_MAXIMIZED, 0);
    if (changed & GDK_WINDOW_STATE_FULLSCREEN)
        platform_window_fullscreen_changed(w, (event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) != 0);
    return FALSE;
}

gboolean on_visibility(GtkWidget*, GdkEventVisibility* event, gpointer data)
{
    bool covered = event->state == GDK_VISIBILITY_FULLY_OBSCURED;
    send(static_cast<PlatformWindow*>(data), MSG_SIZE, covered ? SIZE_MAXHIDE : SIZE_MAXSHOW, 0);
    return FALSE;
}

gboolean on_map(GtkWidget*, GdkEvent*, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    send(w, MSG_SHOW_WINDOW, 1, 0);
    platform_window_mapped(w);
    return FALSE;
}

gboolean on_unmap(GtkWidget*, GdkEvent*, gpointer data)
{
    send(static_cast<PlatformWindow*>(data), MSG_SHOW_WINDOW, 0, 0);
    return FALSE;
}

gboolean on_focus_in(GtkWidget*, GdkEvent*, gpointer data)
{
    platform_window_focus_changed(static_cast<PlatformWindow*>(data), 1);
    send(static_cast<PlatformWindow*>(data), MSG_ACTIVATE, 1, 0);
    return FALSE;
}

gboolean on_focus_out(GtkWidget*, GdkEvent*, gpointer data)
{
    send(static_cast<PlatformWindow*>(data), MSG_ACTIVATE, 0, 0);
    return FALSE;
}

// GTK paints nothing: the picture window covers the client area.
gboolean on_draw(GtkWidget*, cairo_t*, gpointer)
{
    return TRUE;
}

void on_screen_changed(GdkScreen*, gpointer data)
{
    send(static_cast<PlatformWindow*>(data), MSG_DISPLAY_CHANGE, 0, 0);
}

// X events GDK does not know: the picture window's exposures and the root
// window's work-area property.
GdkFilterReturn filter_x_events(GdkXEvent* native, GdkEvent*, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    XEvent* e = static_cast<XEvent*>(native);
    if (e->type == Expose && e->xexpose.window == w->picture_xid.load(std::memory_order_relaxed)) {
        if (e->xexpose.count == 0)
            send(w, MSG_ERASE_BACKGROUND, 0, 0);
        return GDK_FILTER_REMOVE;
    }
    if (e->type == PropertyNotify && e->xproperty.window == DefaultRootWindow(w->xdisplay)) {
        static Atom workarea = XInternAtom(w->xdisplay, "_NET_WORKAREA", False);
        if (e->xproperty.atom == workarea)
            send(w, MSG_SETTING_CHANGE, 0, 0);
    }
    return GDK_FILTER_CONTINUE;
}

void create_picture_window(PlatformWindow* w)
{
    GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel);
    // Nothing is ever painted by the server: no background, no clearing.
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = ExposureMask;
    Window child = XCreateWindow(w->xdisplay, GDK_WINDOW_XID(gdk_window), 0, 0, 100, 100, 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    XMapWindow(w->xdisplay, child);
    XFlush(w->xdisplay);
    w->picture_xid.store(child, std::memory_order_release);
}

GtkWidget* create_toplevel(PlatformWindow* w)
{
    GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(top), FALSE);
    gtk_widget_set_app_paintable(top, TRUE);
    gtk_window_set_title(GTK_WINDOW(top), "");
    platform_set_window_icon(top);
    gtk_window_move(GTK_WINDOW(top), 0, 0);
    gtk_window_set_default_size(GTK_WINDOW(top), 100, 100);
    GdkGeometry hints{};
    hints.min_width = 100;
    hints.min_height = 100;
    gtk_window_set_geometry_hints(GTK_WINDOW(top), nullptr, &hints, GDK_HINT_MIN_SIZE);
    gtk_widget_add_events(top, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                   GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                                   GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_STRUCTURE_MASK |
                                   GDK_FOCUS_CHANGE_MASK | GDK_VISIBILITY_NOTIFY_MASK);
    g_signal_connect(top, "configure-event", G_CALLBACK(on_configure), w);
    g_signal_connect(top, "delete-event", G_CALLBACK(on_delete), w);
    g_signal_connect(top, "window-state-event", G_CALLBACK(on_window_state), w);
    g_signal_connect(top, "visibility-notify-event", G_CALLBACK(on_visibility), w);
    g_signal_connect(top, "map-event", G_CALLBACK(on_map), w);
    g_signal_connect(top, "unmap-event", G_CALLBACK(on_unmap), w);
    g_signal_connect(top, "focus-in-event", G_CALLBACK(on_focus_in), w);
    g_signal_connect(top, "focus-out-event", G_CALLBACK(on_focus_out), w);
    g_signal_connect(top, "draw", G_CALLBACK(on_draw), w);
    return top;
}

void watch_screen(PlatformWindow* w)
{
    GdkScreen* screen = gtk_widget_get_screen(w->toplevel);
    g_signal_connect(screen, "monitors-changed", G_CALLBACK(on_screen_changed), w);
    g_signal_connect(screen, "size-changed", G_CALLBACK(on_screen_changed), w);
    GdkWindow* root = gdk_screen_get_root_window(screen);
    gdk_window_set_events(root, GdkEventMask(gdk_window_get_events(root) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(nullptr, filter_x_events, w);
}

} // namespace

void platform_keep_startup_ids(const char* startup, const char* autostart)
{
    startup_id = startup;
    autostart_id = autostart;
}

const char* platform_autostart_id()
{
    return autostart_id.c_str();
}

void* platform_window_open(PlatformProcedure procedure, void* user)
{
    // Wayland desktops run the player through XWayland: the picture blit,
    // positioning and hot keys need X11.
    gdk_set_allowed_backends("x11");
    // The program set the locale before its threads started; the toolkit
    // would set it again here, while they run.
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) {
        const char* name = getenv("DISPLAY");
        if (name && !*name)
            name = nullptr;
        fprintf(stderr,
                "moravista: cannot open the display%s%s%s; start it on a desktop, or use --headless to run "
                "without a window\n",
                name ? " \"" : " (DISPLAY is not set", name ? name : ")", name ? "\"" : "");
        return nullptr;
    }
    GdkDisplay* display = gdk_display_get_default();
    toolkit_display.store(GDK_DISPLAY_XDISPLAY(display), std::memory_order_relaxed);
    toolkit_error_handler = XSetErrorHandler(on_x_error);
    XSetIOErrorHandler(on_display_lost);
    if (!startup_id.empty())
        gdk_x11_display_set_startup_notification_id(display, startup_id.c_str());
    // One pixel of the frame buffer is one pixel on the screen.
    gdk_x11_display_set_window_scale(display, 1);
    auto* w = new PlatformWindow{};
    w->procedure = procedure;
    w->user = user;
    w->window_thread = pthread_self();
    w->loop = g_main_loop_new(nullptr, FALSE);
    if (!platform_message_queue_init(w)) {
        fputs("moravista: cannot create the window's message queue\n", stderr);
        return nullptr;
    }
    w->xdisplay = GDK_DISPLAY_XDISPLAY(display);
    snprintf(w->display_name, sizeof w->display_name, "%s", DisplayString(w->xdisplay));
    w->arrow_cursor = gdk_cursor_new_from_name(display, "default");
    w->blank_cursor = gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR);
    w->toplevel = create_toplevel(w);
    platform_window_input_connect(w);
    gtk_widget_realize(w->toplevel);
    gdk_window_set_cursor(gtk_widget_get_window(w->toplevel), w->arrow_cursor);
    create_picture_window(w);
    platform_window_drag_install(w);
    platform_window_drop_install(w);
    w->toplevel_xid.store(GDK_WINDOW_XID(gtk_widget_get_window(w->toplevel)), std::memory_order_release);
    watch_screen(w);
    platform_tray_start(w);
    the_window.store(w, std::memory_order_release);
    platform_watch_close_signals(w);
    platform_watch_session_end(w);
    return w;
}

bool platform_window_query_screen(void* window, WindowRect* work_area, int32_t* screen_width,
                                  int32_t* screen_height)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return false;
    GdkDisplay* display = gtk_widget_get_display(w->toplevel);
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return false;
    GdkRectangle geometry, work;
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &work);
    *work_area = WindowRect{work.x, work.y, work.x + work.width, work.y + work.height};
    *screen_width = geometry.width;
    *screen_height = geometry.height;
    return true;
}

void platform_window_move_resize(void* window, const WindowRect* rect)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    int width = rect->right - rect->left;
    int height = rect->bottom - rect->top;
    gtk_window_move(GTK_WINDOW(w->toplevel), rect->left, rect->top);
    gtk_window_resize(GTK_WINDOW(w->toplevel), width > 0 ? width : 1, height > 0 ? height : 1);
    // The toolkit skips a request for the size the window already has, but
    // the window manager may be about to change it (a maximise taken back):
    // the request goes out now, in order after whatever was sent before.
    if (GdkWindow* gdk_window = gtk_widget_get_window(w->toplevel); gdk_window && gtk_widget_get_mapped(w->toplevel))
        gdk_window_move_resize(gdk_window, rect->left, rect->top, width > 0 ? width : 1, height > 0 ? height : 1);
}

void platform_window_show(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    w->hidden_by_player = 0;
    gtk_widget_show(w->toplevel);
    gtk_window_deiconify(GTK_WINDOW(w->toplevel));
}

void platform_window_raise(void* window, int keep_above)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    gtk_window_set_keep_above(GTK_WINDOW(w->toplevel), keep_above ? TRUE : FALSE);
    platform_window_take_focus(w);
}

void platform_window_set_pointer_visible(void* window, int visible)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || w->pointer_hidden == !visible)
        return;
    w->pointer_hidden = !visible;
    gdk_window_set_cursor(gtk_widget_get_window(w->toplevel),
                          visible ? platform_window_hover_cursor(w) : w->blank_cursor);
}

void platform_window_set_title(void* window, const char* utf8)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !utf8)
        return;
    // The desktop takes only valid UTF-8; a name from a broken file still shows.
    gchar* valid = g_utf8_make_valid(utf8, -1);
    gtk_window_set_title(GTK_WINDOW(w->toplevel), valid);
    g_free(valid);
}
