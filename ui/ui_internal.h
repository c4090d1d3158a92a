// What the files of the window shell share among themselves (and with their
// tests): the desktop window's table of calls and the window's geometry.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "ui/ui.h"

// ---- the desktop ----
struct WindowDesktop {
    void* handle;
    // The work area and primary screen size; false when the desktop does not
    // say (the stored values then stay).
    bool (*query_screen)(void* handle, WindowRect* work_area, int32_t* screen_width, int32_t* screen_height);
    // Moves and sizes without activating or restacking the window.
    void (*move_resize)(void* handle, const WindowRect* rect);
    // Shows the window in its normal state (not minimised).
    void (*show)(void* handle);
    // Raises the window to the top, then keeps it above others or not.
    void (*raise)(void* handle, int keep_above);
    void (*set_pointer_visible)(void* handle, int visible);
    void (*set_title)(void* handle, const char* utf8);
    // Ends the window's loop; the loop returns exit_code.
    void (*quit)(void* handle, int exit_code);
    // Input and commands: minimises the window.
    void (*minimize)(void* handle);
    // Starts the player's own move (HIT_CAPTION) or resize (an edge or
    // corner HIT_* code) that follows the pointer until its button is up.
    void (*begin_drag)(void* handle, intptr_t hit);

    // ---- window modes, the tray and balloons ----
    // The monitor holding the window and its work area; false when unknown.
    bool (*query_monitor)(void* handle, WindowRect* monitor, WindowRect* work_area);
    // Tells the desktop the window is full screen (panels go below it).
    void (*set_fullscreen_hint)(void* handle, int on);
    // Takes back a maximised state the window manager gave the window.
    void (*unmaximize)(void* handle);
    // Above other windows and off the task bar (on), or in the normal band.
    void (*set_band)(void* handle, int on);
    void (*hide)(void* handle);
    int (*ctrl_held)(void* handle);
    // Non-zero when a tray is there to show the icon.
    int (*tray_available)(void* handle);
    void (*tray_show)(void* handle, const char* tip);
    void (*tray_hide)(void* handle);
    void (*tray_set_tip)(void* handle, const char* tip);
    void (*balloon_show)(void* handle, const char* summary, const char* body);
    void (*balloon_close)(void* handle);
    void (*balloon_close_wait)(void* handle, int wait_ms);
};

// The calls the rest of the window code makes; each does nothing without a
// desktop.
bool desktop_query_screen(MainWindow* w, WindowRect* work_area, int32_t* screen_width, int32_t* screen_height);
void desktop_move_resize(MainWindow* w, const WindowRect* rect);
void desktop_show(MainWindow* w);
void desktop_raise(MainWindow* w, int keep_above);
void desktop_set_pointer_visible(MainWindow* w, int visible);
void desktop_set_title(MainWindow* w, const char* utf8);
void desktop_quit(MainWindow* w, int exit_code);
void desktop_minimize(MainWindow* w);
void desktop_begin_drag(MainWindow* w, intptr_t hit);
// Window modes, the tray and balloons (desktop_modes.cpp).
bool desktop_query_monitor(MainWindow* w, WindowRect* monitor, WindowRect* work_area);
void desktop_set_fullscreen_hint(MainWindow* w, int on);
void desktop_unmaximize(MainWindow* w);
void desktop_set_band(MainWindow* w, int on);
void desktop_hide(MainWindow* w);
int desktop_ctrl_held(MainWindow* w);
int desktop_tray_available(MainWindow* w);
void desktop_tray_show(MainWindow* w, const char* tip);
void desktop_tray_hide(MainWindow* w);
void desktop_tray_set_tip(MainWindow* w, const char* tip);
void desktop_balloon_show(MainWindow* w, const char* summary, const char* body);
void desktop_balloon_close(MainWindow* w);
void desktop_balloon_close_wait(MainWindow* w, int wait_ms);

// ---- geometry ----
// Shifts and, when it is larger, shrinks rect so it lies inside the window's
// work area.
void fit_to_work_area(const MainWindow* w, WindowRect* rect);
// The same against any work area.
void fit_rect_into(const WindowRect* work_area, WindowRect* rect);

