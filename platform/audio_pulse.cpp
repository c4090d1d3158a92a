// The pulse backend: one playback stream on the desktop's sound server
// (PulseAudio, or the PulseAudio service of PipeWire) through libpulse. The
// server says how far playback has got, the latency of its sink included,
// so a buffer is reported when the server's position passes its last
// sample, and the position inside the buffer being heard is known at any
// moment. A server that stops answering, suspends its sink or goes away is
// given up for real-time pace (audio_paced.cpp) until it takes sound again.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "platform/audio_device_internal.h"

// The server keeps about this much sound; it asks for more in steps of
// MINREQ and starts playing once PREBUF is there. What the server holds
// costs no accuracy (its position is measured), only the time a pause or a
// seek takes to be heard.
constexpr int64_t TARGET_NS = 60000000;
constexpr int64_t MINREQ_NS = 10000000;
constexpr int64_t PREBUF_NS = 10000000;
// How often the position is asked for while sound plays; the library
// interpolates between answers.
constexpr int64_t UPDATE_EVERY_NS = 50000000;
// A server that leaves a question unanswered this long is stalled; a sink
// suspended this long is not coming back soon.
constexpr int64_t ANSWER_WITHIN_NS = 250000000;
// Sound queued, not paused, and the server has taken none of it for this
// long: it does not play. (A sink may take a while to start: an idle null
// sink of PulseAudio plays what it rendered ahead, up to two seconds of
// silence, before it takes the new stream's first sample.)
constexpr int64_t NO_PROGRESS_NS = 3000000000;
constexpr int64_t OPEN_WAIT_NS = 2000000000;
constexpr int64_t RECONNECT_EVERY_NS = 250000000;
// A server that answers again is handed sound only once it has read this
// much silence: a new server's idle sink may play what it rendered ahead
// for up to two seconds before it takes a stream, and sound queued to it
// meanwhile would be heard that much late.
constexpr int64_t PROBE_NS = 10000000;
// How often a server that is away is asked about its position: each answer
// wakes the device thread, which would otherwise ask again at once.
constexpr int64_t AWAY_ASK_EVERY_NS = 10000000;

struct PulseLink {
    pa_threaded_mainloop* loop;
    // Taken with the loop's lock wherever it is held (and by the callbacks,
    // which run holding it): the loop's lock is the library's own, which the
    // thread sanitizer cannot see, so this one shows it the same exclusion.
    std::recursive_mutex seen;
    AudioDevice* owner;
    pa_context* context;
    pa_stream* stream;
    pa_sample_spec spec;
    pa_channel_map map;
    int ready;  // the stream takes sound
    int failed; // the context or the stream failed: the server went away
    // The stream index of the next byte written; unknown after a flush
    // until the server has answered a question asked after it.
    int64_t write_pos;
    int index_known;
    // Questions about the position: the one outstanding, when it was asked
    // and the state it was asked in. A position is trusted only once a
    // question asked after the last start, pause, restart or flush is
    // answered (the library's interpolation cannot know when the server
    // begins to play).
    pa_operation* question;
    int64_t asked_ns;
    int ask_again;
    uint32_t state;
    uint32_t asked_state;
    uint32_t answered_state;
    int answered_playing;
    int64_t answered_ns;
    // Progress: the server's read index last seen and when it last moved;
    // since when the sink is suspended (0: it is not).
    int64_t last_read;
    int64_t progress_ns;
    int64_t suspended_since_ns;
    int64_t next_reconnect_ns;
    // The stream index where the probe's silence begins plus one while the
    // server is away; 0: none written yet.
    int64_t probe_start;
};

static void lock_loop(PulseLink* p)
{
    pa_threaded_mainloop_lock(p->loop);
    p->seen.lock();
}

static void unlock_loop(PulseLink* p)
{
    p->seen.unlock();
    pa_threaded_mainloop_unlock(p->loop);
}

PulseHold::PulseHold(AudioDevice* d) : link(d ? d->pulse : nullptr)
{
    if (link)
        lock_loop(link);
}

PulseHold::~PulseHold()
{
    if (link)
        unlock_loop(link);
}

