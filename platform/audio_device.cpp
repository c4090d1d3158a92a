// The sound device. Each open device owns one thread that reports finished
// buffers at the moment their last sample is heard; for the null and wav
// backends the same thread also consumes the queue at real-time pace (the
// sdl backend is fed from SDL's own thread, audio_sdl.cpp, the pulse backend
// from its event loop's, audio_pulse.cpp).
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/audio_device_internal.h"

int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Process& process()
{
    static Process p;
    return p;
}

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
    return d->backend == BACKEND_NULL || d->backend == BACKEND_WAV || d->lost;
}

void report_heard(AudioDevice* d, int64_t now)
{
    while (d->heard_head && d->heard_head->heard_ns <= now)
        report(d, pop(&d->heard_head, &d->heard_tail), 0);
}

// CLOCK_MONOTONIC time of the next event the thread must act on, or -1.
int64_t next_event_ns(const AudioDevice* d)
{
    int64_t at = d->heard_head && d->heard_head->heard_ns != HEARD_WHEN_SERVER_SAYS ? d->heard_head->heard_ns : -1;
    if (paced(d) && d->pacing && !d->paused && d->queue_head) {
        const uint64_t end = d->frames_played + frames_left(d, d->queue_head);
        const int64_t done = d->base_ns + frames_to_ns(d, end - d->base_frames);
        if (at < 0 || done < at)
            at = done;
    }
    return at;
}

// Half a second without a request for sound from SDL, with sound queued:
// periods are about 10 ms, so the sound server is stalled or gone. The device
// then plays on at real-time pace until the server asks again.
constexpr int64_t SDL_STALL_NS = 500000000;
// How often an sdl device looks whether the library gave it up for good.
constexpr int64_t SDL_REOPEN_CHECK_NS = 1000000000;

// A device the library gave up (its sound server went away) is replaced by
// a new one, with the lock let go while the library is called (its feed
// takes the lock). audio_device_close finds sdl_id 0 meanwhile and leaves
// the new device to this thread, which it joins.
void reopen_if_gone(AudioDevice* d, std::unique_lock<std::mutex>* hold, int64_t now)
{
    d->next_reopen_check_ns = now + SDL_REOPEN_CHECK_NS;
    const uint32_t old_id = d->sdl_id;
    // The state is read under the lock, so that a close cannot free the
    // device meanwhile (the read takes none of the library's locks).
    if (old_id != 0 && !sdl_device_gone(old_id))
        return;
    d->sdl_id = 0;
    d->lost = 1;
    hold->unlock();
    if (old_id != 0)
        sdl_close(old_id);
    int64_t latency = 0;
    const uint32_t fresh = sdl_reopen(d, &latency);
    hold->lock();
    if (fresh == 0)
        return; // no server yet: the next look tries again
    if (!d->open || d->quit) {
        hold->unlock();
        sdl_close(fresh);
        hold->lock();
        return;
    }
    d->sdl_id = fresh;
    d->latency_ns = latency;
    hold->unlock();
    sdl_start(fresh);
    hold->lock();
}

void device_thread(AudioDevice* d)
{
    std::unique_lock<std::mutex> hold(d->lock);
    while (!d->quit) {
        int64_t now = monotonic_ns();
        int64_t at = -1;
        if (d->backend == BACKEND_PULSE && d->pulse) {
            at = pulse_service(d, &hold, now);
            now = monotonic_ns();
        }
        if (d->backend == BACKEND_SDL && !d->lost && d->queue_head && !d->paused) {
            const int64_t stalled_at = d->last_feed_ns + SDL_STALL_NS;
            if (now >= stalled_at)
                d->lost = 1;
            else
                at = stalled_at;
        }
        // A library that lost its sound server keeps calling the feed of the
        // dead device at real-time pace, so a stall is not the only sign: the
        // device's own state is looked at while sound is queued.
        if (d->backend == BACKEND_SDL && d->open && d->queue_head) {
            if (now >= d->next_reopen_check_ns) {
                reopen_if_gone(d, &hold, now);
                now = monotonic_ns();
            }
            if (at < 0 || d->next_reopen_check_ns < at)
                at = d->next_reopen_check_ns;
        }
        if (paced(d))
            pace(d, now);
        report_heard(d, now);
        const int64_t next = next_event_ns(d);
        if (next >= 0 && (at < 0 || next < at))
            at = next;
        if (d->quit)
            break;
        if (at < 0)
            d->wake.wait(hold);
        else if (at > now)
            d->wake.wait_until(hold, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(at)));
    }
}

