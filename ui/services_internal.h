// The desktop services of the window (hot keys, timers, the information
// box, screensaver and sleep blocking, trimming, the media-player
// interface) as the window code reaches them: through a table, so that
// tests drive them without a display or a bus.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "ui/ui_internal.h"

struct DesktopServices {
    void* handle;
    int (*bind_hotkeys)(void* handle, int on);
    void (*timer_start)(void* handle, unsigned number, unsigned period_ms);
    void (*timer_stop)(void* handle, unsigned number);
    void (*show_information)(void* handle, const char* title, const char* text);
    void (*power_block)(void* handle, int on);
    void (*power_release_at_exit)(void* handle);
};

// Connects the window to the desktop's services (run_main_window): the
// table, the media-player interface, and the release of the screensaver and
// sleep among the exit steps.
void desktop_services_start(MainWindow* w);
// The same with a table of the caller's (tests); null: none, as headless.
void desktop_services_use(MainWindow* w, const DesktopServices* services);
// The settings' hook for "开启热键" found on.
void register_hotkeys_hook(PlayerContext* ctx);

// MSG_MEDIA_STATE: an item opened with or without video, or playback stopped.
void media_state_changed(MainWindow* w, int state);
// MSG_TRIM_SOON: starts timer 0 (without a desktop, trims at once).
void trim_soon(MainWindow* w);
// MSG_TIMER: timer 0 trims once and stops.
void window_timer_elapsed(MainWindow* w, unsigned number);

// The help text of the hot keys, as the information box shows it.
extern const char HOTKEY_HELP_TITLE[];
extern const char HOTKEY_HELP_TEXT[];

// What trim_working_set does; null puts back the real trim (tests count).
void set_trim_hook(void (*hook)());

// The window's timer 0: trim once, a second after the engine asked.
constexpr unsigned TRIM_TIMER = 0;
constexpr unsigned TRIM_DELAY_MS = 1000;
// The window's timer 1, with --stats only: how long the loop is held.
constexpr unsigned HOLD_TIMER = 1;
constexpr unsigned HOLD_PERIOD_MS = 10;

// ---- the media-player interface's side in the window (remote_control.cpp) ----
// The state the interface reports.
void remote_read_state(MainWindow* w, MprisState* state);
// What the interface tells of the open item beyond its place and length
// (remote_tags.cpp): the title (the entry's own, else the tags'; left empty
// without either), the tags and the cover file, as the engine described them.
void remote_read_tags(PlayerContext* ctx, const PlaylistEntry* entry, MprisState* state);
// One action of the interface, through the window's named actions; 0 when
// done, -1 when refused.
int remote_act(MainWindow* w, int action, int64_t value, const char* path);
