// The window header that sits in front of the player context in the one
// block the program allocates at start-up.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/player_context.h"
#include "core/window_types.h"

struct WindowDesktop;
struct DesktopServices;
struct IntakeQueue;

struct MainWindow {
    void* handle;                      // the platform window, null headless
    std::atomic<int32_t> cursor_hidden;
    std::atomic<int32_t> mouse_tracking;
    std::atomic<int32_t> idle_ticks;
    int32_t client_width;
    int32_t client_height;
    int32_t exit_code;

    // Window thread only from here on: the window's place on the desktop.
    const WindowDesktop* desktop; // what moves and shows the window; null headless
    int32_t screen_mode;          // 0 windowed, 1 full screen, -1 maximised to the work area
    int32_t screen_width;         // primary screen size in pixels
    int32_t screen_height;
    WindowRect work_area;         // the screen minus panels and docks
    int64_t last_mouse_pos;       // last pointer-move arguments; repeats are ignored
    // Where the window is, as last reported; the presentation thread reads
    // them to place the clock overlay.
    std::atomic<int32_t> window_screen_x;
    std::atomic<int32_t> window_screen_y;
    std::atomic<int32_t> window_screen_width;
    WindowRect normal_rect;       // last rectangle in windowed mode: what settings save

    // The item label of the title; the media thread writes it while opening.
    SpinLock label_lock;
    char item_label[270 * 3 + 1]; // UTF-8, at most 270 UTF-16 units

    // ---- moving and sizing (window thread only) ----
    // How far a move holds the window back from the pointer at each
    // work-area edge (left, top, right, bottom) while it sticks there.
    int32_t snap_held[4];
    // ---- window modes and the tray ----
    // 0 while the window is not hidden in the tray, TRAY_ICON_SHOWN while it
    // is, TRAY_BALLOON_SHOWN while a notice shows as a balloon. The window
    // thread moves it to and from 0; show_notice and the end of a notice's
    // countdown (any thread) move it between the two others.
    std::atomic<int32_t> tray_flags;
    int32_t minimised_for_tray;     // window thread: minimised because no tray was there to hide it in
    WindowRect saved_placement;     // the windowed rectangle, taken when a screen mode is entered
    WindowRect previous_normal_rect; // normal_rect before its last change (a maximise by the desktop may come after its resize)
    // Hot keys, screensaver and sleep, the media-player interface (window
    // thread only).
    const DesktopServices* services; // null headless
    int32_t power_blocking;          // 1 while the screensaver and sleep are held off
    // Files that came in and wait for their folders to be listed on another
    // thread (ui/, window thread only); null until the first.
    IntakeQueue* intake;
};

constexpr int32_t TRAY_ICON_SHOWN = 7;
constexpr int32_t TRAY_BALLOON_SHOWN = 23;

// The block: header first, then the context.
struct AppBlock {
    MainWindow window;
    PlayerContext player;
};

MainWindow* main_window_of(PlayerContext* ctx);