// The placement without saved settings: 960 x 540 centred in the work area.
WindowRect window_default_rect(const MainWindow* w);

// Reads the work area and screen size again; a full-screen or maximised
// window follows them.
void window_track_work_area(MainWindow* w);

// Moves the window to rect and shows it (the last step of settings loading).
void window_place_and_show(MainWindow* w, const WindowRect* rect);

// The desktop reported a new position (POSITION_MOVED) and/or size
// (POSITION_SIZED): the client size goes to the frame presentation, the
// rectangle to the bookkeeping.
void window_position_changed(MainWindow* w, uintptr_t flags, const WindowRect* rect);

// The rectangle to remember for the next start: the windowed one, also while
// the window is full screen or maximised.
WindowRect window_normal_rect(const MainWindow* w);

// ---- moving and sizing the frameless window (window_drag.cpp) ----
// A left press on the picture: the window follows the pointer (snapping to
// the work-area edges) until the button is released; nothing in a screen mode.
void window_begin_move(MainWindow* w);
// A left press on a resize band (MSG_NC_LBUTTON_DOWN): the resize from that
// edge or corner; nothing in a screen mode.
void window_begin_resize(MainWindow* w, intptr_t hit);
// Which part of the window is under the pointer (client coordinates): a
// resize band (8 pixels at the top and left, 7 at the bottom and right, the
// side bands stopping 30 pixels above the bottom) or the client area, which
// is all of it in a screen mode.
intptr_t window_hit_test(const MainWindow* w, int32_t x, int32_t y);
void window_min_size(WindowMinSize* size);
// A proposed rectangle of a move: sticks to a work-area edge within 9
// pixels of it until held back by more than 10.
void window_moving(MainWindow* w, WindowRect* r);
// A proposed rectangle of a resize from edge (SIZING_*): with a picture,
// the dragged side's length sets the other one by the picture's aspect
// (corners keep their free shape), then the rectangle is fitted into the
// work area; without a picture nothing changes.
void window_sizing(MainWindow* w, uintptr_t edge, WindowRect* r);
// A move or resize begins (active 1) or ends (0).
void window_drag_changed(MainWindow* w, int active);

// ---- files that come in while the player runs (intake_queue.cpp) ----
// What follows a batch's commit.
enum IntakeThen {
    INTAKE_THEN_NOTHING = 0,
    INTAKE_THEN_PLAY = 1,          // the first new entry plays, or the listed entry of the first path
    INTAKE_THEN_SUBTITLES = 2,     // a drop: nothing added and new subtitle files switch to the first
    INTAKE_THEN_FOLDER_NOTICE = 3, // the folder dialog: " 目录中没有媒体文件! " when it gave nothing
};
struct IntakeRequest {
    int append_mode = 1; // 0: the batch replaces the list and its first entry plays
    int after = INTAKE_THEN_NOTHING;
    std::vector<std::string> paths; // admitted files and folders, in the order they came
    std::vector<char> is_folder;    // per path
    uint32_t old_subtitles = 0;     // INTAKE_THEN_SUBTITLES: the subtitle file count before
    PlaylistRefusals refused;       // what was refused, for the batch's one notice
};
// Admits a path into the request (a file or folder that exists, or a
// location); what is refused is noted for the notice. Returns the kind, or -1.
int intake_admit(IntakeRequest* request, const char* path);
// Queues the batch; its folders are listed on a thread of their own. A batch
// without folders and with nothing waiting before it is committed at once.
// Batches commit in order, except that one still listing after 10 s holds
// up none behind it; a batch that replaces the list drops those waiting.
void intake_submit(MainWindow* w, IntakeRequest request);
// MSG_INTAKE_LISTED: a batch's folders are listed; what is ready commits.
void intake_listed(MainWindow* w);
// Batches still waiting.
int intake_pending(MainWindow* w);
// Tests without a message loop: waits up to timeout_ms for the listing
// threads and commits what they hand over.
void intake_settle(MainWindow* w, int timeout_ms);
// Drops what still waits and frees the queue (tests; the program keeps it).
void intake_release(MainWindow* w);

