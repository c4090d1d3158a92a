// The sound output record as the player context embeds it: the device's
// buffer headers, the ring of eight buffers, volume and the audio clock.
// The functions that work on it live in decode/ (the output) and platform/
// (the device).
#pragma once
#include <atomic>
#include <cstdint>

struct AudioDevice;
struct SwrContext;

// Messages to the completion callback.
constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

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
    int64_t stream_pos; // where byte 0 lies in a sound server's stream (pulse)
};

constexpr uint32_t AUDIO_HEADER_COUNT = 8;
constexpr uint32_t AUDIO_HEADER_MASK = AUDIO_HEADER_COUNT - 1;
constexpr int32_t AUDIO_MAX_CHANNELS = 6;
// The volume level at which the automatic gain runs, and the unchanged level.
constexpr uint32_t VOLUME_AUTO_GAIN = 110;
constexpr uint32_t VOLUME_UNCHANGED = 100;
constexpr uint32_t VOLUME_MAX = 300;

// One buffer of the device ring: the device's header, then what the output
// keeps beside it. Between two uses the buffer belongs to the header.
struct AudioHeader {
    WaveHeader wave;
    int32_t capacity;             // bytes the buffer can hold
    std::atomic<int32_t> time_ms; // media time of the buffer's first sample
};

struct AudioOutput {
    std::atomic<AudioDevice*> wave_out; // the open device, or null (media thread writes)
    AudioHeader wave_headers[AUDIO_HEADER_COUNT];
    std::atomic<uint32_t> header_write; // presentation thread: where the next chunk goes
    std::atomic<uint32_t> header_done;  // device thread: advanced once per finished buffer
    SwrContext* resampler;              // made by the decoder thread, freed here when the device changes
    // Media time of the buffer being heard now; 0 when none is known. Written
    // by the device thread and audio_open, consumed (read, then set to 0) by
    // the presentation thread.
    std::atomic<int32_t> audio_clock_ms;
    int32_t audio_block_align; // bytes per sample frame (all channels)
    std::atomic<uint32_t> audio_gain; // 1/256 units, from volume
    std::atomic<uint32_t> volume;     // 0..300
    int32_t audio_channels;           // output channels, 1..6
    int32_t audio_rate;               // output rate, Hz
    // What the resampler was made for: the decoder thread writes them, the
    // audio information line reads them.
    std::atomic<int32_t> audio_sample_format;
    std::atomic<int32_t> audio_in_channels; // 0 forces a new resampler
    std::atomic<int32_t> audio_in_rate;
    int32_t audio_chunk_bytes; // 25 ms of output
    // For the A/V statistics, written by the device thread with each buffer
    // heard: the media time the listener hears at heard_wall_ms (the end of
    // the buffer reported last), and now_ms() at that report.
    std::atomic<int32_t> heard_time_ms;
    std::atomic<uint32_t> heard_wall_ms;
    // Counts the times the sound starts afresh (the device opened or reset,
    // playback restarted): until the device says the new sound is heard, the
    // clock waits for it.
    std::atomic<uint32_t> sound_starts;
};
