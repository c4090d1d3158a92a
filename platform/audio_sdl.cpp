// The sdl backend: SDL's own audio thread copies queued buffers into its
// stream and notes when each will have been heard.
#include <SDL.h>
#include <dlfcn.h>

#include <cstring>

#include "platform/audio_device_internal.h"

namespace {

// SDL's channel order for each channel count, as speaker masks in the bit
// order of audio_device_open; SDL lists each layout's speakers in that order.
constexpr uint32_t SDL_LAYOUTS[AUDIO_DEVICE_MAX_CHANNELS + 1] = {0,     0x4,   0x3,   0xB,  0x33,
                                                                 0x37,  0x3F,  0x70F, 0x63F};

int popcount32(uint32_t v)
{
    return __builtin_popcount(v);
}

} // namespace

// Picks the smallest SDL layout that has every speaker of the mask and maps
// each of its positions to our channel on that speaker; positions without
// one stay silent. A mask SDL has no layout for plays in our own order.
void map_channels(AudioDevice* d, uint32_t mask)
{
    d->sdl_channels = d->channels;
    d->identity_map = 1;
    for (int c = 0; c < AUDIO_DEVICE_MAX_CHANNELS; ++c)
        d->channel_map[c] = int8_t(c < d->channels ? c : -1);
    if (popcount32(mask) != d->channels)
        return;
    for (int n = d->channels; n <= AUDIO_DEVICE_MAX_CHANNELS; ++n) {
        const uint32_t layout = SDL_LAYOUTS[n];
        if ((layout & mask) != mask)
            continue;
        d->sdl_channels = n;
        int position = 0;
        for (int bit = 0; bit < 32; ++bit) {
            if (!(layout & (1u << bit)))
                continue;
            d->channel_map[position++] =
                int8_t((mask & (1u << bit)) ? popcount32(mask & ((1u << bit) - 1)) : -1);
        }
        d->identity_map = n == d->channels;
        return;
    }
}

namespace {

void copy_frames(const AudioDevice* d, uint8_t* out, const uint8_t* in, uint32_t frames)
{
    if (d->identity_map) {
        memcpy(out, in, size_t(frames) * uint32_t(d->block_align));
        return;
    }
    for (uint32_t f = 0; f < frames; ++f) {
        for (int c = 0; c < d->sdl_channels; ++c) {
            const int from = d->channel_map[c];
            if (from >= 0)
                memcpy(out + c * 2, in + from * 2, 2);
            else
                memset(out + c * 2, 0, 2);
        }
        out += d->sdl_align;
        in += d->block_align;
    }
}

// SDL's audio thread asks for the next period. A buffer completely copied
// here is heard when the bytes before its end have played out of this period
// and the layers below have played what they hold.
void sdl_feed(void* user, Uint8* stream, int len)
{
    AudioDevice* d = static_cast<AudioDevice*>(user);
    const int64_t now = monotonic_ns();
    std::lock_guard<std::mutex> hold(d->lock);
    d->last_feed_ns = now;
    if (sdl_device_gone(d->sdl_id)) {
        // The library feeds a device whose server went away: nothing would
        // be heard, so the queue plays on at real-time pace until a new
        // device replaces this one.
        d->lost = 1;
    } else if (d->lost) {
        // The sound server asks again (it was stalled, or a reopened device
        // starts): the queue goes back to it from where the pace left it.
        d->lost = 0;
        d->pacing = 0;
    }
    const uint32_t frames = len > 0 ? uint32_t(len) / uint32_t(d->sdl_align) : 0;
    uint32_t k = 0;
    int finished = 0;
    while (d->open && !d->paused && !d->lost && k < frames && d->queue_head) {
        WaveHeader* h = d->queue_head;
        const uint32_t left = (h->buffer_length - h->bytes_played) / uint32_t(d->block_align);
        const uint32_t n = left < frames - k ? left : frames - k;
        copy_frames(d, stream + size_t(k) * uint32_t(d->sdl_align), h->data + h->bytes_played, n);
        h->bytes_played += n * uint32_t(d->block_align);
        k += n;
        if (n < left)
            break;
        // A trailing part of a sample frame is never played.
        pop(&d->queue_head, &d->queue_tail);
        h->heard_ns = now + d->latency_ns + frames_to_ns(d, k);
        append(&d->heard_head, &d->heard_tail, h);
        finished = 1;
    }
    if (len > 0)
        memset(stream + size_t(k) * uint32_t(d->sdl_align), 0, size_t(len) - size_t(k) * uint32_t(d->sdl_align));
    if (finished)
        d->wake.notify_one();
}

void alsa_says_nothing(const char*, int, const char*, int, const char*, ...) {}

// Nothing is logged: ALSA, which SDL may load, prints its errors (such as
// "cannot find card '0'" on a machine without sound) unless told not to.
void quieten_alsa()
{
    static int done; // under the process lock
    if (done)
        return;
    done = 1;
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa)
        return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
        set(alsa_says_nothing);
    // The library stays loaded: SDL uses the same copy.
}

