// Helpers of the audio tests: an output record with its chunks, waiting for
// the device thread, and reading back the WAV file a device wrote.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" {
#include <libavutil/mem.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "queue/queue.h"
#include "tests/support/stress.h"

// A fresh temporary file name for one test.
inline std::string temp_wav_path(const char* tag)
{
    char name[256];
    snprintf(name, sizeof name, "/tmp/mv_audio_%s_%d_%u.wav", tag, int(getpid()), now_ms());
    return name;
}

// Polls until the condition holds or the time runs out (scaled for sanitizers).
template <typename Condition> bool wait_for(Condition condition, uint32_t limit_ms = 3000)
{
    const uint32_t start = now_ms();
    while (!condition()) {
        if (now_ms() - start > limit_ms * STRESS_SCALE)
            return false;
        delay_100ns(SLEEP_1MS);
    }
    return true;
}

// An output and the eight chunk entries the presentation thread would hand it.
struct AudioRig {
    AudioOutput* out;
    FrameEntry entries[8];
    uint32_t next_entry;
};

inline AudioRig* audio_rig_new(uint32_t volume)
{
    AudioRig* rig = new AudioRig();
    rig->out = new AudioOutput();
    audio_set_volume(rig->out, volume);
    return rig;
}

// Closes the device, then frees every buffer.
inline void audio_rig_free(AudioRig* rig)
{
    audio_shutdown();
    audio_free_buffers(rig->out);
    for (FrameEntry& e : rig->entries)
        av_free(e.audio_data);
    delete rig->out;
    delete rig;
}

// Fills the next entry with these samples (buffer grown as the decoder would)
// and returns it.
inline FrameEntry* audio_rig_chunk(AudioRig* rig, const int16_t* samples, int32_t count, int32_t time_ms)
{
    FrameEntry* e = &rig->entries[rig->next_entry++ & 7];
    const int32_t bytes = count * 2;
    if (e->audio_capacity < bytes) {
        av_free(e->audio_data);
        e->audio_data = static_cast<uint8_t*>(av_malloc(size_t(bytes) + 16));
        e->audio_capacity = bytes;
    }
    if (bytes)
        memcpy(e->audio_data, samples, size_t(bytes));
    e->audio_bytes = bytes;
    e->time_ms = time_ms;
    return e;
}

inline uint32_t audio_rig_next(const AudioRig* rig)
{
    return (rig->out->header_write.load() + 1) & 7;
}

inline bool audio_rig_ring_full(const AudioRig* rig)
{
    return audio_rig_next(rig) == rig->out->header_done.load();
}

// Writes a chunk as the presentation thread does, waiting while the ring is full.
inline void audio_rig_play(AudioRig* rig, const int16_t* samples, int32_t count, int32_t time_ms)
{
    ASSERT_TRUE(wait_for([&] { return !audio_rig_ring_full(rig); }));
    audio_write(rig->out, audio_rig_chunk(rig, samples, count, time_ms), audio_rig_next(rig));
}

inline bool audio_rig_drained(const AudioRig* rig, uint32_t limit_ms = 3000)
{
    return wait_for([&] { return rig->out->header_done.load() == rig->out->header_write.load(); }, limit_ms);
}

struct WavContents {
    bool valid;
    uint16_t format_tag;
    uint16_t channels;
    uint32_t rate;
    uint16_t block_align;
    uint16_t bits;
    uint32_t channel_mask; // extensible files only
    std::vector<int16_t> samples;
};

inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// Reads a WAV file strictly: the RIFF size must match the file, the data
// chunk must end the file and hold whole sample frames.
inline WavContents read_wav(const std::string& path)
{
    WavContents w = {};
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return w;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    if (bytes.size() < 44 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return w;
    if (le32(bytes.data() + 4) != bytes.size() - 8)
        return w;
    size_t at = 12;
    bool have_format = false;
    while (at + 8 <= bytes.size()) {
        const uint8_t* chunk = bytes.data() + at;
        const uint32_t size = le32(chunk + 4);
        if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && at + 8 + size <= bytes.size()) {
            w.format_tag = le16(chunk + 8);
            w.channels = le16(chunk + 10);
            w.rate = le32(chunk + 12);
            w.block_align = le16(chunk + 20);
            w.bits = le16(chunk + 22);
            if (w.format_tag == 0xFFFE && size >= 40)
                w.channel_mask = le32(chunk + 28);
            have_format = true;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!have_format || at + 8 + size != bytes.size() || w.block_align == 0 || size % w.block_align)
                return w;
            w.samples.resize(size / 2);
            if (size)
                memcpy(w.samples.data(), chunk + 8, size);
            w.valid = true;
            return w;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

// A sine tone of interleaved channels (each channel its own phase step).
inline std::vector<int16_t> tone(int32_t frames, int32_t channels, int32_t amplitude, uint32_t start_frame = 0)
{
    std::vector<int16_t> s(size_t(frames) * size_t(channels));
    for (int32_t f = 0; f < frames; ++f)
        for (int32_t c = 0; c < channels; ++c) {
            // A triangle wave keeps the test free of floating-point library differences.
            const int32_t period = 48 + 8 * c;
            const int32_t phase = int32_t((start_frame + uint32_t(f)) % uint32_t(period));
            const int32_t tri = phase < period / 2 ? phase : period - phase;
            s[size_t(f) * size_t(channels) + size_t(c)] = int16_t(amplitude * (4 * tri - period) / period);
        }
    return s;
}
