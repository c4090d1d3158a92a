// The door to the platform layer: the only code that talks to the desktop.
// Everything above calls these plain functions; the platform calls back only
// through the callbacks it is given.
#pragma once
#include <cstdint>

#include "core/core.h"

// ---- menus and the open dialogs (window thread) ----
// Shows the menu tree at the pointer, owned by the window. The desktop menu
// is made from the tree at its first showing (kept in tree->native, whose
// type is this layer's own) and takes the tree's marks at every showing. A
// chosen item is posted to the window as MSG_COMMAND with its identifier.
// closed(user) runs once when the shown menu goes away. Returns 0 when the
// menu did not open (or was already open): closed then does not run.
int platform_menu_popup(void* window, MenuTree* tree, void (*closed)(void* user), void* user);
// Readies the toolkit's menus (theme, fonts, icons) a while after the
// window has opened, so that the first menu opens as fast as later ones.
void platform_menu_prepare(void* window);
// The tree's marks changed: the desktop menu made from it follows.
void platform_menu_update_marks(void* menu);
// Closes the menu the window shows, if any (the cancel-mode message).
void platform_menu_cancel_tracking(void* window);
// Destroys a desktop menu made by platform_menu_popup (tree->native),
// closing it first when it is shown.
void platform_menu_destroy(void* menu);
// From now on every pop-up menu of the process gets the cool menu's band
// when it opens while wanted() is non-zero. Once per process; later calls
// do nothing.
void platform_menu_band_install(int (*wanted)(void));

struct PlatformFileFilter {
    const char* name;
    const char* patterns; // shell patterns joined by ";"; "*.*" is every file
};
// The desktop's open dialog over the window, titled title: files (several
// may be chosen; the filters, matched by matches(name, patterns)) or, with
// folder non-zero, one folder. Each chosen path, in the file system's own
// bytes, goes to chosen(user, path) in the dialog's order. Returns how many
// were chosen; 0 when the dialog was cancelled.
int platform_choose_files(void* window, const char* title, int folder, const PlatformFileFilter* filters,
                          int filter_count, int (*matches)(const char* name, const char* patterns),
                          void (*chosen)(void* user, const char* path), void* user);

// ---- the desktop window ----
// The program's window entry is run_player_window in ui/ui.h; it uses the
// calls below. Everything here runs on the window thread except
// platform_send_message, platform_post_message, platform_blit (the
// presentation thread) and platform_clipboard_set (any thread).

// The desktop's start-up notification id and session-manager client id
// (empty when none), kept for the window: the program takes them out of
// its environment before any thread starts and hands them over here.
void platform_keep_startup_ids(const char* startup_id, const char* autostart_id);

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

// ---- moving, sizing and data messages ----
// Starts the player's own move (HIT_CAPTION) or resize from an edge or
// corner (HIT_* code) while the left button is held: the pointer is grabbed,
// every step's rectangle goes through MSG_MOVING or MSG_SIZING before it is
// applied, and the release (or Escape, which puts the window back) ends it
// between MSG_ENTER_SIZE_MOVE and MSG_EXIT_SIZE_MOVE. Nothing while one
// runs or when the button is no longer held.
void platform_window_begin_drag(void* window, intptr_t hit);

// Data messages from other programs: the player takes the session-bus name
// platform_copy_data_name gives for its process id and exports one method
// (code, payload bytes) -> result, which runs MSG_COPY_DATA on the window
// thread. Calls from other users' connections are refused. Without a
// session bus the player simply has none.
void platform_copy_data_listen(void* window);
// The bus name of the player with this process id.
void platform_copy_data_name(int32_t pid, char* out, size_t out_size);

// The other side: a program that hands data to a running player.
struct CopyDataClient;
enum CopyDataStatus {
    COPY_DATA_OK = 0,
    COPY_DATA_NO_BUS = 1,    // no session bus to talk over
    COPY_DATA_NO_PLAYER = 2, // no player with that process id
    COPY_DATA_REFUSED = 3,   // the player refused the call
    COPY_DATA_FAILED = 4,    // anything else (message says what)
};
// A private connection to the session bus for the player with that process
// id; null (with *status and message) when there is no bus.
CopyDataClient* platform_copy_data_connect(int32_t pid, int* status, char* message, size_t message_size);
// One call; the player's result in *result.
int platform_copy_data_call(CopyDataClient* client, uint64_t code, const void* payload, size_t size,
                            int64_t* result, char* message, size_t message_size);