namespace {

// The speaker of each bit of the channel mask, in the mask's bit order.
constexpr pa_channel_position_t SPEAKERS[] = {
    PA_CHANNEL_POSITION_FRONT_LEFT,  PA_CHANNEL_POSITION_FRONT_RIGHT,
    PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
    PA_CHANNEL_POSITION_REAR_LEFT,   PA_CHANNEL_POSITION_REAR_RIGHT,
    PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER, PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
    PA_CHANNEL_POSITION_REAR_CENTER, PA_CHANNEL_POSITION_SIDE_LEFT,
    PA_CHANNEL_POSITION_SIDE_RIGHT,
};

// The server places each channel on its speaker itself, so the samples go
// in our own order. A mask that does not name one speaker per channel gets
// the server's usual layout for the count.
void channel_map_for(pa_channel_map* map, int channels, uint32_t mask)
{
    if (channels == 1) {
        pa_channel_map_init_mono(map);
        return;
    }
    if (__builtin_popcount(mask) == channels && mask < (1u << (sizeof SPEAKERS / sizeof SPEAKERS[0]))) {
        map->channels = uint8_t(channels);
        int c = 0;
        for (unsigned bit = 0; bit < sizeof SPEAKERS / sizeof SPEAKERS[0]; ++bit)
            if (mask & (1u << bit))
                map->map[c++] = SPEAKERS[bit];
        return;
    }
    pa_channel_map_init_extend(map, unsigned(channels), PA_CHANNEL_MAP_DEFAULT);
}

void wake_owner(PulseLink* p)
{
    std::lock_guard<std::mutex> hold(p->owner->lock);
    p->owner->wake.notify_one();
}

int64_t bytes_to_ns(const AudioDevice* d, int64_t bytes)
{
    return bytes * 1000000000 / (int64_t(d->rate) * d->block_align);
}

int64_t ns_to_bytes(const PulseLink* p, int64_t ns)
{
    return ns > 0 ? int64_t(pa_usec_to_bytes(pa_usec_t(ns / 1000), &p->spec)) : 0;
}

void ask_position(PulseLink* p);

void on_answer(pa_stream*, int success, void* user)
{
    PulseLink* p = static_cast<PulseLink*>(user);
    std::lock_guard<std::recursive_mutex> seen(p->seen);
    if (p->question) {
        pa_operation_unref(p->question);
        p->question = nullptr;
    }
    p->asked_ns = 0;
    if (success) {
        p->answered_ns = monotonic_ns();
        p->answered_state = p->asked_state;
        const pa_timing_info* t = p->stream ? pa_stream_get_timing_info(p->stream) : nullptr;
        p->answered_playing = t && t->playing;
        if (t && !p->index_known && !t->write_index_corrupt) {
            p->write_pos = t->write_index;
            p->index_known = 1;
            std::lock_guard<std::mutex> hold(p->owner->lock);
            pulse_fill(p->owner);
        }
    }
    if (p->ask_again) {
        p->ask_again = 0;
        ask_position(p);
    }
    wake_owner(p);
}

// One question at a time; one asked meanwhile is asked once the answer is in.
void ask_position(PulseLink* p)
{
    if (!p->stream || !p->ready)
        return;
    if (p->question) {
        p->ask_again = 1;
        return;
    }
    p->question = pa_stream_update_timing_info(p->stream, on_answer, p);
    if (p->question) {
        p->asked_ns = monotonic_ns();
        p->asked_state = p->state;
    }
}

void on_write_request(pa_stream*, size_t, void* user)
{
    PulseLink* p = static_cast<PulseLink*>(user);
    std::lock_guard<std::recursive_mutex> seen(p->seen);
    std::lock_guard<std::mutex> hold(p->owner->lock);
    pulse_fill(p->owner);
}

// Both state callbacks end here: a failure means the server went away; the
// device thread looks again.
void after_state(PulseLink* p, bool failed)
{
    if (failed) {
        p->failed = 1;
        p->ready = 0;
    }
    wake_owner(p);
}

void on_stream_state(pa_stream* s, void* user)
{
    PulseLink* p = static_cast<PulseLink*>(user);
    std::lock_guard<std::recursive_mutex> seen(p->seen);
    if (s != p->stream)
        return;
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY) {
        // A new stream counts from index 0.
        p->ready = 1;
        p->write_pos = 0;
        p->index_known = 1;
        p->state++;
    }
    after_state(p, state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED);
}

