// The audio output: the sound device, its ring of eight buffers, volume and
// the automatic gain. Filled in by the audio output work; the foundation only
// needs the record's place in the context.
#pragma once
#include <atomic>
#include <cstdint>

struct SwrContext;

struct AudioOutput {
    void* wave_out; // the open sound device, or null
    std::atomic<uint32_t> header_write;
    std::atomic<uint32_t> header_done;
    SwrContext* resampler;
    std::atomic<int32_t> audio_clock_ms; // written by the device thread, consumed by presentation
    int32_t audio_block_align;
    std::atomic<uint32_t> audio_gain;
    std::atomic<uint32_t> volume;
    int32_t audio_channels;
    int32_t audio_rate;
    int32_t audio_sample_format;
    int32_t audio_in_channels;
    int32_t audio_in_rate;
    int32_t audio_chunk_bytes;
};

void audio_set_volume(AudioOutput* out, uint32_t level);