void platform_copy_data_close(CopyDataClient* client);

// The presentation thread's copy of a finished picture into the window, on
// its own display connection (shared memory where the server allows it).
void platform_blit(void* window, const uint8_t* bgrx, int pitch, int width, int height);
// The picture's screen image as the renderer's frame buffer (the renderer's
// buffer hook): rows of width * 4 bytes, at least bytes long. Replaces the
// image lent before; null where pictures cannot go through shared memory.
uint8_t* platform_blit_buffer(void* window, int32_t width, int32_t rows, size_t bytes);
// The desktop clipboard: format 2 an image (a ClipboardBitmap of the frame
// presentation), 13 UTF-8 text. Copies the data before it returns; non-zero
// when the clipboard took it.
int platform_clipboard_set(void* window, int format, const void* data);

// ---- window modes, the tray icon, balloons and the clock overlay ----
// Window thread, except the clock calls (presentation thread).

// The monitor holding the window (or, when that monitor is gone, the one
// nearest to it), and that monitor's work area. False without a monitor.
bool platform_window_query_monitor(void* window, WindowRect* monitor, WindowRect* work_area);
// The full-screen state hint, so that panels and docks stay below the
// window; the geometry itself is the player's own (move_resize).
void platform_window_set_fullscreen_hint(void* window, int on);
// Takes back a maximised state the window manager gave the window.
void platform_window_unmaximize(void* window);
// Keeps the window above others and off the task bar and pager (on), or not.
void platform_window_set_band(void* window, int on);
// Hides the window (to the tray); platform_window_show brings it back.
void platform_window_hide(void* window);
// Whether a Ctrl key is held now.
int platform_ctrl_held(void* window);

// The tray icon: a StatusNotifierItem when a StatusNotifierWatcher with a
// registered host is on the session bus, else an XEmbed status icon. Its
// events reach the window procedure as posted MSG_TRAY messages; when every
// tray has gone for a moment while the icon is shown, TRAY_EVENT_HOST_GONE.
// tip is UTF-8.
// Non-zero when a tray is there to show the icon now.
int platform_tray_available(void* window);
void platform_tray_show(void* window, const char* tip);
void platform_tray_hide(void* window);
void platform_tray_set_tip(void* window, const char* tip);
// The tray's balloon: a desktop notification, replacing the previous one;
// a click on it posts MSG_TRAY with TRAY_EVENT_BALLOON_CLICK. Window thread;
// never waits for the notification service.
void platform_balloon_show(void* window, const char* summary, const char* body);
void platform_balloon_close(void* window);
// The same close, waiting up to wait_ms for it to reach the desktop (at exit).
void platform_balloon_close_wait(void* window, int wait_ms);

// Presentation thread: the clock overlay, a borderless, click-through,
// per-pixel-alpha window above the main window, on the blit's own display
// connection. Shows width x height premultiplied BGRA pixels with the
// top-left corner at the screen position x, y, stacked right above the main
// window (so that other programs' windows in front of the player stay in
// front of the time); clear (in the image, or null) is left out of the
// window altogether, so that what lies below shows even without a
// compositing manager.
void platform_clock_show(void* window, const uint8_t* bgra, int64_t pitch, int32_t x, int32_t y, int32_t width,
                         int32_t height, const OsdRect* clear);
void platform_clock_hide(void* window);

// ---- the sound device ----
// A queue of PCM buffers played in order, with one
// completion report per buffer on the device's own thread. Signed 16-bit
// little-endian interleaved samples at the rate and channel count given at
// open. Four backends, chosen once per process: "pulse" (a PulseAudio server,
// or PipeWire's PulseAudio service, which says how far it has played; SDL2
// stands in where no such server answers), "sdl" (the desktop's sound server
// through SDL2), "null" (no sound, buffers consumed at real-time pace) and
// "wav:PATH" (the same pace, and what was played is written to PATH as a WAV
// file).
//
// A buffer is reported finished when its last sample has been heard: the
// backend allows for the latency of the layers below it (pulse: as the
// server reports it; sdl: one period, a guess), so that the media time a
// report carries is what the listener hears at that moment. A server that
// stops taking sound is given up for real-time pace until it takes sound
// again; what it held is reported dropped.
struct AudioDevice;

