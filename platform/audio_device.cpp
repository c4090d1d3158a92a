// The sound device. Each open device owns one thread that reports finished
// buffers at the moment their last sample is heard; for the null and wav
// backends the same thread also consumes the queue at real-time pace. The
// sdl backend is fed from SDL's own audio thread, which copies queued
// buffers into SDL's stream and notes when each will have been heard.
//
// One mutex per device serialises the writer, the feeder, the reporter and
// the control calls; completion reports are made while holding it, so the
// reports of a reset and those of the device thread never overlap or reorder.
#include "platform/audio_device.h"

#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

namespace {

enum Backend { BACKEND_SDL = 0, BACKEND_NULL = 1, BACKEND_WAV = 2 };

int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

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

} // namespace

struct AudioDevice {
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread;
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
    SDL_AudioDeviceID sdl_id;
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
};

namespace {

struct Process {
    std::mutex lock; // the backend choice, the device records and the WAV file
    int backend = BACKEND_SDL;
    std::string wav_path;    // as given with "wav:"
    std::string wav_current; // the file being written
    int wav_files = 0;       // files made so far
    WavFile wav = {-1, 0, 0, 0, 0, 0, nullptr};
    AudioDevice* records = nullptr;
};

Process& process()
{
    static Process p;
    return p;
}

// ---- WAV file ----

void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

int write_all(int fd, const uint8_t* data, size_t bytes, off_t at)
{
    while (bytes > 0) {
        ssize_t n = at >= 0 ? pwrite(fd, data, bytes, at) : write(fd, data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        data += n;
        bytes -= size_t(n);
        if (at >= 0)
            at += n;
    }
    return 1;
}

// Rewrites the two sizes so the file is complete as it stands.
void wav_fix_sizes(WavFile* w)
{
    uint8_t v[4];
    put32(v, w->header_bytes - 8 + w->data_bytes);
    write_all(w->fd, v, 4, 4);
    put32(v, w->data_bytes);
    write_all(w->fd, v, 4, off_t(w->header_bytes) - 4);
}

// More than two channels use the extensible format, which names the speakers.
int wav_begin(WavFile* w, const char* path, int32_t rate, int32_t channels, uint32_t mask)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    const int extensible = channels > 2;
    const uint32_t block_align = uint32_t(channels) * 2;
    uint8_t h[68] = {};
    const uint32_t header_bytes = extensible ? 68 : 44;
    const uint32_t fmt_bytes = extensible ? 40 : 16;
    memcpy(h, "RIFF", 4);
    put32(h + 4, header_bytes - 8);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, fmt_bytes);
    put16(h + 20, extensible ? 0xFFFE : 1);
    put16(h + 22, uint32_t(channels));
    put32(h + 24, uint32_t(rate));
    put32(h + 28, uint32_t(rate) * block_align);
    put16(h + 32, block_align);
    put16(h + 34, 16);
    uint8_t* data_chunk = h + 36;
    if (extensible) {
        static const uint8_t pcm_subformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        put16(h + 36, 22);
        put16(h + 38, 16);
        put32(h + 40, mask);
        memcpy(h + 44, pcm_subformat, 16);
        data_chunk = h + 60;
    }
    memcpy(data_chunk, "data", 4);
    put32(data_chunk + 4, 0);
    if (!write_all(fd, h, header_bytes, 0)) {
        close(fd);
        return 0;
    }
    *w = {fd, rate, channels, mask, header_bytes, 0, nullptr};
    return 1;
}

// Appends played sound, then fixes the sizes: a program that stops at any
// moment leaves a valid file (at worst with a few samples past the size).
void wav_append(WavFile* w, const uint8_t* data, uint32_t bytes)
{
    if (!w || w->fd < 0 || bytes == 0)
        return;
    if (bytes > WAV_MAX_DATA_BYTES - w->data_bytes)
        bytes = WAV_MAX_DATA_BYTES - w->data_bytes;
    // Only whole sample frames, so the channels never shift.
    const uint32_t align = uint32_t(w->channels) * 2;
    bytes -= bytes % align;
    if (bytes == 0)
        return;
    if (!write_all(w->fd, data, bytes, off_t(w->header_bytes) + w->data_bytes))
        return;
    w->data_bytes += bytes;
    wav_fix_sizes(w);
}

