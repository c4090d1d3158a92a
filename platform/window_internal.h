// The desktop window's record, shared by the files of the window layer.
#pragma once
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GMainLoop GMainLoop;
typedef struct _GdkCursor GdkCursor;
struct _XDisplay;

struct BlitState;     // the presentation thread's own connection (blit.cpp)
struct WindowDrag;    // the player's own move and resize loops (window_drag.cpp)
struct QueuedMessage; // a message on its way to the window thread (message_loop.cpp)

struct PlatformWindow {
    PlatformProcedure procedure;
    void* user;
    pthread_t window_thread;
    GMainLoop* loop;
    std::atomic<int> exit_code;
    std::atomic<int> quitting;
    std::atomic<int> display_lost;     // the display went away: nothing may talk to it
    std::atomic<QueuedMessage*> inbox; // pushed by any thread, newest first
    int wake_fd;                       // eventfd: the inbox has something

    // Window thread only.
    GtkWidget* toplevel;
    _XDisplay* xdisplay;        // GDK's connection
    GdkCursor* arrow_cursor;
    GdkCursor* blank_cursor;
    int pointer_hidden;
    int last_x, last_y, last_width, last_height;
    int position_known;
    int iconified;

    // The child window the picture goes to; written once by the window
    // thread before the first picture, read by the presentation thread.
    std::atomic<unsigned long> picture_xid;
    char display_name[256];   // for the presentation thread's own connection
    BlitState* blit;          // presentation thread only

    // Input (window thread only): the key held down (hardware code, 0 none),
    // the two clocks' smallest difference, the last pointer position sent
    // (-1 outside), the first press of a possible double click, the
    // fraction of a wheel notch turned so far.
    unsigned key_held;
    int32_t input_offset_ms;
    int input_offset_known;
    intptr_t pointer_position;
    int click_pending;
    uint32_t click_time;
    int click_x, click_y;
    double scroll_rest;
    // ---- moving, sizing and dropping (window thread only) ----
    WindowDrag* drag;
    // ---- window modes, the tray, balloons and the clock overlay ----
    int fullscreen_asked;          // window thread: the full-screen hint the player set last
    int fullscreen_echo_pending;   // window thread: the desktop has not yet answered that hint
    int hidden_by_player;          // window thread: hidden to the tray
    int focus_wanted;              // window thread: asked for the keyboard, not had it yet
    struct TrayState* tray;        // window thread
    struct BalloonState* balloon;  // window thread
    struct ClockWindow* clock;     // presentation thread only
    std::vector<GtkWidget*> dialogs; // window thread: the dialogs and message boxes up now
    std::atomic<unsigned long> toplevel_xid; // written once at creation
};

// The presentation thread's display connection (made at first use); null
// when the display cannot be reached.
_XDisplay* platform_blit_display(PlatformWindow* w);
// The program's icon at size x size pixels (a new reference).
typedef struct _GdkPixbuf GdkPixbuf;
GdkPixbuf* platform_icon_pixbuf(int size);
// Starts looking for a StatusNotifierWatcher on the session bus (when there
// is one), so that the tray knows which icon to show.
void platform_tray_start(PlatformWindow* w);
// The window manager changed the full-screen state: a change the player did
// not ask for becomes MSG_FULLSCREEN_REQUEST.
void platform_window_fullscreen_changed(PlatformWindow* w, int fullscreen);

// Gives the window its icon at the sizes desktops ask for.
void platform_set_window_icon(GtkWidget* toplevel);
// Makes the inbox and its wake-up source on the default main context.
bool platform_message_queue_init(PlatformWindow* w);
bool platform_on_window_thread(const PlatformWindow* w);
// Runs fn(arg) on the window thread and waits for it.
void platform_run_on_window_thread(PlatformWindow* w, void (*fn)(void* arg), void* arg);
// Keys, buttons, moves, leaves and the wheel become the window procedure's
// input messages (before the window is realised).
void platform_window_input_connect(PlatformWindow* w);
// The session manager's id for this client ("" when it did not start us).
const char* platform_autostart_id();
// The session manager's log-off becomes MSG_END_SESSION (where there is one).
void platform_watch_session_end(PlatformWindow* w);
// SIGINT and SIGTERM become MSG_CLOSE on the window's loop.
bool platform_watch_close_signals(PlatformWindow* w);

// ---- dialogs and the keyboard focus (dialogs.cpp, window_focus.cpp) ----
// Shows a dialog that goes away by its own answer, without a loop of its own.
void platform_dialog_show(PlatformWindow* w, GtkWidget* dialog);
// Runs a dialog's own loop until it is answered; GTK_RESPONSE_NONE when the
// player closed meanwhile (platform_dialogs_end).
int platform_dialog_run(PlatformWindow* w, GtkWidget* dialog);
// The player closes: every dialog is answered, loops of their own end.
void platform_dialogs_end(PlatformWindow* w);
// Makes the main window the active window that takes the keys (after a
// dialog, a menu or coming back from the tray), with the X server's time,
// so that the window manager's focus-stealing rules let it through.
void platform_window_take_focus(PlatformWindow* w);
// The toolkit's focus and map events, for the focus that is still wanted.
void platform_window_focus_changed(PlatformWindow* w, int in);
void platform_window_mapped(PlatformWindow* w);
// Ends a move or resize that runs now (the player closes).
void platform_window_drag_end(PlatformWindow* w);

// ---- moving, sizing and dropping ----
// The resize bands with their cursors and the pointer-grab move and resize
// loops; the drop target for files. Both once, after the window is realised.
void platform_window_drag_install(PlatformWindow* w);
void platform_window_drop_install(PlatformWindow* w);
// The cursor the pointer shows over the window when it is not hidden: the
// resize cursor of the band under it, or the arrow.
GdkCursor* platform_window_hover_cursor(PlatformWindow* w);