// Under the process lock.
int sdl_ready()
{
    if (SDL_WasInit(SDL_INIT_AUDIO))
        return 1;
    quieten_alsa();
    // The sound subsystem brings SDL's event queue, which would take over
    // SIGINT and SIGTERM for the whole process from this engine thread; the
    // program handles both itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

// Periods of about 10 ms: short enough for a tight clock, long enough for a
// busy desktop.
Uint16 sdl_period_samples(int32_t rate)
{
    Uint16 samples = 256;
    while (samples < 8192 && samples < uint32_t(rate) / 100)
        samples = Uint16(samples * 2);
    return samples;
}

} // namespace

// Opens an SDL device for the record's format, paused; 0 when none opens.
// *latency_ns: what the layers below the feed hold.
static SDL_AudioDeviceID open_device(AudioDevice* d, int64_t* latency_ns)
{
    {
        std::lock_guard<std::mutex> hold(process().lock);
        if (!sdl_ready())
            return 0;
    }
    SDL_AudioSpec want = {};
    SDL_AudioSpec have = {};
    want.freq = d->rate;
    want.format = AUDIO_S16LSB;
    want.channels = Uint8(d->sdl_channels);
    want.samples = sdl_period_samples(d->rate);
    want.callback = sdl_feed;
    want.userdata = d;
    // No changes allowed: SDL converts to whatever the hardware takes.
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return 0;
    const char* driver = SDL_GetCurrentAudioDriver();
    // The disk and dummy drivers consume each period the moment it is made,
    // at real-time pace; a sound server plays a period after the one it
    // holds, so its listener hears our bytes one period later.
    const int immediate = driver && (strcmp(driver, "disk") == 0 || strcmp(driver, "dummy") == 0);
    *latency_ns = immediate ? 0 : int64_t(have.samples) * 1000000000 / (have.freq > 0 ? have.freq : d->rate);
    return id;
}

int sdl_open(AudioDevice* d)
{
    int64_t latency = 0;
    SDL_AudioDeviceID id = open_device(d, &latency);
    if (id == 0)
        return 0;
    {
        std::lock_guard<std::mutex> hold(d->lock);
        d->sdl_id = id;
        d->latency_ns = latency;
    }
    SDL_PauseAudioDevice(id, 0);
    return 1;
}

bool sdl_device_gone(uint32_t sdl_id)
{
    return sdl_id != 0 && SDL_GetAudioDeviceStatus(sdl_id) == SDL_AUDIO_STOPPED;
}

uint32_t sdl_reopen(AudioDevice* d, int64_t* latency_ns)
{
    SDL_AudioDeviceID id = open_device(d, latency_ns);
    if (id != 0)
        return id;
    // The library's connection to the sound server died with the server: a
    // new one is made by starting the audio subsystem afresh (the process
    // plays through one device at a time, which is closed already).
    {
        std::lock_guard<std::mutex> hold(process().lock);
        if (SDL_WasInit(SDL_INIT_AUDIO))
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    return open_device(d, latency_ns);
}

void sdl_start(uint32_t sdl_id)
{
    SDL_PauseAudioDevice(sdl_id, 0);
}

void sdl_close(uint32_t sdl_id)
{
    SDL_CloseAudioDevice(sdl_id); // waits for SDL's thread to leave the feed
}

bool sdl_position(const AudioDevice* d, int64_t now, const WaveHeader** header, uint32_t* bytes)
{
    // Buffers handed to SDL whole are heard one after the other, each ending
    // at its heard_ns; the first that has not ended is the one heard now.
    for (const WaveHeader* h = d->heard_head; h; h = h->next) {
        if (h->heard_ns <= now)
            continue;
        const uint32_t frames = h->buffer_length / uint32_t(d->block_align);
        const int64_t start = h->heard_ns - frames_to_ns(d, frames);
        if (now < start)
            return false; // silence between buffers: the sound ran out before it
        const uint64_t heard = uint64_t((unsigned __int128)(now - start) * uint64_t(d->rate) / 1000000000u);
        *header = h;
        *bytes = uint32_t(heard < frames ? heard : frames) * uint32_t(d->block_align);
        return true;
    }
    return false;
}

void sdl_shutdown()
{
    if (SDL_WasInit(SDL_INIT_AUDIO))
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
