// The door to the platform layer: the only code that talks to the desktop.
// Everything above calls these plain functions; the platform calls back only
// through the callbacks it is given.
#pragma once
#include <cstdint>

#include "core/core.h"

// Menus are opaque handles above this layer.
void platform_menu_set_check(void* menu, int command_id, int checked);
// Ends the menu tracking of the window (the cancel-mode message).
void platform_menu_cancel_tracking(void* window);
void platform_menu_destroy(void* menu);

// ---- the desktop window ----
// The program's window entry is run_player_window in ui/ui.h; it uses the
// calls below. Everything here runs on the window thread except
// platform_send_message, platform_post_message, platform_blit (the
// presentation thread) and platform_clipboard_set (any thread).

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

// ---- the sound device ----
// A queue of PCM buffers played in order, with one
// completion report per buffer on the device's own thread. Signed 16-bit
// little-endian interleaved samples at the rate and channel count given at
// open. Three backends, chosen once per process: "sdl" (the desktop's sound
// server through SDL2), "null" (no sound, buffers consumed at real-time pace)
// and "wav:PATH" (the same pace, and what was played is written to PATH as a
// WAV file).
//
// A buffer is reported finished when its last sample has been heard: the
// backend allows for the latency of the layers below it, so that the media
// time a report carries is what the listener hears at that moment.
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

// "sdl", "null" or "wav:PATH". Returns 1 when the text names a backend, 0
// otherwise (the backend stays what it was). Process-wide; the default is
// "sdl".
int audio_device_select(const char* spec);
// The backend that devices open with now: "sdl", "null" or "wav".
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
// (0 for the null and wav backends).
int64_t audio_device_latency_ns(AudioDevice* device);
// Rate and channel count the device plays at; 0 when closed.
int32_t audio_device_rate(AudioDevice* device);
int32_t audio_device_channels(AudioDevice* device);
// The WAV file the current or last wav device writes, or an empty string.
const char* audio_device_wav_path(void);

// ---- hardware decoding and GPU presentation ----

// A modal error box owned by the window (window thread); without a window
// the caption and text go to stderr.
void platform_message_box(void* window, const char* caption, const char* text);
// The presentation thread's own display connection (an Xlib Display*) and
// the picture's child window, for drawing with OpenGL; false while the
// window has no picture child yet or the display cannot be opened.
bool platform_picture_target(void* window, void** native_display, unsigned long* native_window);
