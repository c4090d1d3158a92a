// Decoding and sound output's door.
//
// The decoder thread turns packets into pictures, sound chunks and
// subtitles. The audio output drives the sound device with its ring of
// eight buffers, volume and the automatic gain: the media thread opens the
// device for an item's audio stream, the presentation thread hands it
// chunks, the window thread sets the volume and pauses or restarts it, and
// the device's thread reports each finished buffer through
// audio_done_callback.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/core.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;
struct AVFrame;
struct PlayerContext;

// The state of the automatic gain: gain x 10000 in 1/256 units. Starts at
// 560 000 (gain 256, the level unchanged) and is never reset. Only the
// presentation thread changes it.
extern std::atomic<uint32_t> auto_gain_level;
constexpr uint32_t AUTO_GAIN_START = 2560000;

// Chooses the sound backend for the process: "sdl", "null" or "wav:PATH".
// Returns 0 for an unknown text. Called once at start-up.
int audio_select_backend(const char* choice);
// Closes the device and completes the WAV file. Called at exit.
void audio_shutdown(void);

// Opens the device for the stream's rate and channel count (more than six
// channels play as six); 1 when open, 0 when the item has to play without
// sound. An open device with the same format is only reset. Media thread,
// while the audio slot is drained.
int audio_open(AudioOutput* out, AVCodecContext* codec);
// The same for a rate and channel count given directly.
int audio_open_format(AudioOutput* out, int32_t rate, int32_t channels);
// The speaker mask of the layout the decoder converts to for this many
// channels (1..6), 0 otherwise.
uint32_t audio_channel_mask(int32_t channels);

// Level 0..300 (larger values count as 300). Window thread.
void audio_set_volume(AudioOutput* out, uint32_t level);
// Queues one published chunk: the device takes the entry's buffer and the
// entry gets back the buffer the header held before (no copy). The caller
// passes next = (header_write + 1) & 7 and only when it differs from
// header_done. Presentation thread only.
void audio_write(AudioOutput* out, FrameEntry* entry, uint32_t next_header);
void audio_pause(AudioOutput* out);
void audio_restart(AudioOutput* out);
// The media time the listener hears now, from the device's own position;
// false while none of the sound is heard (none written, paused, the sound
// ran out, a sound server that has not told yet). Any thread.
bool audio_heard_ms(AudioOutput* out, int32_t* media_ms);
// Drops every queued buffer, each reported finished before it returns, and
// clears audio_clock_ms.
void audio_reset(AudioOutput* out);
// Frees the buffers the ring holds; only once the device is closed or reset
// (tests and teardown).
void audio_free_buffers(AudioOutput* out);
// Closes the device (its queued buffers reported first), frees the resampler
// and the ring's buffers. For freeing the record that holds the output: the
// device thread never touches the record afterwards.
void audio_release(AudioOutput* out);

// The device's completion callback; instance is the AudioOutput.
void audio_done_callback(AudioDevice* device, uint32_t message, void* instance, WaveHeader* header,
                         uintptr_t dropped);

// In place, on each complete group of eight samples among the first count:
// s = (s * gain + 128) >> 8, saturated to 16 bits. Trailing samples are left
// as they are. Gains above 32767 count as 32767. SSE2; 16-byte-aligned
// buffers take the aligned path.
void apply_gain(int16_t* samples, uint32_t gain, int32_t count);
void apply_gain_reference(int16_t* samples, uint32_t gain, int32_t count);
// Largest of s and -1 - s over the complete groups of eight samples; 0 for none.
int32_t chunk_peak(const int16_t* samples, int32_t count);
int32_t chunk_peak_reference(const int16_t* samples, int32_t count);
// One step of the automatic gain for a chunk with this peak and duration:
// returns the gain to apply (0: leave the chunk as it is) and moves *level.
uint32_t auto_gain_step(uint32_t* level, int32_t peak, int32_t dur_ms);
// The automatic gain on a chunk of the output's format, with auto_gain_level.
void auto_gain(AudioOutput* out, uint8_t* data, int32_t bytes);

// ---- the decoder thread ----

// Started by player_init; runs for the life of the process.
void decoder_thread(PlayerContext* ctx);

// In-place RGBA -> premultiplied BGRA over a picture's bytes (SSE2), as
// pictures with transparency are published.
void rgba_to_premultiplied_bgra(uint8_t* data, int64_t bytes);
// The same, one pixel at a time: the reference the SSE2 version must match.
void rgba_to_premultiplied_bgra_scalar(uint8_t* data, int64_t bytes);

// ---- hardware decoding ----
// The device is made once per process (VAAPI on the first render node that
// initialises, else CUDA) and released when nothing with a picture plays.
// Decoders negotiate device frames through hw_get_format; every failure
// falls back to software decoding.

struct HwDecodeState;
struct AVCodec;
struct AVStream;

// Starts at 1; 0 once the device could not be made for a stream, so that
// no later stream tries again until the user switches the option on.
extern std::atomic<int32_t> hw_usable;

// 1 when the device exists afterwards, else 0. Media and window threads.
int hw_device_init(PlayerContext* ctx);
// 1 when hardware decoding can be set up; records the result in hw_usable.
// Called when a video stream is opened and when the user switches the
// option on.
int hw_service_init(PlayerContext* ctx);
// Lets go of the device (frames still holding it keep it alive). Media thread.
void hw_device_release(PlayerContext* ctx);
// "vaapi" or "cuda" while a device exists, else null.
const char* hw_device_name();

// Opening a video stream (media thread): applies the eligibility rule
// (option_on: the "硬解" setting) and,
// when the stream may be decoded on the device, makes the device and sets
// the decoder up for it (one thread, hw_get_format). Returns whether it did.
bool hw_decoder_prepare(PlayerContext* ctx, const AVStream* stream, AVCodecContext* codec, int32_t option_on);
// A decoder in software tells the context when it could not get memory
// for a picture or a sound buffer (its decoding call may only say the data
// was bad). Before the decoder is opened.
void decoder_note_memory(PlayerContext* ctx, AVCodecContext* codec);
// Whether the decoder was set up for the device (it may still decode in
// software when the negotiation fell back).
bool hw_decoder_armed(const AVCodecContext* codec);
// Whether the decoder's last negotiation made a surface pool.
bool hw_decoder_on_device(const AVCodecContext* codec);
// After the decoding context is freed: drops its pool reference and frees
// the record kept in its opaque pointer.
void hw_decoder_release(void* opaque);
// "software", "vaapi" or "cuda": what decoded this picture.
const char* hw_frame_decoder_name(const AVFrame* frame);

// FFmpeg's callbacks (decoder thread, inside decoding).
AVPixelFormat hw_get_format(AVCodecContext* codec, const AVPixelFormat* formats);
int hw_get_buffer(AVCodecContext* codec, AVFrame* frame, int flags);
void hw_surface_release(void* opaque, uint8_t* data);
// Drops one reference; the last releases the surfaces and frees the state.
void hw_state_unref(HwDecodeState* state);

// A decoder that failed on the device (surfaces exhausted, device lost)
// asks the demux loop to reopen the stream in software through this flag.
bool hw_fallback_wanted(PlayerContext* ctx);
