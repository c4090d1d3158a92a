// The window shell's door: the window procedure every message of the window
// thread goes through, the program's desktop window, the playback commands
// the window's input and the headless input script share, and the intake of
// the command line. Window thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/core.h"

// ---- the window procedure ----
intptr_t window_procedure(MainWindow* window, unsigned msg, uintptr_t a, intptr_t b);

// ---- the program's window ----
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

// ---- playback commands ----
// Space: inverts playing when an item is open (pausing or resuming the sound
// device); with nothing open, asks for the current entry. `play` -1 toggles,
// Pauses, 1 plays.
void command_play_pause(PlayerContext* ctx, int play);
void command_stop(PlayerContext* ctx);
// A seek to an absolute position, as a right click on the progress bar:
// seek_forward 1 for an item without video, 0 with video.
void command_seek_to(PlayerContext* ctx, int32_t position_ms);
// F: the next frame, then paused.
void command_step(PlayerContext* ctx);
// Sets the volume level (clamped to 0..300) and shows its notice.
void command_set_volume(PlayerContext* ctx, int32_t level);
// A track choice of the menu: 1019 + stream, 2020 + external file, 3021 off.
void command_track(PlayerContext* ctx, int32_t command_id);

// ---- the command line ----
// The playlist as the command line sees it; the window binds it to the real
// playlist, tests to a fake one.
struct PlaylistRefusals;
struct CommandLinePlaylist {
    void* user;
    uint32_t (*count)(void* user);
    // Adds a file, or the media of a folder, with the duplicate check on;
    // what cannot be an entry is noted in refused.
    void (*add_path)(void* user, const char* path, PlaylistRefusals* refused);
    // Gives the entry at index its parameters (key=value pairs joined by
    // U+0001) and title; a null text leaves that field as it is.
    void (*set_texts)(void* user, uint32_t index, const char* parameters, const char* title);
    // Once, after the last item: what was refused, for its one notice (may be null).
    void (*report_refused)(void* user, const PlaylistRefusals* refused);
};

// Applies the items left after the program's own "--" options, in order:
// "/key=value" is an option for the next path that adds entries,
// "/title=TEXT" (any letter case) names the next path, anything else is a
// path. Options and a title after the last path go to nobody. On this system
// an absolute path also starts with "/": an argument is an option only when
// the text before its "=" holds no further "/" and no such file exists.
// Relative paths are made absolute against the current folder, so a saved
// list still opens from elsewhere.
void command_line_to_playlist(const std::vector<std::string>& items, const CommandLinePlaylist* playlist);

// Classifies one argument: 1 option (key=value after the slash), 0 path.
int command_line_is_option(const char* arg);
// The path a command-line path names: absolute, "." segments and repeated
// slashes removed; locations with a scheme ("proto://") stay as they are.
std::string command_line_absolute_path(const std::string& path, const std::string& current_folder);

// The binding to the player's own playlist (user is the context).
CommandLinePlaylist command_line_playlist_of(PlayerContext* ctx);
// command_line_to_playlist on the player's playlist.
void command_line_to_player(PlayerContext* ctx, const std::vector<std::string>& items);

// ---- the context menu ----
// Builds the menu when none is cached and shows it at the pointer; without
// a window it is only recorded (the input script's "menu").
void show_context_menu(MainWindow* w);
// The open dialog for files (folder 0) or a folder; append_mode keeps the
// list and adds to it (Ctrl held).
void open_files_dialog(MainWindow* w, int append_mode, int folder);