void wav_end(WavFile* w)
{
    if (w->fd < 0)
        return;
    wav_fix_sizes(w);
    close(w->fd);
    w->fd = -1;
}

// "out.wav" for the first file, then "out.2.wav", "out.3.wav", ...
std::string wav_numbered_path(const std::string& path, int number)
{
    if (number <= 1)
        return path;
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    std::string suffix = "." + std::to_string(number);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

// Under the process lock. The device continues the file while the format is
// unchanged and no other device writes it; otherwise it starts the next one.
WavFile* wav_acquire(AudioDevice* d, uint32_t mask)
{
    Process& p = process();
    WavFile* w = &p.wav;
    if (w->fd >= 0 && !w->owner && w->rate == d->rate && w->channels == d->channels && w->mask == mask) {
        w->owner = d;
        return w;
    }
    if (w->fd >= 0 && w->owner)
        return nullptr; // one file at a time; a second device cannot record
    wav_end(w);
    std::string path = wav_numbered_path(p.wav_path, p.wav_files + 1);
    if (!wav_begin(w, path.c_str(), d->rate, d->channels, mask))
        return nullptr;
    p.wav_files++;
    p.wav_current = path;
    w->owner = d;
    return w;
}

// ---- the queue ----

void append(WaveHeader** head, WaveHeader** tail, WaveHeader* h)
{
    h->next = nullptr;
    if (*tail)
        (*tail)->next = h;
    else
        *head = h;
    *tail = h;
}

WaveHeader* pop(WaveHeader** head, WaveHeader** tail)
{
    WaveHeader* h = *head;
    *head = h->next;
    if (!*head)
        *tail = nullptr;
    h->next = nullptr;
    return h;
}

void report(AudioDevice* d, WaveHeader* h, uintptr_t dropped)
{
    h->flags.store((h->flags.load(std::memory_order_relaxed) & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
    d->callback(d, WOM_DONE, d->instance, h, dropped);
}

// The device consumes its queue itself at real-time pace.
bool paced(const AudioDevice* d)
{
    return d->backend != BACKEND_SDL || d->lost;
}

// Rounded up, so that at the time given the pace has really reached the
// frames (a time rounded down would wake the thread a nanosecond too early,
// again and again).
int64_t frames_to_ns(const AudioDevice* d, uint64_t frames)
{
    const uint64_t rate = uint64_t(d->rate);
    return int64_t(((unsigned __int128)frames * 1000000000u + rate - 1) / rate);
}

uint64_t frames_left(const AudioDevice* d, const WaveHeader* h)
{
    uint32_t left = h->buffer_length - h->bytes_played;
    return (left + uint32_t(d->block_align) - 1) / uint32_t(d->block_align);
}

void start_pacing(AudioDevice* d, int64_t now)
{
    d->pacing = 1;
    d->base_ns = now;
    d->base_frames = d->frames_played;
}

// null and wav: consumes what real time has played since the last call.
void pace(AudioDevice* d, int64_t now)
{
    if (d->paused || !d->queue_head) {
        d->pacing = 0;
        return;
    }
    if (!d->pacing)
        start_pacing(d, now);
    const uint64_t elapsed = now > d->base_ns ? uint64_t(now - d->base_ns) : 0;
    const uint64_t target = d->base_frames + uint64_t((unsigned __int128)elapsed * uint64_t(d->rate) / 1000000000u);
    while (d->queue_head) {
        WaveHeader* h = d->queue_head;
        const uint64_t left = frames_left(d, h);
        if (left > 0) {
            if (d->frames_played >= target)
                break;
            const uint64_t take = left < target - d->frames_played ? left : target - d->frames_played;
            uint64_t bytes = take * uint64_t(d->block_align);
            if (bytes > h->buffer_length - h->bytes_played)
                bytes = h->buffer_length - h->bytes_played;
            wav_append(d->wav, h->data + h->bytes_played, uint32_t(bytes));
            h->bytes_played += uint32_t(bytes);
            d->frames_played += take;
            if (take < left)
                break;
        }
        pop(&d->queue_head, &d->queue_tail);
        h->heard_ns = d->base_ns + frames_to_ns(d, d->frames_played - d->base_frames);
        append(&d->heard_head, &d->heard_tail, h);
    }
    if (!d->queue_head)
        d->pacing = 0; // the next buffer starts when it is written
}

void report_heard(AudioDevice* d, int64_t now)
{
    while (d->heard_head && d->heard_head->heard_ns <= now)
        report(d, pop(&d->heard_head, &d->heard_tail), 0);
}

// CLOCK_MONOTONIC time of the next event the thread must act on, or -1.
int64_t next_event_ns(const AudioDevice* d)
{
    int64_t at = d->heard_head ? d->heard_head->heard_ns : -1;
    if (paced(d) && d->pacing && !d->paused && d->queue_head) {
        const uint64_t end = d->frames_played + frames_left(d, d->queue_head);
        const int64_t done = d->base_ns + frames_to_ns(d, end - d->base_frames);
        if (at < 0 || done < at)
            at = done;
    }
    return at;
}

// Half a second without a request for sound from SDL, with sound queued:
// periods are about 10 ms, so the sound server is gone.
constexpr int64_t SDL_STALL_NS = 500000000;

void device_thread(AudioDevice* d)
{
    std::unique_lock<std::mutex> hold(d->lock);
    while (!d->quit) {
        const int64_t now = monotonic_ns();
        int64_t at = -1;
        if (!paced(d) && d->queue_head && !d->paused) {
            const int64_t stalled_at = d->last_feed_ns + SDL_STALL_NS;
            if (now >= stalled_at)
                d->lost = 1;
            else
                at = stalled_at;
        }
        if (paced(d))
            pace(d, now);
        report_heard(d, now);
        const int64_t next = next_event_ns(d);
        if (next >= 0 && (at < 0 || next < at))
            at = next;
        if (at < 0)
            d->wake.wait(hold);
        else if (at > now)
            d->wake.wait_until(hold, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(at)));
    }
}

// ---- sdl backend ----

// SDL's channel order for each channel count, as speaker masks in the bit
// order of audio_device_open; SDL lists each layout's speakers in that order.
constexpr uint32_t SDL_LAYOUTS[AUDIO_DEVICE_MAX_CHANNELS + 1] = {0,     0x4,   0x3,   0xB,  0x33,
                                                                 0x37,  0x3F,  0x70F, 0x63F};

int popcount32(uint32_t v)
{
    return __builtin_popcount(v);
}

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

int sdl_open(AudioDevice* d)
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
    {
        std::lock_guard<std::mutex> hold(d->lock);
        d->sdl_id = id;
        d->latency_ns = immediate ? 0 : int64_t(have.samples) * 1000000000 / (have.freq > 0 ? have.freq : d->rate);
    }
    SDL_PauseAudioDevice(id, 0);
    return 1;
}

AudioDevice* take_record()
{
    Process& p = process();
    for (AudioDevice* d = p.records; d; d = d->next_record) {
        if (!d->in_use) {
            d->in_use = 1;
            return d;
        }
    }
    AudioDevice* d = new (std::nothrow) AudioDevice();
    if (!d)
        return nullptr;
    d->in_use = 1;
    d->next_record = p.records;
    p.records = d;
    return d;
}

void release_record(AudioDevice* d)
{
    std::lock_guard<std::mutex> hold(process().lock);
    if (d->wav) {
        d->wav->owner = nullptr;
        d->wav = nullptr;
    }
    d->in_use = 0;
}

void stop_thread(AudioDevice* d)
{
    {
        std::lock_guard<std::mutex> hold(d->lock);
        d->quit = 1;
        d->wake.notify_one();
    }
    if (d->thread.joinable())
        d->thread.join();
}

} // namespace

