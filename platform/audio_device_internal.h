// The sound device's own record and what its backends share. Internal to
// platform/: the rest of the program sees platform/platform.h.
//
// One mutex per device serialises the writer, the feeder, the reporter and
// the control calls; completion reports are made while holding it, so the
// reports of a reset and those of the device thread never overlap or reorder.
// The pulse backend's event loop has a lock of its own, always taken before
// the device's (its callbacks run holding it).
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <pthread.h>

#include "platform/platform.h"

// BACKEND_PULSE is asked for; a device opens with BACKEND_SDL in its place
// where no PulseAudio server answers.
enum AudioBackend { BACKEND_SDL = 0, BACKEND_NULL = 1, BACKEND_WAV = 2, BACKEND_PULSE = 3 };

struct PulseLink;

// Sizes in the RIFF header are 32-bit; sound beyond this is not written, so
// the file stays valid.
constexpr uint32_t WAV_MAX_DATA_BYTES = 0xFFFFFF00u;

struct WavFile {
    int fd;
    int32_t rate;
    int32_t channels;
    uint32_t mask;
    uint32_t header_bytes;
    uint32_t data_bytes;
    AudioDevice* owner; // the open device writing it, or null
};

struct AudioDevice {
    std::mutex lock;
    std::condition_variable wake;
    pthread_t thread;
    int thread_running; // joined when the device closes
    AudioDevice* next_record; // every record ever made; records are reused, never freed
    int in_use;               // guarded by the process lock

    // Guarded by lock.
    int open;
    int quit;
    int backend;
    int paused;
    int32_t rate;
    int32_t channels;
    int32_t block_align;
    AudioDeviceCallback callback;
    void* instance;
    WaveHeader* queue_head; // written, not yet completely played (or fed)
    WaveHeader* queue_tail;
    WaveHeader* heard_head; // completely played or fed, waiting for heard_ns
    WaveHeader* heard_tail;
    // Real-time pace of the null and wav backends: frames_played advances
    // from base_frames at the device rate since base_ns while pacing is 1.
    int pacing;
    int64_t base_ns;
    uint64_t base_frames;
    uint64_t frames_played;
    WavFile* wav;
    // sdl backend.
    uint32_t sdl_id; // SDL_AudioDeviceID
    int32_t sdl_channels;
    int32_t sdl_align;
    int identity_map;
    int8_t channel_map[AUDIO_DEVICE_MAX_CHANNELS]; // SDL position -> our channel, -1 silent
    int64_t latency_ns;
    // When SDL stops asking for sound (the sound server went away), the
    // device goes on at real-time pace without sound, so the item still
    // plays to its end.
    int64_t last_feed_ns;
    int lost;
    // While lost: when the device thread next looks whether the library has
    // given the device up, in which case it opens a new one.
    int64_t next_reopen_check_ns;
    // pulse backend: made with the record's first pulse device and kept for
    // the record's life, so that a call racing a close never meets a freed
    // event loop. Its fields are guarded by the loop's lock.
    PulseLink* pulse;
};

// A buffer handed to a sound server that tells its own position is heard
// when the server says so, not at a time known in advance.
constexpr int64_t HEARD_WHEN_SERVER_SAYS = INT64_MAX;

// The process-wide side of the device: the backend choice, the device
// records and the WAV file.
struct Process {
    std::mutex lock;
    int backend = BACKEND_SDL;
    std::string wav_path;    // as given with "wav:"
    std::string wav_current; // the file being written
    int wav_files = 0;       // files made so far
    WavFile wav = {-1, 0, 0, 0, 0, 0, nullptr};
    AudioDevice* records = nullptr;
};

Process& process();

int64_t monotonic_ns();

// ---- the queues of a device (under its lock) ----
void append(WaveHeader** head, WaveHeader** tail, WaveHeader* h);
WaveHeader* pop(WaveHeader** head, WaveHeader** tail);
// Marks the buffer done and tells the owner.
void report(AudioDevice* d, WaveHeader* h, uintptr_t dropped);
// Whether the device consumes its queue itself at real-time pace (null and
// wav, and sdl or pulse while the sound server does not take sound).
bool paced(const AudioDevice* d);
// Reports, in order, the buffers at the front of the heard queue whose time
// has come.
void report_heard(AudioDevice* d, int64_t now);

// ---- real-time pacing (audio_paced.cpp) ----
int64_t frames_to_ns(const AudioDevice* d, uint64_t frames);
uint64_t frames_left(const AudioDevice* d, const WaveHeader* h);
void start_pacing(AudioDevice* d, int64_t now);
// Consumes what real time has played since the last call.
void pace(AudioDevice* d, int64_t now);

// ---- the WAV file (audio_wav.cpp) ----
void wav_append(WavFile* w, const uint8_t* data, uint32_t bytes);
void wav_end(WavFile* w);
// Under the process lock: the file this device records into, or null.
WavFile* wav_acquire(AudioDevice* d, uint32_t mask);

// ---- the sdl backend (audio_sdl.cpp) ----
// SDL's channel layout for the speaker mask.
void map_channels(AudioDevice* d, uint32_t mask);
// Opens the SDL device for the record and starts it; 0 when it cannot.
int sdl_open(AudioDevice* d);
void sdl_close(uint32_t sdl_id);
// Whether the library has given up the device (its sound server went away).
bool sdl_device_gone(uint32_t sdl_id);
// Opens a new device for the record's format, paused, making a new
// connection to the sound server when it takes one; 0 when none opens yet.
uint32_t sdl_reopen(AudioDevice* d, int64_t* latency_ns);
void sdl_start(uint32_t sdl_id);
// Lets go of the sound library (at exit).
void sdl_shutdown();
// Where the sdl backend's listener is at time now: the buffer and the bytes
// of it heard; false while none is being heard.
bool sdl_position(const AudioDevice* d, int64_t now, const WaveHeader** header, uint32_t* bytes);

// ---- the pulse backend (audio_pulse.cpp) ----
// The loop's lock, taken before the device's by every call that may reach
// the server; nothing for a record that never played through pulse.
struct PulseHold {
    explicit PulseHold(AudioDevice* d);
    ~PulseHold();
    PulseHold(const PulseHold&) = delete;
    PulseHold& operator=(const PulseHold&) = delete;
    PulseLink* link;
};
// Connects to the sound server and opens a stream for the record's format,
// waiting up to two seconds; 0 when no server answers (nothing is left open).
int pulse_open(AudioDevice* d, uint32_t channel_mask);
// Under both locks from here on.
void pulse_close(AudioDevice* d);
// Hands the server as much of the queue as it takes now.
void pulse_fill(AudioDevice* d);
// After a reset: what the server holds is dropped.
void pulse_flush(AudioDevice* d);
void pulse_pause(AudioDevice* d, bool paused);
bool pulse_position(AudioDevice* d, int64_t now, const WaveHeader** header, uint32_t* bytes);
// The device thread's turn, under the device lock only (it takes the loop's
// lock itself): reports what the server says has been heard, gives a
// stalled or vanished server up for real-time pace and goes back to it when
// it answers again. Returns when to come back (-1: on the next event).
int64_t pulse_service(AudioDevice* d, std::unique_lock<std::mutex>* hold, int64_t now);
// What the server says a sample written now waits before it is heard.
int64_t pulse_latency_ns(AudioDevice* d);
