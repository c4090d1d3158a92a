#include <emmintrin.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "decode/decode.h"
#include "platform/platform.h"
#include "queue/queue.h"

std::atomic<uint32_t> auto_gain_level{AUTO_GAIN_START};

int audio_select_backend(const char* choice)
{
    return audio_device_select(choice);
}

void audio_shutdown(void)
{
    audio_device_shutdown();
}

// ---- opening ----

uint32_t audio_channel_mask(int32_t channels)
{
    if (channels < 1 || channels > AUDIO_MAX_CHANNELS)
        return 0;
    // The decoder converts to FFmpeg's default layout for the count, so the
    // device is told exactly those speakers.
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    const uint32_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? uint32_t(layout.u.mask) : 0;
    av_channel_layout_uninit(&layout);
    return mask;
}

// The reset has emptied the queue, so the close normally succeeds at
// once; while the device still reports buffers playing, try again each 1 ms.
static void close_device(AudioOutput* out, AudioDevice* device)
{
    while (audio_device_close(device) == AUDIO_DEVICE_STILL_PLAYING) {
        delay_100ns(SLEEP_1MS);
        audio_device_reset(device);
    }
    out->wave_out.store(nullptr, std::memory_order_release);
}

// The decoder makes a resampler for the new output.
static void forget_resampler(AudioOutput* out)
{
    swr_free(&out->resampler);
    out->audio_in_channels = 0;
}

int audio_open_format(AudioOutput* out, int32_t rate, int32_t channels)
{
    if (!out)
        return 0;
    const int usable = rate >= AUDIO_DEVICE_MIN_RATE && rate <= AUDIO_DEVICE_MAX_RATE && channels >= 1 &&
                       channels <= AUDIO_DEVICE_MAX_CHANNELS;
    if (channels > AUDIO_MAX_CHANNELS)
        channels = AUDIO_MAX_CHANNELS;
    AudioDevice* device = out->wave_out.load(std::memory_order_acquire);
    if (device)
        audio_device_reset(device);
    out->audio_clock_ms.store(0, std::memory_order_relaxed);
    out->sound_starts.fetch_add(1, std::memory_order_release);
    if (device && usable && out->audio_rate == rate && out->audio_channels == channels)
        return 1;
    if (device)
        close_device(out, device);
    forget_resampler(out);
    if (!usable)
        return 0; // a stream the device cannot play: the item goes on without sound
    out->audio_channels = channels;
    out->audio_block_align = channels * 2;
    out->audio_rate = rate;
    device = audio_device_open(rate, channels, audio_channel_mask(channels), audio_done_callback, out);
    out->wave_out.store(device, std::memory_order_release);
    return device ? 1 : 0;
}

int audio_open(AudioOutput* out, AVCodecContext* codec)
{
    if (!out || !codec)
        return 0;
    return audio_open_format(out, codec->sample_rate, codec->ch_layout.nb_channels);
}

// ---- volume and control ----

void audio_set_volume(AudioOutput* out, uint32_t level)
{
    if (level > VOLUME_MAX)
        level = VOLUME_MAX;
    uint32_t gain;
    if (level <= 110)
        gain = level * 256u / 100u;
    else
        gain = (level - 90u) * 256u / 20u;
    out->audio_gain.store(gain, std::memory_order_relaxed);
    out->volume.store(level, std::memory_order_relaxed);
}

void audio_pause(AudioOutput* out)
{
    if (AudioDevice* device = out->wave_out.load(std::memory_order_acquire))
        audio_device_pause(device);
}

void audio_restart(AudioOutput* out)
{
    if (AudioDevice* device = out->wave_out.load(std::memory_order_acquire))
        audio_device_restart(device);
    out->sound_starts.fetch_add(1, std::memory_order_release);
}

bool audio_heard_ms(AudioOutput* out, int32_t* media_ms)
{
    // The device's own rate: the media thread may be reopening the output
    // for another format meanwhile.
    AudioDevice* device = out->wave_out.load(std::memory_order_acquire);
    const WaveHeader* header = nullptr;
    uint32_t frames = 0;
    int32_t rate = 0;
    if (!device || !audio_device_position(device, &header, &frames, &rate) || rate <= 0)
        return false;
    // The header is still the device's (not reported), so its time is the
    // one written with it.
    for (const AudioHeader& h : out->wave_headers) {
        if (&h.wave != header)
            continue;
        *media_ms = h.time_ms.load(std::memory_order_relaxed) + int32_t((int64_t(frames) * 1000 + rate / 2) / rate);
        return true;
    }
    return false;
}

void audio_reset(AudioOutput* out)
{
    if (AudioDevice* device = out->wave_out.load(std::memory_order_acquire))
        audio_device_reset(device);
    // The reports of a reset carry times of sound that was never heard.
    out->audio_clock_ms.store(0, std::memory_order_relaxed);
    out->sound_starts.fetch_add(1, std::memory_order_release);
}