namespace {

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
    if (d->thread_running) {
        pthread_join(d->thread, nullptr);
        d->thread_running = 0;
    }
}

void* run_device_thread(void* d)
{
    device_thread(static_cast<AudioDevice*>(d));
    return nullptr;
}

} // namespace

int audio_device_select(const char* choice)
{
    if (!choice)
        return 0;
    Process& p = process();
    std::lock_guard<std::mutex> hold(p.lock);
    if (strcmp(choice, "sdl") == 0) {
        p.backend = BACKEND_SDL;
    } else if (strcmp(choice, "pulse") == 0) {
        p.backend = BACKEND_PULSE;
    } else if (strcmp(choice, "null") == 0) {
        p.backend = BACKEND_NULL;
    } else if (strncmp(choice, "wav:", 4) == 0 && choice[4] != '\0') {
        if (p.wav_path != choice + 4) {
            if (!p.wav.owner)
                wav_end(&p.wav);
            p.wav_path = choice + 4;
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
    static const char* const names[] = {"sdl", "null", "wav", "pulse"};
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
    // A thread that cannot be made (no memory or address space left) fails
    // the open like a device that is not there.
    d->thread_running = pthread_create(&d->thread, nullptr, run_device_thread, d) == 0;
    // Where no PulseAudio server answers, SDL finds what the machine has.
    if (d->thread_running && backend == BACKEND_PULSE && !pulse_open(d, channel_mask)) {
        std::lock_guard<std::mutex> hold(d->lock);
        d->backend = backend = BACKEND_SDL;
    }
    if (!d->thread_running || (backend == BACKEND_SDL && !sdl_open(d))) {
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
    PulseHold server(device);
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
    pulse_fill(device);
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_reset(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    PulseHold server(device);
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
    if (device->backend == BACKEND_PULSE)
        pulse_flush(device);
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_pause(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    PulseHold server(device);
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    if (paced(device))
        pace(device, monotonic_ns());
    if (device->backend == BACKEND_PULSE && !device->paused)
        pulse_pause(device, true);
    device->paused = 1;
    device->pacing = 0;
    device->wake.notify_one();
    return AUDIO_DEVICE_OK;
}

int audio_device_restart(AudioDevice* device)
{
    if (!device)
        return AUDIO_DEVICE_ERROR;
    PulseHold server(device);
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return AUDIO_DEVICE_ERROR;
    if (device->paused) {
        device->paused = 0;
        if (device->backend == BACKEND_PULSE)
            pulse_pause(device, false);
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
    uint32_t sdl_id;
    {
        // The loop's lock is let go before the device thread is joined: the
        // thread may be waiting for it.
        PulseHold server(device);
        std::lock_guard<std::mutex> hold(device->lock);
        if (!device->open)
            return AUDIO_DEVICE_ERROR;
        if (device->queue_head || device->heard_head)
            return AUDIO_DEVICE_STILL_PLAYING;
        device->open = 0;
        sdl_id = device->sdl_id;
        device->sdl_id = 0;
        if (device->backend == BACKEND_PULSE)
            pulse_close(device);
    }
    if (sdl_id)
        sdl_close(sdl_id);
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
    sdl_shutdown();
}

int64_t audio_device_latency_ns(AudioDevice* device)
{
    if (!device)
        return 0;
    PulseHold server(device);
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open)
        return 0;
    return device->backend == BACKEND_PULSE && !device->lost ? pulse_latency_ns(device) : device->latency_ns;
}

int audio_device_position(AudioDevice* device, const WaveHeader** header, uint32_t* frames, int32_t* rate)
{
    if (!device || !header || !frames || !rate)
        return 0;
    PulseHold server(device);
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->open || device->paused)
        return 0;
    const int64_t now = monotonic_ns();
    uint32_t bytes = 0;
    bool heard;
    if (paced(device)) {
        pace(device, now);
        // The pace is inside the buffer at the front of the queue.
        heard = device->pacing && device->queue_head;
        if (heard) {
            *header = device->queue_head;
            bytes = device->queue_head->bytes_played;
        }
    } else if (device->backend == BACKEND_PULSE) {
        heard = pulse_position(device, now, header, &bytes);
    } else {
        heard = sdl_position(device, now, header, &bytes);
    }
    *frames = bytes / uint32_t(device->block_align);
    *rate = device->rate;
    return heard ? 1 : 0;
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
