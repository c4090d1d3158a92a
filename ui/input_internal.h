// The window procedure's input work, shared by the files of the window
// shell that handle keys, the mouse and the commands (and by their tests).
// Window thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/core.h"

// ---- screen regions ----
enum ScreenRegion {
    REGION_PICTURE = 0,
    REGION_LEFT_STRIP = 1,
    REGION_RIGHT_STRIP = 2,
    REGION_PROGRESS = 3,
    REGION_TOP_BAR = 4,
    REGION_CLOSE = 5,
    REGION_MAXIMIZE = 6,
    REGION_MINIMIZE = 7,
};
// The region under client point x, y of a width x height window.
int32_t screen_region(int32_t x, int32_t y, int32_t width, int32_t height);
// The media time under x on the progress bar: (duration - 1) x (x - 4) /
// (width - 8), limited to 0 .. duration - 1; 0 without a duration.
int32_t progress_position_ms(int32_t duration_ms, int32_t x, int32_t width);

// ---- the named actions (input_actions.cpp) ----
PlayerContext* context_of(MainWindow* w);
// Space: play/pause, then the pointer idle count starts again.
void action_play_pause(MainWindow* w);
// Every key and pointer move: the idle count starts again and a hidden
// pointer shows.
void action_wake_pointer(MainWindow* w);
// A seek to target (at most the 32-bit range) in the direction given
// (SEEK_KEEP_FORWARD: the one asked for last); nothing without an item,
// where a seek would stay pending until the next one opens and every arrow
// key meanwhile would be held and dropped.
void action_seek_to(PlayerContext* ctx, int64_t target_ms, int32_t forward = SEEK_KEEP_FORWARD);
// seek_target_ms = position + seconds, not below 0; nothing without an item.
void action_seek_by(PlayerContext* ctx, int32_t seconds);
// One frame duration (300 ms without video) back or forward, paused;
// mode becomes seek_forward.
void action_frame_step(PlayerContext* ctx, int32_t direction, int32_t mode);
// Volume up or down by 10 within 0 .. 300, with its notice.
void action_volume_step(PlayerContext* ctx, int up);
// The label of the volume notice.
const char* volume_label(int32_t level);
// Shift+Page Up / Page Down: the chapter to go to, or -1.
int32_t chapter_step_target(const Chapter* chapters, uint32_t count, int32_t clock_ms, int forward);
void action_chapter_step(MainWindow* w, int forward);
// Command 3022 + index: the chapter's start, landing on the key frame at or
// before it; nothing for an index outside the list.
void action_go_to_chapter(PlayerContext* ctx, int64_t index);
// The exit sequence: settings written, desktop state restored, exit code 0.
void action_exit(MainWindow* w);

// ---- message handlers ----
intptr_t on_key_down(MainWindow* w, int32_t key, intptr_t modifiers);
intptr_t on_sys_key_down(MainWindow* w, int32_t key, intptr_t modifiers);
intptr_t on_hotkey(MainWindow* w, int32_t key);
intptr_t on_mouse_move(MainWindow* w, uintptr_t state, intptr_t position);
intptr_t on_mouse_leave(MainWindow* w);
intptr_t on_mouse_button(MainWindow* w, unsigned msg, uintptr_t state, intptr_t position);
intptr_t on_mouse_wheel(MainWindow* w, intptr_t turn);
intptr_t on_command(MainWindow* w, int32_t id, intptr_t b);
intptr_t on_sys_command(MainWindow* w, uintptr_t command);

// ---- copying the subtitle text (C, command 1016) ----
// The raw text of every event of track that shows at clock_ms, in track
// order, joined by CR LF, as UTF-8 of at most limit_units UTF-16 units.
size_t subtitle_text_at(const ASS_Track* track, int32_t clock_ms, char* out, size_t out_size, size_t limit_units);
// Copies it to the clipboard and shows the notice; 1 when it was copied.
int copy_subtitle_text(PlayerContext* ctx);

// ---- the size keys 1 to 5 ----
// The window rectangle for digit (1..5): digit x video_height / 2 pixels
// high at the display aspect, inside the work area, placed by the edges it
// touched. False when there is nothing to size to.
bool size_key_rect(const WindowRect* window, const WindowRect* work, int32_t digit, int32_t video_height,
                   uint32_t aspect_width, uint32_t aspect_height, WindowRect* out);
void size_window_to_video(MainWindow* w, int32_t digit);

// ---- the current file in the file manager ----
void show_current_file(PlayerContext* ctx);
// Where the path goes (tests); null: the desktop's file manager.
void show_file_set_handler(int (*handler)(const char* path));