void on_suspended(pa_stream*, void* user)
{
    PulseLink* p = static_cast<PulseLink*>(user);
    std::lock_guard<std::recursive_mutex> seen(p->seen);
    wake_owner(p);
}

void open_stream(PulseLink* p)
{
    p->stream = pa_stream_new(p->context, "Moravista", &p->spec, &p->map);
    if (!p->stream) {
        p->failed = 1;
        return;
    }
    pa_stream_set_state_callback(p->stream, on_stream_state, p);
    pa_stream_set_write_callback(p->stream, on_write_request, p);
    pa_stream_set_suspended_callback(p->stream, on_suspended, p);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(ns_to_bytes(p, TARGET_NS));
    attr.prebuf = uint32_t(ns_to_bytes(p, PREBUF_NS));
    attr.minreq = uint32_t(ns_to_bytes(p, MINREQ_NS));
    attr.fragsize = uint32_t(-1);
    const pa_stream_flags_t flags =
        pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(p->stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        p->failed = 1;
}

void on_context_state(pa_context* c, void* user)
{
    PulseLink* p = static_cast<PulseLink*>(user);
    std::lock_guard<std::recursive_mutex> seen(p->seen);
    if (c != p->context)
        return;
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY)
        open_stream(p);
    after_state(p, state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED);
}

void disconnect(PulseLink* p)
{
    if (p->question) {
        pa_operation_cancel(p->question);
        pa_operation_unref(p->question);
        p->question = nullptr;
    }
    if (p->stream) {
        pa_stream_set_state_callback(p->stream, nullptr, nullptr);
        pa_stream_set_write_callback(p->stream, nullptr, nullptr);
        pa_stream_set_suspended_callback(p->stream, nullptr, nullptr);
        pa_stream_disconnect(p->stream);
        pa_stream_unref(p->stream);
        p->stream = nullptr;
    }
    if (p->context) {
        pa_context_set_state_callback(p->context, nullptr, nullptr);
        pa_context_disconnect(p->context);
        pa_context_unref(p->context);
        p->context = nullptr;
    }
    p->ready = 0;
    p->asked_ns = 0;
    p->ask_again = 0;
    p->answered_playing = 0;
}