// Results of the device calls: 0 is success.
constexpr int AUDIO_DEVICE_OK = 0;
constexpr int AUDIO_DEVICE_ERROR = 1;         // closed device or bad argument
constexpr int AUDIO_DEVICE_BAD_FORMAT = 32;   // rate or channel count out of range
constexpr int AUDIO_DEVICE_STILL_PLAYING = 33;
constexpr int AUDIO_DEVICE_UNPREPARED = 34;

// Rates and channel counts a device accepts.
constexpr int32_t AUDIO_DEVICE_MIN_RATE = 8000;
constexpr int32_t AUDIO_DEVICE_MAX_RATE = 192000;
constexpr int32_t AUDIO_DEVICE_MAX_CHANNELS = 8;

// Called on the device's thread with WOM_DONE once per written buffer, in
// the order written, and with WOM_OPEN / WOM_CLOSE when the device opens
// and closes. dropped is 1 when the buffer was returned by a reset without
// being heard. Reports of a reset come on the thread that calls the reset,
// before it returns, and never overlap the device thread's own reports.
// The callback must not call the device.
using AudioDeviceCallback = void (*)(AudioDevice* device, uint32_t message, void* instance, WaveHeader* header,
                                     uintptr_t dropped);

// "pulse", "sdl", "null" or "wav:PATH". Returns 1 when the text names a
// backend, 0 otherwise (the backend stays what it was). Process-wide; the
// default is "sdl".
int audio_device_select(const char* choice);
// The backend that devices open with now: "pulse", "sdl", "null" or "wav".
const char* audio_device_backend();

// Opens a device for 16-bit PCM. channel_mask names the speaker of each
// channel (bit 0 front left, 1 front right, 2 front centre, 3 low frequency,
// Back left, 5 back right, 8 back centre, 9 side left, 10 side right), in
// that bit order; the sdl backend places the channels where the sound
// library expects them. Returns null when the device cannot be opened.
AudioDevice* audio_device_open(int32_t rate, int32_t channels, uint32_t channel_mask, AudioDeviceCallback callback,
                               void* instance);
int audio_device_prepare(AudioDevice* device, WaveHeader* header);
// AUDIO_DEVICE_STILL_PLAYING while the header is queued.
int audio_device_unprepare(AudioDevice* device, WaveHeader* header);
// Queues a prepared header behind the ones already queued.
int audio_device_write(AudioDevice* device, WaveHeader* header);
// Drops every queued buffer; each is reported (dropped = 1) before this returns.
int audio_device_reset(AudioDevice* device);
// Pause holds the position; restart continues from it.
int audio_device_pause(AudioDevice* device);
int audio_device_restart(AudioDevice* device);
// AUDIO_DEVICE_STILL_PLAYING while buffers are queued; the device stays open.
// A closed device record stays valid memory: every later call on it fails
// cleanly with AUDIO_DEVICE_ERROR.
int audio_device_close(AudioDevice* device);
// Closes every open device, completes the WAV file and lets go of the sound
// library. Called at exit; a device opened afterwards starts afresh.
void audio_device_shutdown(void);

// The latency below the device that reports allow for, in nanoseconds
// (0 for the null and wav backends; for pulse what the server says a
// sample written now waits).
int64_t audio_device_latency_ns(AudioDevice* device);
// What the listener hears now: the buffer being heard, how many of its
// sample frames have been heard, and the rate they play at. 0 while none of
// the device's buffers is being heard: none written, paused, the sound ran
// out, a sound server that has not said yet where it plays.
int audio_device_position(AudioDevice* device, const WaveHeader** header, uint32_t* frames, int32_t* rate);
// Rate and channel count the device plays at; 0 when closed.
int32_t audio_device_rate(AudioDevice* device);
int32_t audio_device_channels(AudioDevice* device);
// The WAV file the current or last wav device writes, or an empty string.
const char* audio_device_wav_path(void);

// ---- input and commands ----
void platform_window_minimize(void* window);
// Shows the file at an absolute path in the desktop's file manager (its
// folder opened where no file manager answers the session bus). Returns at
// once; 0 when the request was not taken (not an absolute path, too many
// still running). Any thread; needs no window.
int platform_show_file(const char* path);
// The key code (core/key_codes.h) of an X key symbol (GDK's key values):
// keypad digits, Enter and arrows count as the main keys, letters of either
// case as the letter; KEY_NONE for a symbol the player has no use for.
int32_t key_code_of_keysym(uint32_t keysym);
// The key symbol of a key name as X spells it ("space", "Left", "Prior",
// "a", "XF86AudioNext"...); 0 for an unknown name.
uint32_t keysym_of_name(const char* name);
// ---- hot keys, timers, screensaver and sleep, the media-player interface ----
// Window thread only.