void audio_free_buffers(AudioOutput* out)
{
    for (AudioHeader& h : out->wave_headers) {
        if (h.wave.flags.load(std::memory_order_acquire) & WHDR_INQUEUE)
            continue; // still the device's; never freed under it
        av_free(h.wave.data);
        h.wave.data = nullptr;
        h.wave.buffer_length = 0;
        h.capacity = 0;
    }
}

void audio_release(AudioOutput* out)
{
    if (AudioDevice* device = out->wave_out.load(std::memory_order_acquire)) {
        audio_device_reset(device);
        close_device(out, device);
    }
    swr_free(&out->resampler);
    out->audio_in_channels = 0;
    audio_free_buffers(out);
}

// ---- writing ----

static void gain_stage(AudioOutput* out, FrameEntry* entry, uint32_t volume)
{
    if (volume == VOLUME_AUTO_GAIN)
        auto_gain(out, entry->audio_data, entry->audio_bytes);
    else if (volume != VOLUME_UNCHANGED)
        apply_gain(reinterpret_cast<int16_t*>(entry->audio_data), out->audio_gain.load(std::memory_order_relaxed),
                   entry->audio_bytes / 2);
}

// The header takes the entry's buffer and gives back its own.
static void exchange_buffers(AudioHeader* h, FrameEntry* entry, AudioDevice* device)
{
    if (h->wave.flags.load(std::memory_order_relaxed) & WHDR_PREPARED)
        audio_device_unprepare(device, &h->wave);
    h->wave.buffer_length = uint32_t(entry->audio_bytes);
    h->time_ms.store(entry->time_ms, std::memory_order_relaxed);
    uint8_t* data = h->wave.data;
    h->wave.data = entry->audio_data;
    entry->audio_data = data;
    const int32_t capacity = h->capacity;
    h->capacity = entry->audio_capacity;
    entry->audio_capacity = capacity;
}

void audio_write(AudioOutput* out, FrameEntry* entry, uint32_t next_header)
{
    AudioDevice* device = out->wave_out.load(std::memory_order_acquire);
    if (!device || out->volume.load(std::memory_order_relaxed) == 0 || !entry)
        return;
    // A chunk whose sizes do not fit its buffer is never played.
    if (entry->audio_bytes < 0 || entry->audio_bytes > entry->audio_capacity ||
        (!entry->audio_data && entry->audio_bytes > 0))
        return;
    const uint32_t write = out->header_write.load(std::memory_order_relaxed) & AUDIO_HEADER_MASK;
    next_header &= AUDIO_HEADER_MASK;
    // A full ring would hand the device a header it still plays.
    if (next_header != ((write + 1) & AUDIO_HEADER_MASK) ||
        next_header == out->header_done.load(std::memory_order_acquire))
        return;
    gain_stage(out, entry, out->volume.load(std::memory_order_relaxed));
    AudioHeader* h = &out->wave_headers[write];
    exchange_buffers(h, entry, device);
    // Published only once the header is filled: a report that finds it as
    // the next buffer reads its own time, not the previous one's.
    out->header_write.store(next_header, std::memory_order_release);
    audio_device_prepare(device, &h->wave);
    if (audio_device_write(device, &h->wave) != AUDIO_DEVICE_OK) {
        // Only a device closed at exit refuses a prepared header; counting
        // the buffer as finished keeps the ring from filling up for good.
        audio_done_callback(device, WOM_DONE, out, &h->wave, 1);
    }
}

// ---- the device's report ----

void audio_done_callback(AudioDevice* device, uint32_t message, void* instance, WaveHeader* header,
                         uintptr_t dropped)
{
    if (message != WOM_DONE || !instance)
        return;
    AudioOutput* out = static_cast<AudioOutput*>(instance);
    const uint32_t finished = out->header_done.load(std::memory_order_relaxed) & AUDIO_HEADER_MASK;
    const uint32_t done = (finished + 1) & AUDIO_HEADER_MASK;
    // Read before header_done moves on: from then on the writer may refill it.
    const AudioHeader* h = &out->wave_headers[finished];
    int32_t end_ms = h->time_ms.load(std::memory_order_relaxed);
    if (out->audio_block_align > 0 && out->audio_rate > 0)
        end_ms += int32_t(int64_t(h->wave.buffer_length / uint32_t(out->audio_block_align)) * 1000 / out->audio_rate);
    out->header_done.store(done, std::memory_order_release);
    if (dropped)
        return; // nothing was heard, so there is no position to report
    out->heard_time_ms.store(end_ms, std::memory_order_relaxed);
    // When the device says the end was heard (it may report a little late).
    const int64_t at = header && header->heard_ns > 0 && header->heard_ns != INT64_MAX ? header->heard_ns : 0;
    out->heard_wall_ms.store(at ? uint32_t(uint64_t(at) / 1000000u) : now_ms(), std::memory_order_relaxed);
    if (done != out->header_write.load(std::memory_order_acquire))
        out->audio_clock_ms.store(out->wave_headers[done].time_ms.load(std::memory_order_relaxed),
                                  std::memory_order_release);
}

// ---- gain ----