// A server that is not there fails the connection at once: at open SDL
// stands in, after the server went away the device thread tries again.
void connect(PulseLink* p)
{
    disconnect(p);
    p->failed = 0;
    p->index_known = 0;
    p->probe_start = 0;
    p->context = pa_context_new(pa_threaded_mainloop_get_api(p->loop), "Moravista");
    if (!p->context) {
        p->failed = 1;
        return;
    }
    pa_context_set_state_callback(p->context, on_context_state, p);
    if (pa_context_connect(p->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        p->failed = 1;
}

// The stream index the listener hears at time now, from the server's last
// answer: what the sink had taken from the stream (read index) less what it
// still held (sink latency) at the answer's time, moved on at the rate since
// then; a stream that was not playing gives the sink nothing more than it
// took. False when the server has not told (yet).
bool heard_index(PulseLink* p, int64_t now, int64_t* index)
{
    const pa_timing_info* t = p->stream ? pa_stream_get_timing_info(p->stream) : nullptr;
    if (!t || t->read_index_corrupt)
        return false;
    timespec real, mono;
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    const int64_t real_ahead_ns = (int64_t(real.tv_sec) - mono.tv_sec) * 1000000000 + (real.tv_nsec - mono.tv_nsec);
    const int64_t stamp_ns = int64_t(pa_timeval_load(&t->timestamp)) * 1000 - real_ahead_ns;
    const int64_t since_ns = now > stamp_ns ? now - stamp_ns : 0;
    const int64_t read = t->read_index;
    int64_t heard = read - ns_to_bytes(p, int64_t(t->sink_usec) * 1000) + ns_to_bytes(p, since_ns);
    if (!t->playing && heard > read)
        heard = read;
    if (p->index_known && heard > p->write_pos)
        heard = p->write_pos;
    *index = heard;
    return true;
}

// Whether the server's word on the position is to be trusted now.
bool position_trusted(const PulseLink* p, const AudioDevice* d, int64_t now)
{
    return p->ready && !p->failed && p->index_known && !d->paused && p->answered_state == p->state &&
           (p->asked_ns == 0 || now - p->asked_ns < ANSWER_WITHIN_NS) && pa_stream_is_suspended(p->stream) != 1;
}

uint32_t whole_frames(const AudioDevice* d, const WaveHeader* h)
{
    return h->buffer_length - h->buffer_length % uint32_t(d->block_align);
}

// The server no longer plays: what it holds is given up (never heard), and
// the device plays the rest of its queue at real-time pace until the server
// takes sound again.
void give_up_server(AudioDevice* d, int64_t now)
{
    PulseLink* p = d->pulse;
    d->lost = 1;
    d->pacing = 0;
    while (d->heard_head) {
        WaveHeader* h = pop(&d->heard_head, &d->heard_tail);
        report(d, h, h->heard_ns > now ? 1 : 0);
    }
    // What the server received of the buffer at the front is lost with it;
    // the pace goes on from there.
    if (p->stream && p->ready && !p->failed) {
        pa_operation* o = pa_stream_flush(p->stream, nullptr, nullptr);
        if (o)
            pa_operation_unref(o);
        p->index_known = 0;
        p->state++;
        ask_position(p);
    }
    p->next_reconnect_ns = now + RECONNECT_EVERY_NS;
    p->probe_start = 0;
}

// Silence for the server to read before it is given sound again. False
// when it could not be written (the server went away again).
bool write_probe(PulseLink* p)
{
    static const char zeros[4096] = {};
    const size_t align = pa_frame_size(&p->spec);
    size_t left = size_t(ns_to_bytes(p, PROBE_NS));
    left -= left % align;
    p->probe_start = p->write_pos + 1;
    while (left > 0) {
        size_t n = left < sizeof zeros ? left : sizeof zeros - sizeof zeros % align;
        if (pa_stream_write(p->stream, zeros, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            p->failed = 1;
            return false;
        }
        p->write_pos += int64_t(n);
        left -= n;
    }
    return true;
}

// Whether the server has begun to read the probe's silence: it takes sound
// now. (It may read in steps larger than what is left of it.)
bool probe_read(PulseLink* p)
{
    const pa_timing_info* t = pa_stream_get_timing_info(p->stream);
    return p->probe_start > 0 && t && !t->read_index_corrupt && t->read_index >= p->probe_start;
}

// Back from real-time pace: the queue goes to the server from where the
// pace left it.
void take_server_back(AudioDevice* d, int64_t now)
{
    PulseLink* p = d->pulse;
    d->lost = 0;
    d->pacing = 0;
    // What the pace consumed is reported at its own time by report_heard.
    p->progress_ns = now;
    p->suspended_since_ns = 0;
    p->probe_start = 0;
    // The stream plays or stands as the device does (it may have been
    // paused or restarted while the server was away).
    if (p->stream && pa_stream_is_corked(p->stream) != d->paused) {
        pa_operation* o = pa_stream_cork(p->stream, d->paused, nullptr, nullptr);
        if (o)
            pa_operation_unref(o);
        p->state++;
    }
    ask_position(p);
    pulse_fill(d);
}

} // namespace

int pulse_open(AudioDevice* d, uint32_t channel_mask)
{
    if (!d->pulse) {
        PulseLink* p = new (std::nothrow) PulseLink();
        if (!p)
            return 0;
        p->loop = pa_threaded_mainloop_new();
        if (!p->loop || pa_threaded_mainloop_start(p->loop) < 0) {
            if (p->loop)
                pa_threaded_mainloop_free(p->loop);
            delete p;
            return 0;
        }
        p->owner = d;
        std::lock_guard<std::mutex> hold(d->lock); // the device thread looks at it
        d->pulse = p;
    }
    PulseLink* p = d->pulse;
    lock_loop(p);
    p->spec.format = PA_SAMPLE_S16LE;
    p->spec.rate = uint32_t(d->rate);
    p->spec.channels = uint8_t(d->channels);
    channel_map_for(&p->map, d->channels, channel_mask);
    p->state = p->asked_state = p->answered_state = 0;
    p->progress_ns = monotonic_ns();
    p->suspended_since_ns = 0;
    connect(p);
    const int64_t deadline = monotonic_ns() + OPEN_WAIT_NS;
    while (!p->ready && !p->failed && monotonic_ns() < deadline) {
        unlock_loop(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        lock_loop(p);
    }
    const int ok = p->ready && !p->failed;
    if (!ok)
        disconnect(p);
    else
        ask_position(p);
    unlock_loop(p);
    return ok;
}

void pulse_close(AudioDevice* d)
{
    if (d->pulse)
        disconnect(d->pulse);
}

void pulse_fill(AudioDevice* d)
{
    PulseLink* p = d->pulse;
    if (!p || d->backend != BACKEND_PULSE || !d->open || d->lost || !p->ready || p->failed || !p->index_known)
        return;
    size_t room = pa_stream_writable_size(p->stream);
    if (room == size_t(-1))
        return;
    const uint32_t align = uint32_t(d->block_align);
    bool wrote = false;
    while (d->queue_head) {
        WaveHeader* h = d->queue_head;
        const uint32_t usable = whole_frames(d, h);
        // Where its byte 0 lies, had it been written whole (the pace may
        // have consumed its start while the server was away).
        h->stream_pos = p->write_pos - h->bytes_played;
        uint32_t n = usable > h->bytes_played ? usable - h->bytes_played : 0;
        if (n > room - room % align)
            n = uint32_t(room - room % align);
        if (n > 0) {
            if (pa_stream_write(p->stream, h->data + h->bytes_played, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                p->failed = 1;
                break;
            }
            h->bytes_played += n;
            p->write_pos += n;
            room -= n;
            wrote = true;
        }
        if (h->bytes_played < usable)
            break;
        pop(&d->queue_head, &d->queue_tail);
        h->heard_ns = HEARD_WHEN_SERVER_SAYS;
        append(&d->heard_head, &d->heard_tail, h);
    }
    if (wrote) {
        if (!p->answered_playing)
            ask_position(p); // the server may have begun to play
        d->wake.notify_one();
    }
}

void pulse_flush(AudioDevice* d)
{
    PulseLink* p = d->pulse;
    if (!p || !p->stream || !p->ready || p->failed)
        return;
    pa_operation* o = pa_stream_flush(p->stream, nullptr, nullptr);
    if (o)
        pa_operation_unref(o);
    p->index_known = 0;
    p->probe_start = 0;
    p->state++;
    p->progress_ns = monotonic_ns();
    ask_position(p);
}

void pulse_pause(AudioDevice* d, bool paused)
{
    PulseLink* p = d->pulse;
    if (!p || !p->stream || !p->ready || p->failed)
        return;
    pa_operation* o = pa_stream_cork(p->stream, paused ? 1 : 0, nullptr, nullptr);
    if (o)
        pa_operation_unref(o);
    p->state++;
    p->progress_ns = monotonic_ns();
    if (!paused)
        ask_position(p);
}

bool pulse_position(AudioDevice* d, int64_t now, const WaveHeader** header, uint32_t* bytes)
{
    PulseLink* p = d->pulse;
    int64_t heard = 0;
    if (!p || d->lost || !position_trusted(p, d, now) || !heard_index(p, now, &heard))
        return false;
    // Buffers the server has whole, then the one it has in part.
    for (WaveHeader* h = d->heard_head; h; h = h->next) {
        if (h->heard_ns != HEARD_WHEN_SERVER_SAYS)
            continue; // consumed by the pace before the server came back
        if (heard < h->stream_pos)
            return false; // the server plays something older (the sound of a flush)
        if (heard < h->stream_pos + int64_t(whole_frames(d, h))) {
            *header = h;
            *bytes = uint32_t(heard - h->stream_pos);
            return true;
        }
    }
    const WaveHeader* h = d->queue_head;
    if (h && h->bytes_played > 0 && heard >= h->stream_pos && heard < h->stream_pos + int64_t(h->bytes_played)) {
        *header = h;
        *bytes = uint32_t(heard - h->stream_pos);
        return true;
    }
    return false; // everything written has been heard: the sound ran out
}

int64_t pulse_service(AudioDevice* d, std::unique_lock<std::mutex>* hold, int64_t now)
{
    PulseLink* p = d->pulse;
    hold->unlock();
    lock_loop(p);
    hold->lock();
    int64_t at = -1;
    if (!d->open || d->quit || d->backend != BACKEND_PULSE) {
        unlock_loop(p);
        return -1;
    }
    now = monotonic_ns();
    const bool sound_waiting = !d->paused && (d->queue_head || d->heard_head);
    if (!d->lost && !p->failed && !p->ready) {
        unlock_loop(p);
        return now + 20000000; // still opening
    }
    if (d->lost) {
        if (p->failed && now >= p->next_reconnect_ns) {
            p->next_reconnect_ns = now + RECONNECT_EVERY_NS;
            // The library calls the state callbacks from inside the connect,
            // and they take the device's lock.
            hold->unlock();
            connect(p);
            hold->lock();
            at = now + 100000000;
        } else if (p->ready && !p->failed && p->asked_ns == 0) {
            const bool answering = p->index_known && !pa_stream_is_suspended(p->stream) &&
                                   p->answered_state == p->state;
            // Answering: silence first, and the sound once that is read.
            if (answering && probe_read(p)) {
                take_server_back(d, now);
            } else if (answering && p->probe_start == 0) {
                if (write_probe(p))
                    ask_position(p);
            } else if (now - p->answered_ns >= AWAY_ASK_EVERY_NS) {
                ask_position(p);
            }
            at = now + AWAY_ASK_EVERY_NS;
        } else {
            at = now + 100000000; // an answer wakes the thread
        }
    } else if (p->failed) {
        give_up_server(d, now);
        at = now;
    } else {
        int64_t heard = 0;
        const bool trusted = position_trusted(p, d, now) && heard_index(p, now, &heard);
        while (trusted && d->heard_head && d->heard_head->heard_ns == HEARD_WHEN_SERVER_SAYS) {
            WaveHeader* h = d->heard_head;
            const int64_t end = h->stream_pos + int64_t(whole_frames(d, h));
            if (heard < end)
                break;
            h->heard_ns = now - bytes_to_ns(d, heard - end);
            report(d, pop(&d->heard_head, &d->heard_tail), 0);
        }
        const pa_timing_info* t = pa_stream_get_timing_info(p->stream);
        if (!sound_waiting || (t && t->read_index != p->last_read)) {
            p->progress_ns = now;
            p->last_read = t ? t->read_index : p->last_read;
        }
        if (pa_stream_is_suspended(p->stream) != 1)
            p->suspended_since_ns = 0;
        else if (p->suspended_since_ns == 0)
            p->suspended_since_ns = now;
        const bool unanswered = p->asked_ns != 0 && now - p->asked_ns >= ANSWER_WITHIN_NS;
        const bool suspended = p->suspended_since_ns != 0 && now - p->suspended_since_ns >= ANSWER_WITHIN_NS;
        if (sound_waiting && (unanswered || suspended || now - p->progress_ns >= NO_PROGRESS_NS)) {
            give_up_server(d, now);
            at = now;
        } else if (sound_waiting) {
            if (p->asked_ns == 0 && (p->answered_state != p->state || !p->answered_playing ||
                                     now - p->answered_ns >= UPDATE_EVERY_NS))
                ask_position(p);
            at = now + 20000000;
            const WaveHeader* h = d->heard_head;
            if (trusted && h && h->heard_ns == HEARD_WHEN_SERVER_SAYS) {
                const int64_t end = h->stream_pos + int64_t(whole_frames(d, h));
                const int64_t due = now + bytes_to_ns(d, end - heard);
                if (due < at)
                    at = due;
            }
        }
    }
    unlock_loop(p);
    return at;
}

int64_t pulse_latency_ns(AudioDevice* d)
{
    PulseLink* p = d->pulse;
    pa_usec_t usec = 0;
    int negative = 0;
    if (!p || !p->stream || !p->ready || p->failed || pa_stream_get_latency(p->stream, &usec, &negative) < 0)
        return 0;
    return negative ? 0 : int64_t(usec) * 1000;
}
