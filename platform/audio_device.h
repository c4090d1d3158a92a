// The sound device: a queue of PCM buffers played in order, with one
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
#pragma once
#include <atomic>
#include <cstdint>

struct AudioDevice;

// Messages to the completion callback.
constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

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

// One buffer handed to the device. The owner fills data and buffer_length
// while the header is not queued; the device reads them only between
// audio_device_write and the buffer's completion report.
struct WaveHeader {
    uint8_t* data;
    uint32_t buffer_length;       // bytes
    std::atomic<uint32_t> flags;  // WHDR_*; the device sets DONE and clears INQUEUE
    // The device's own bookkeeping while the header is queued.
    WaveHeader* next;
    uint32_t bytes_played;
    int64_t heard_ns; // CLOCK_MONOTONIC time at which the last sample is heard
};

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
// 4 back left, 5 back right, 8 back centre, 9 side left, 10 side right), in
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