// Binds (on 1) or unbinds (0) the twelve Ctrl+Alt hot keys: M, R, B, Page
// Up, N, Page Down, P, S, Left, Right, Up, Down. A press reaches the window
// procedure as MSG_HOTKEY with the key's code. A key another program holds
// stays unbound without a word. Returns how many keys are bound now.
constexpr int PLATFORM_HOTKEY_COUNT = 12;
int platform_hotkeys_bind(void* window, int on);

// Timer `number` (0 to 7) delivers MSG_TIMER with its number every
// period_ms until it is stopped; starting it again restarts the period.
void platform_timer_start(void* window, unsigned number, unsigned period_ms);
void platform_timer_stop(void* window, unsigned number);

// A message box with an information icon, owned by the window; it does not
// stop the window's loop.
void platform_show_information(void* window, const char* title, const char* text);

// Holds the screensaver, display power-off and idle sleep off (on 1) or lets
// them go (0): the desktop's screensaver service, a logind block inhibitor
// and the X server's screensaver. Never waits for a bus; a missing service
// is told once on stderr and the player goes on without it.
void platform_power_block(void* window, int on);
// The exit: lets everything go now, waiting at most half a second for the
// screensaver service.
void platform_power_release_at_exit(void* window);

// The desktop media-player interface (MPRIS 2): the player's state as the
// window reads it, and the actions the interface asks of the window.
enum MprisStatus { MPRIS_STOPPED = 0, MPRIS_PLAYING = 1, MPRIS_PAUSED = 2 };

constexpr size_t MPRIS_TAG_BYTES = 259 * 3 + 1;
struct MprisState {
    int32_t status;
    int64_t position_us;
    int64_t length_us;
    int32_t volume;  // 0 to 300
    uint32_t track;  // the open item's number (a new one with every item opened); 0 when none
    int32_t seeking; // a seek is being carried out
    int32_t can_play, can_pause, can_seek, can_go_next, can_go_previous;
    char title[DISPLAY_NAME_UNITS * 3]; // UTF-8
    char path[MEDIA_PATH_UNITS * 3];    // the item's path or location as the playlist has it
    // The item's tags (UTF-8, empty when it has none) and its cover picture
    // as a local file (empty when none).
    char artist[MPRIS_TAG_BYTES], album[MPRIS_TAG_BYTES], album_artist[MPRIS_TAG_BYTES];
    char genre[MPRIS_TAG_BYTES], date[MPRIS_TAG_BYTES];
    int32_t track_number; // 0 when none
    char art_path[MEDIA_PATH_UNITS * 3];
};

enum MprisAction {
    MPRIS_RAISE, MPRIS_QUIT, MPRIS_PLAY, MPRIS_PAUSE, MPRIS_PLAY_PAUSE, MPRIS_STOP, MPRIS_NEXT,
    MPRIS_PREVIOUS,
    MPRIS_SEEK_BY,      // value: offset in microseconds
    MPRIS_SET_POSITION, // value: position in microseconds, within the track
    MPRIS_SET_VOLUME,   // value: level 0 to 300
    MPRIS_OPEN,         // path: a local file to add and play
};

struct MprisHooks {
    void* user;
    void (*read_state)(void* user, MprisState* state);
    // Carries out one action on the window thread; 0 when done, -1 when
    // refused (nothing changed).
    int (*act)(void* user, int action, int64_t value, const char* path);
};

// Owns org.mpris.MediaPlayer2.moravista.instance<pid> on the session bus
// once it is connected, and announces changes of the state every 200 ms.
void platform_mpris_start(void* window, const MprisHooks* hooks);
// Announces a change of the state now rather than at the next poll (an
// item opened, its tags or cover came); nothing before the interface is on
// the bus.
void platform_mpris_announce(void* window);
// ---- hardware decoding and GPU presentation ----

// A modal error box owned by the window (window thread); without a window
// the caption and text go to stderr.
void platform_message_box(void* window, const char* caption, const char* text);
// The presentation thread's own display connection (an Xlib Display*) and
// the picture's child window, for drawing with OpenGL; false while the
// window has no picture child yet or the display cannot be opened.
bool platform_picture_target(void* window, void** native_display, unsigned long* native_window);