static inline int16_t saturate16(int32_t v)
{
    return int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

void apply_gain_reference(int16_t* samples, uint32_t gain, int32_t count)
{
    if (!samples || count < 8)
        return;
    if (gain > 32767)
        gain = 32767;
    for (int32_t group = count / 8 - 1; group >= 0; --group) {
        int16_t* s = samples + group * 8;
        for (int i = 0; i < 8; ++i)
            s[i] = saturate16((int32_t(s[i]) * int32_t(gain) + 128) >> 8);
    }
}

static inline __m128i gain_group(__m128i s, __m128i gain, __m128i round)
{
    // The two halves of each 32-bit product, interleaved back into products.
    const __m128i lo = _mm_mullo_epi16(s, gain);
    const __m128i hi = _mm_mulhi_epi16(s, gain);
    __m128i a = _mm_unpacklo_epi16(lo, hi);
    __m128i b = _mm_unpackhi_epi16(lo, hi);
    a = _mm_srai_epi32(_mm_add_epi32(a, round), 8);
    b = _mm_srai_epi32(_mm_add_epi32(b, round), 8);
    return _mm_packs_epi32(a, b);
}

void apply_gain(int16_t* samples, uint32_t gain, int32_t count)
{
    if (!samples || count < 8)
        return;
    if (gain > 32767)
        gain = 32767; // keeps the gain a positive 16-bit factor
    const __m128i g = _mm_set1_epi16(int16_t(gain));
    const __m128i round = _mm_set1_epi32(128);
    __m128i* const blocks = reinterpret_cast<__m128i*>(samples);
    const int32_t groups = count / 8;
    if ((reinterpret_cast<uintptr_t>(samples) & 15) == 0) {
        for (int32_t i = groups - 1; i >= 0; --i)
            _mm_store_si128(blocks + i, gain_group(_mm_load_si128(blocks + i), g, round));
    } else {
        // A misaligned buffer is a caller's fault; it still must not crash.
        for (int32_t i = groups - 1; i >= 0; --i)
            _mm_storeu_si128(blocks + i, gain_group(_mm_loadu_si128(blocks + i), g, round));
    }
}

int32_t chunk_peak_reference(const int16_t* samples, int32_t count)
{
    if (!samples)
        return 0;
    int32_t peak = 0;
    for (int32_t i = 0; i < count / 8 * 8; ++i) {
        const int32_t s = samples[i];
        const int32_t v = s > -1 - s ? s : -1 - s;
        if (v > peak)
            peak = v;
    }
    return peak;
}

int32_t chunk_peak(const int16_t* samples, int32_t count)
{
    if (!samples || count < 8)
        return 0;
    const __m128i* blocks = reinterpret_cast<const __m128i*>(samples);
    const int aligned = (reinterpret_cast<uintptr_t>(samples) & 15) == 0;
    __m128i peak = _mm_setzero_si128();
    for (int32_t i = 0; i < count / 8; ++i) {
        const __m128i s = aligned ? _mm_load_si128(blocks + i) : _mm_loadu_si128(blocks + i);
        // s xor (s >> 15) is s for s >= 0 and -1 - s below.
        peak = _mm_max_epi16(peak, _mm_xor_si128(s, _mm_srai_epi16(s, 15)));
    }
    peak = _mm_max_epi16(peak, _mm_srli_si128(peak, 8));
    peak = _mm_max_epi16(peak, _mm_srli_si128(peak, 4));
    peak = _mm_max_epi16(peak, _mm_srli_si128(peak, 2));
    return int16_t(_mm_cvtsi128_si32(peak));
}

uint32_t auto_gain_step(uint32_t* level, int32_t peak, int32_t dur_ms)
{
    if (peak <= 0)
        return 0;
    // The gain that brings the peak to full scale (32767 x 256 / peak), at most x10.
    uint32_t target = 8388352u / uint32_t(peak);
    if (target > 2560)
        target = 2560;
    const uint32_t target_level = target * 10000u;
    if (*level >= target_level) {
        *level = target_level; // louder sound: the gain drops at once
        return target;
    }
    const uint32_t gain = *level / 10000u;
    // Rises by dur_ms / 3000 of the gap; a chunk of 3 s or more closes it.
    if (dur_ms < 0)
        dur_ms = 0;
    if (dur_ms > 3000)
        dur_ms = 3000;
    *level += uint32_t(uint64_t(target_level - *level) * uint64_t(dur_ms) / 3000u);
    return gain;
}

void auto_gain(AudioOutput* out, uint8_t* data, int32_t bytes)
{
    if (!data || bytes <= 0 || out->audio_block_align <= 0 || out->audio_rate <= 0)
        return;
    int16_t* samples = reinterpret_cast<int16_t*>(data);
    const int32_t count = bytes / 2;
    const int32_t dur_ms = int32_t(int64_t(bytes / out->audio_block_align) * 1000 / out->audio_rate);
    uint32_t level = auto_gain_level.load(std::memory_order_relaxed);
    const uint32_t gain = auto_gain_step(&level, chunk_peak(samples, count), dur_ms);
    auto_gain_level.store(level, std::memory_order_relaxed);
    if (gain)
        apply_gain(samples, gain, count);
}