int audio_device_select(const char* spec)
{
    if (!spec)
        return 0;
    Process& p = process();
    std::lock_guard<std::mutex> hold(p.lock);
    if (strcmp(spec, "sdl") == 0) {
        p.backend = BACKEND_SDL;
    } else if (strcmp(spec, "null") == 0) {
        p.backend = BACKEND_NULL;
    } else if (strncmp(spec, "wav:", 4) == 0 && spec[4] != '\0') {
        if (p.wav_path != spec + 4) {
            if (!p.wav.owner)
                wav_end(&p.wav);
            p.wav_path = spec + 4;
            p.wav_files = 0;
        }
        p.backend = BACKEND_WAV;
    } else {
        return 0;
    }
    return 1;
}

const char* audio_device_backend()
{
    std::lock_guard<std::mutex> hold(process().lock);
    static const char* const names[] = {"sdl", "null", "wav"};
    return names[process().backend];
}

AudioDevice* audio_device_open(int32_t rate, int32_t channels, uint32_t channel_mask, AudioDeviceCallback callback,
                               void* instance)
{
    if (rate < AUDIO_DEVICE_MIN_RATE || rate > AUDIO_DEVICE_MAX_RATE || channels < 1 ||
        channels > AUDIO_DEVICE_MAX_CHANNELS || !callback)
        return nullptr;
    AudioDevice* d;
    int backend;
    {
        Process& p = process();
        std::lock_guard<std::mutex> hold(p.lock);
        backend = p.backend;
        d = take_record();
        if (!d)
            return nullptr;
        // The record is not shared yet: a closed record is only ever read
        // under its own lock, and its thread has ended.
        std::lock_guard<std::mutex> own(d->lock);
        d->open = 1;
        d->quit = 0;
        d->backend = backend;
        d->paused = 0;
        d->rate = rate;
        d->channels = channels;
        d->block_align = channels * 2;
        d->callback = callback;
        d->instance = instance;
        d->queue_head = d->queue_tail = d->heard_head = d->heard_tail = nullptr;
        d->pacing = 0;
        d->frames_played = 0;
        d->wav = nullptr;
        d->sdl_id = 0;
        d->latency_ns = 0;
        d->last_feed_ns = monotonic_ns();
        d->lost = 0;
        map_channels(d, channel_mask);
        d->sdl_align = d->sdl_channels * 2;
        if (backend == BACKEND_WAV) {
            d->wav = wav_acquire(d, channel_mask);
            if (!d->wav) {
                d->open = 0;
                d->in_use = 0;
                return nullptr;
            }
        }
    }
    d->thread = std::thread(device_thread, d);
    if (backend == BACKEND_SDL && !sdl_open(d)) {
        {
            std::lock_guard<std::mutex> hold(d->lock);
            d->open = 0;
        }
        stop_thread(d);
        release_record(d);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> hold(d->lock);
        callback(d, WOM_OPEN, instance, nullptr, 0);
    }
    return d;
}

