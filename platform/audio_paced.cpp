// Real-time pacing: the null and wav backends (and the sdl backend while
// its sound server is away) consume their queue at the device rate.
#include "platform/audio_device_internal.h"

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
