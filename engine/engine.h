// The playback engine's door: the player context's life and the engine
// threads. The window thread drives the engine only by writing the request
// fields of the context; the engine answers through MSG_PLAYLIST.
#pragma once
#include <cstdint>

struct PlayerContext;

// Allocates a zeroed context behind its window header (never freed in the
// program; tests free it).
PlayerContext* player_context_new();
void player_context_free(PlayerContext* ctx);

// Fills in every default, creates the OSD libass objects and quietens
// FFmpeg's log; starts no thread. Tests use it alone.
void player_setup(PlayerContext* ctx);
// player_setup, then starts the media, decoder and presentation threads in
// that order. Returns the context, or null when a thread could not be
// started (the program cannot play then and should say so and end).
PlayerContext* player_init(PlayerContext* ctx);

using ThreadRoutine = void (*)(PlayerContext*);
// Starts a detached thread: engine threads are never joined. False when the
// system could not make it (no memory or address space left).
bool start_thread(PlayerContext* ctx, ThreadRoutine routine);

// Window runs: what the first picture does not need (the OSD renderer's
// fonts) is set up after it, on a helper thread of low priority. False when
// the thread could not be made.
bool start_deferred_setup(PlayerContext* ctx);
// Window runs, before the window is made: the media thread opens and probes
// this file (the first of the command line) while it waits for the window's
// first request, which takes it over when it names the same file.
void open_early(PlayerContext* ctx, const char* path);
// The OSD renderer's fonts, set up once whoever asks first (any thread;
// later callers wait until it is done). Whoever renders with the OSD
// renderer calls it first, or checks osd_fonts_ready.
void osd_fonts_setup(PlayerContext* ctx);

// The engine threads other than the decoder's (decode/), started by player_init.
void media_thread(PlayerContext* ctx);
void presentation_thread(PlayerContext* ctx);

// The item's description texts are plain text that frame presentation reads
// while it draws. A thread that rewrites them holds presentation: the hold
// returns once no drawing pass that could have missed it is still running,
// and drawing resumes (with what was asked meanwhile) at the release.
void hold_presentation(PlayerContext* ctx);
void release_presentation(PlayerContext* ctx);
// Waits until no drawing is in progress (at most about 1 s).
void wait_for_drawing(PlayerContext* ctx);