int audio_device_prepare(AudioDevice* device, WaveHeader* header)
{
    if (!device || !header)
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    uint32_t flags = header->flags.load(std::memory_order_relaxed);
    if (flags & WHDR_INQUEUE)
        return AUDIO_DEVICE_STILL_PLAYING;
    header->flags.store(flags | WHDR_PREPARED, std::memory_order_relaxed);
    return AUDIO_DEVICE_OK;
}

int audio_device_unprepare(AudioDevice* device, WaveHeader* header)
{
    if (!device || !header)
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    uint32_t flags = header->flags.load(std::memory_order_relaxed);
    if (flags & WHDR_INQUEUE)
        return AUDIO_DEVICE_STILL_PLAYING;
    header->flags.store(flags & ~WHDR_PREPARED, std::memory_order_relaxed);
    return AUDIO_DEVICE_OK;
}

int audio_device_write(AudioDevice* device, WaveHeader* header)
{
    if (!device || !header || (!header->data && header->buffer_length))
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    const uint32_t flags = header->flags.load(std::memory_order_relaxed);
    if (!(flags & WHDR_PREPARED))
        return AUDIO_DEVICE_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return AUDIO_DEVICE_STILL_PLAYING;
    header->flags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_relaxed);
    header->bytes_played = 0;
    header->heard_ns = 0;
    const int was_idle = !device->queue_head;
    append(&device->queue_head, &device->queue_tail, header);
    // After an underrun the pace restarts from the moment sound arrives.
    if (paced(device) && was_idle && !device->paused)
        start_pacing(device, monotonic_ns());
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_reset(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    const int64_t now = monotonic_ns();
    if (paced(device))
        pace(device, now); // what has played by now is kept (and recorded)
    while (device->heard_head) {
        WaveHeader* h = pop(&device->heard_head, &device->heard_tail);
        report(device, h, h->heard_ns > now ? 1 : 0);
    }
    while (device->queue_head)
        report(device, pop(&device->queue_head, &device->queue_tail), 1);
    device->pacing = 0;
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_pause(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    if (paced(device))
        pace(device, monotonic_ns());
    device->paused = 1;
    device->pacing = 0;
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_restart(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    if (device->paused) {
        device->paused = 0;
        if (paced(device) && device->queue_head)
            start_pacing(device, monotonic_ns());
    }
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_close(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    SDL_AudioDeviceID sdl_id;
    {
        std::lock_guard<std::mutex> hold(device->lock);
        if (!device->open)
            return AUDIO_DEVICE_ERROR;
        if (device->queue_head || device->heard_head)
            return AUDIO_DEVICE_STILL_PLAYING;
        device->open = 0;
        sdl_id = device->sdl_id;
        device->sdl_id = 0;
    }
    if (sdl_id)
        SDL_CloseAudioDevice(sdl_id); // waits for SDL's thread to leave the feed
    stop_thread(device);
    device->callback(device, WOM_CLOSE, device->instance, nullptr, 0);
    release_record(device);
    return AUDIO_DEVICE_OK;
}

void audio_device_shutdown(void)
{
    Process& p = process();
    for (;;) {
        AudioDevice* open = nullptr;
        {
            std::lock_guard<std::mutex> hold(p.lock);
            for (AudioDevice* d = p.records; d && !open; d = d->next_record)
                if (d->in_use)
                    open = d;
        }
        if (!open)
            break;
        audio_device_reset(open);
        if (audio_device_close(open) == AUDIO_DEVICE_ERROR)
            release_record(open); // a record that failed half-way through its open
    }
    std::lock_guard<std::mutex> hold(p.lock);
    wav_end(&p.wav);
    p.wav_files = 0; // a device opened after this starts the file anew
    if (SDL_WasInit(SDL_INIT_AUDIO))
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int64_t audio_device_latency_ns(AudioDevice* device)
{
    if (!device)
        return 0;
    std::lock_guard<std::mutex> hold(device->lock);
    return device->open ? device->latency_ns : 0;
}

int32_t audio_device_rate(AudioDevice* device)
{
    if (!device)
        return 0;
    std::lock_guard<std::mutex> hold(device->lock);
    return device->open ? device->rate : 0;
}

int32_t audio_device_channels(AudioDevice* device)
{
    if (!device)
        return 0;
    std::lock_guard<std::mutex> hold(device->lock);
    return device->open ? device->channels : 0;
}

const char* audio_device_wav_path(void)
{
    std::lock_guard<std::mutex> hold(process().lock);
    return process().wav_current.c_str();
}
