// The door to the platform layer: the only code that talks to the desktop.
// Everything above calls these plain functions; the platform calls back only
// through the callbacks it is given.
#pragma once
#include <cstdint>

// Menus are opaque handles above this layer.
void platform_menu_set_check(void* menu, int command_id, int checked);
// Ends the menu tracking of the window (the cancel-mode message).
void platform_menu_cancel_tracking(void* window);
void platform_menu_destroy(void* menu);

// ---- the desktop window ----
// The program's window entry is run_player_window(ctx, items) in
// ui/window_create.h; it uses the calls below. Everything here runs on the window thread except
// platform_send_message, platform_post_message, platform_blit (the
// presentation thread) and platform_clipboard_set (any thread).

struct WindowRect;

// Every message of the window goes through this procedure, on the window thread.
using PlatformProcedure = intptr_t (*)(void* user, unsigned msg, uintptr_t a, intptr_t b);

// Forces the X11 backend (Wayland desktops run it through XWayland), opens
// the display and creates the hidden, borderless window at 0, 0 with 100 x
// 100 and its native child window for the picture. Null, after a message
// on stderr, when there is no display.
void* platform_window_open(PlatformProcedure procedure, void* user);
// Runs the loop until platform_window_quit; returns its exit code. SIGINT
// and SIGTERM (blocked in every thread) arrive as MSG_CLOSE with 0; a lost
// display runs MSG_CLOSE with 1 and ends the process.
int platform_window_loop(void* window);
void platform_window_quit(void* window, int exit_code);

// Runs the procedure on the window thread and returns its result; the
// calling thread waits. From the window thread itself it runs directly.
intptr_t platform_send_message(void* window, unsigned msg, uintptr_t a, intptr_t b);
// Queues the message for the window thread and returns at once.
void platform_post_message(void* window, unsigned msg, uintptr_t a, intptr_t b);

bool platform_window_query_screen(void* window, WindowRect* work_area, int32_t* screen_width,
                                  int32_t* screen_height);
void platform_window_move_resize(void* window, const WindowRect* rect);
void platform_window_show(void* window);
void platform_window_raise(void* window, int keep_above);
void platform_window_set_pointer_visible(void* window, int visible);
void platform_window_set_title(void* window, const char* utf8);

// The presentation thread's copy of a finished picture into the window, on
// its own display connection (shared memory where the server allows it).
void platform_blit(void* window, const uint8_t* bgrx, int pitch, int width, int height);
// The desktop clipboard: format 2 an image (a ClipboardBitmap of the frame
// presentation), 13 UTF-8 text. Copies the data before it returns; non-zero
// when the clipboard took it.
int platform_clipboard_set(void* window, int format, const void* data);
