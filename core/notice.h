// Notices, the redraw request and the window title: callable from any thread.
#pragma once
#include <cstddef>

struct PlayerContext;

// Formats a notice (printf-style, UTF-8) of at most 519 UTF-16 units and
// shows it for about three seconds, or as the tray's balloon for about 5.6 s
// while the window is hidden in the tray.
void show_notice(PlayerContext* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The presentation thread's countdown of the notice has ended: a balloon
// shown for it is closed.
void notice_countdown_ended(PlayerContext* ctx);
// Copies the current notice text into out; returns its length (0: none).
size_t notice_copy(PlayerContext* ctx, char* out, size_t out_size);
// Asks presentation to redraw, unless a copy request is pending or the
// window is not visible.
void request_redraw(PlayerContext* ctx);

// Lets the desktop layer observe notices (balloons, logs); null by default.
using NoticeHook = void (*)(PlayerContext* ctx, const char* text);
void set_notice_hook(NoticeHook hook);
// Observers besides the hook (the statistics of a run); at most 4, for the
// life of the process.
void add_notice_observer(NoticeHook observer);
