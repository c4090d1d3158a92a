// The window's creation sequence and the desktop window's run: what happens
// between "the window exists" and "the loop runs". Window thread only.
#pragma once
#include <string>
#include <vector>

struct MainWindow;
struct PlayerContext;
struct CommandLinePlaylist;

struct WindowCreation {
    const std::vector<std::string>* items; // command-line paths and slash options; may be null
    const CommandLinePlaylist* playlist;   // where the items go; null: not taken
    // Reads the settings file, which also places and shows the window
    // (window_place_and_show). Null: the default placement, shown.
    void (*load_settings)(PlayerContext* ctx);
};

// MSG_CREATE: the OSD's copy of the window handle, the work area, the title,
// the command line, then the settings, which place and show the window.
void window_create(MainWindow* w, const WindowCreation* creation);

// The exit sequence, then the window's loop ends with exit_code (MSG_CLOSE).
void window_close(MainWindow* w, int exit_code);

// Shows a pointer hidden after idle time again (any key or pointer move).
void window_show_pointer(MainWindow* w);

// The program on the desktop, as the program entry starts it when not
// headless: the command-line items (paths, "/key=value", "/title=TEXT", as
// the program's own "--" options left them) become the playlist, the
// settings are read, and the window plays until it is closed. Returns the
// exit code: 0 after a close, SIGINT or SIGTERM; 1 without a display (after
// a message on stderr).
int run_player_window(PlayerContext* ctx, const std::vector<std::string>& items);

// The same with the creation spelled out. Opens the display (a clear message and 1 when
// there is none), creates the window, connects the message bridge, the
// picture blit and the clipboard, runs the creation sequence and the loop,
// and returns the loop's exit code. SIGINT and SIGTERM must be blocked in
// every thread before the engine starts; the loop takes them as a close.
int run_main_window(PlayerContext* ctx, const WindowCreation* creation);