// ---- files from outside (file_intake.cpp) ----
// Dropped files: subtitle files join the item's external subtitle list
// (and a drop of only subtitles on an open item switches to the first of
// them), everything else the playlist, replacing it unless Ctrl was held.
void window_drop_files(MainWindow* w, const DroppedFiles* drop);
// A data message from another program: 0x6170 appends an entry (its index,
// or -1 when the payload cannot be an entry), 0x7374 << 16 | index sets a
// title, 0x7370 << 16 | index parameters (0); anything else 0.
intptr_t window_copy_data(MainWindow* w, const CopyData* data);

// ---- window modes, always on top, the tray and the clock (window_modes.cpp) ----
// maximise 0: the full-screen toggle; 1: the maximise-to-work-area toggle.
void toggle_screen_mode(MainWindow* w, int maximise);
// Hides the window, moves it into the topmost (on) or the normal band and
// posts MSG_PLAYLIST sub-code 0, which shows it again unless it is in the tray.
void set_topmost_band(MainWindow* w, int on);
// Command 1003; silent is the form settings loading uses (no check mark, no notice).
void toggle_always_on_top(MainWindow* w, int silent);
// Where no tray is there to show the icon, minimises instead.
void hide_to_tray(MainWindow* w);
void restore_from_tray(MainWindow* w);
// The window comes back from a minimise that stood in for the tray: it
// takes its top band again when always on top is on.
void restored_from_minimised(MainWindow* w);
// Non-zero while the window is hidden in the tray (the Esc key, the
// minimise button and hot key M ask).
int window_in_tray(MainWindow* w);
// The system time in the top-right corner while a screen mode is on.
void show_clock_overlay(MainWindow* w);
void hide_clock_overlay(MainWindow* w);
// The window moved or was resized while the clock shows: the overlay follows
// at the next tick.
void move_clock_overlay(MainWindow* w);
// A change of monitors or of the work area: a screen mode takes its
// rectangle again, on the monitor holding the window (or what remains).
void reapply_screen_mode(MainWindow* w);
// The messages of the window modes and the tray, taken before the rest of the
// window procedure: the desktop's maximise, minimise and full-screen
// requests, the tray icon's events and balloons. True when the message was
// handled (its result in *result); false lets the procedure go on.
bool window_modes_message(MainWindow* w, unsigned msg, uintptr_t a, intptr_t b, intptr_t* result);
// The tray icon's events (MSG_TRAY) and balloons (MSG_BALLOON), and its tip
// after a new title (tray_icon.cpp).
void tray_event(MainWindow* w, intptr_t event);
void tray_balloon(MainWindow* w, int show);
void tray_title_changed(MainWindow* w);
// The settings' hook: "总在最前" was on at start.
// Where the item stands for a user: the clock, which stands a little before
// the start while an item or a seek begins (and at -1 while a seek is in
// flight), read as 0 there.
int32_t position_ms(const PlayerContext* ctx);
void apply_always_on_top_setting(PlayerContext* ctx);
// An exit step: the tray icon and its balloon go.
void remove_tray_icon(PlayerContext* ctx, int exit_code);

// ---- the context menu and the open dialogs (context_menu.cpp, open_dialog.cpp) ----
// Builds the menu when none is cached and shows it at the pointer.
void show_context_menu(MainWindow* w);
// append_mode: Ctrl was held; folder: Alt was held.
void open_files_dialog(MainWindow* w, int append_mode, int folder);
// The check mark of one item of the cached menu; nothing without a menu.
void menu_set_check(PlayerContext* ctx, int command_id, int checked);
// "COOL菜单": pop-up menus opened from now on get their band.
void install_cool_menu(MainWindow* w);

// ---- hot keys, screensaver and sleep, trimming (desktop_services.cpp) ----
// Binds or unbinds the twelve global hot keys as "开启热键" says.
void apply_hotkeys(MainWindow* w);
// The information dialog "已开启全局热键" with the hot-key help text.
void show_hotkey_help(MainWindow* w);
// Holds the screensaver and sleep off while a video item is open and the
// option is on; releases them otherwise.
void set_power_blocking(MainWindow* w, int video_open);
void trim_working_set();
void trim_if_enabled();
