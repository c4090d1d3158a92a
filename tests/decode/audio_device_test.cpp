// The sound device on its own: order, threads and timing of the reports, the
// header rules, closing, the backends and their files, and a sound library
// that cannot or can play.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio_test_support.h"
#include "support/sound_server.h"

namespace {

struct Report {
    WaveHeader* header;
    uint32_t at_ms;
    uintptr_t dropped;
    std::thread::id thread;
};

// What one device's callback saw; the callback runs on the device's thread.
struct Reports {
    std::atomic<int> count;
    std::atomic<int> opens;
    std::atomic<int> closes;
    Report list[64];
};

void record_report(AudioDevice*, uint32_t message, void* instance, WaveHeader* header, uintptr_t dropped)
{
    Reports* r = static_cast<Reports*>(instance);
    if (message == WOM_OPEN)
        r->opens.fetch_add(1);
    if (message == WOM_CLOSE)
        r->closes.fetch_add(1);
    if (message != WOM_DONE)
        return;
    const int n = r->count.load(std::memory_order_relaxed);
    if (n < 64)
        r->list[n] = {header, now_ms(), dropped, std::this_thread::get_id()};
    r->count.store(n + 1, std::memory_order_release);
}

struct Buffers {
    WaveHeader headers[8];
    std::vector<int16_t> samples[8];
};

// Prepares and writes header i holding these samples.
int queue(AudioDevice* device, Buffers* b, int i, std::vector<int16_t> samples)
{
    b->samples[i] = std::move(samples);
    b->headers[i].data = reinterpret_cast<uint8_t*>(b->samples[i].data());
    b->headers[i].buffer_length = uint32_t(b->samples[i].size() * 2);
    EXPECT_EQ(AUDIO_DEVICE_OK, audio_device_prepare(device, &b->headers[i]));
    return audio_device_write(device, &b->headers[i]);
}

TEST(AudioDevice, reports_come_in_order_on_the_device_thread_when_each_buffer_has_played)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    Reports* r = new Reports();
    Buffers* b = new Buffers();
    AudioDevice* device = audio_device_open(48000, 2, 0x3, record_report, r);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(1, r->opens.load());
    EXPECT_EQ(0, audio_device_latency_ns(device));
    const uint32_t start = now_ms();
    // 10, 20, 30, ... 70 ms: 280 ms in all.
    for (int i = 0; i < 7; ++i)
        ASSERT_EQ(AUDIO_DEVICE_OK, queue(device, b, i, tone(480 * (i + 1), 2, 1000)));
    ASSERT_TRUE(wait_for([&] { return r->count.load() == 7; }));
    uint32_t played_ms = 0;
    for (int i = 0; i < 7; ++i) {
        const Report& report = r->list[i];
        played_ms += 10 * uint32_t(i + 1);
        EXPECT_EQ(&b->headers[i], report.header);
        EXPECT_EQ(0u, report.dropped);
        EXPECT_NE(std::this_thread::get_id(), report.thread);
        EXPECT_EQ(r->list[0].thread, report.thread);
        // Never before the sound has played; sanitizers only make it later.
        EXPECT_GE(report.at_ms - start + 1, played_ms) << i;
        EXPECT_EQ(WHDR_DONE | WHDR_PREPARED, b->headers[i].flags.load());
    }
    if (STRESS_SCALE == 1) {
        EXPECT_LE(r->list[6].at_ms - start, 280u + 60u);
    }
    EXPECT_EQ(AUDIO_DEVICE_OK, audio_device_close(device));
    EXPECT_EQ(1, r->closes.load());
    audio_shutdown();
    delete b;
    delete r;
}

TEST(AudioDevice, header_rules_hold_while_a_buffer_is_queued)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    Reports* r = new Reports();
    Buffers* b = new Buffers();
    AudioDevice* device = audio_device_open(8000, 1, 0x4, record_report, r);
    ASSERT_NE(nullptr, device);
    // Not prepared: refused.
    b->samples[0] = tone(8000, 1, 100);
    b->headers[0].data = reinterpret_cast<uint8_t*>(b->samples[0].data());
    b->headers[0].buffer_length = 16000;
    EXPECT_EQ(AUDIO_DEVICE_UNPREPARED, audio_device_write(device, &b->headers[0]));
    ASSERT_EQ(AUDIO_DEVICE_OK, queue(device, b, 0, tone(8000, 1, 100))); // one second
    EXPECT_EQ(WHDR_PREPARED | WHDR_INQUEUE, b->headers[0].flags.load());
    EXPECT_EQ(AUDIO_DEVICE_STILL_PLAYING, audio_device_unprepare(device, &b->headers[0]));
    EXPECT_EQ(AUDIO_DEVICE_STILL_PLAYING, audio_device_write(device, &b->headers[0]));
    EXPECT_EQ(AUDIO_DEVICE_STILL_PLAYING, audio_device_close(device));
    // A buffer with no data but a length is refused outright.
    WaveHeader empty = {};
    empty.buffer_length = 4;
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_write(device, &empty));
    EXPECT_EQ(AUDIO_DEVICE_OK, audio_device_reset(device));
    EXPECT_EQ(1, r->count.load());
    EXPECT_EQ(1u, r->list[0].dropped);
    EXPECT_EQ(std::this_thread::get_id(), r->list[0].thread);
    EXPECT_EQ(AUDIO_DEVICE_OK, audio_device_unprepare(device, &b->headers[0]));
    EXPECT_EQ(WHDR_DONE, b->headers[0].flags.load());
    EXPECT_EQ(AUDIO_DEVICE_OK, audio_device_close(device));
    // A closed device answers every call with an error and reports nothing.
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_close(device));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_prepare(device, &b->headers[0]));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_write(device, &b->headers[0]));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_reset(device));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_pause(device));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_restart(device));
    EXPECT_EQ(0, audio_device_rate(device));
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_reset(nullptr));
    EXPECT_EQ(1, r->count.load());
    audio_shutdown();
    delete b;
    delete r;
}

TEST(AudioDevice, backend_names_are_checked)
{
    struct Case {
        const char* choice;
        int known;
        const char* backend;
    } cases[] = {
        {"pulse", 1, "pulse"}, {"null", 1, "null"}, {"wav:/tmp/x.wav", 1, "wav"}, {"sdl", 1, "sdl"},
        {"wav:", 0, "sdl"},    {"", 0, "sdl"},      {"pulseaudio", 0, "sdl"},   {"SDL", 0, "sdl"},
        {"null ", 0, "sdl"},   {nullptr, 0, "sdl"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.known, audio_select_backend(c.choice)) << (c.choice ? c.choice : "(null)");
        EXPECT_STREQ(c.backend, audio_device_backend()) << (c.choice ? c.choice : "(null)");
    }
    ASSERT_EQ(1, audio_select_backend("null"));
}

TEST(AudioDevice, the_wav_file_follows_format_changes_into_numbered_files)
{
    const std::string path = temp_wav_path("formats");
    const std::string second = path.substr(0, path.size() - 4) + ".2.wav";
    ASSERT_EQ(1, audio_select_backend(("wav:" + path).c_str()));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> a = tone(480, 2, 5000);
    audio_rig_play(rig, a.data(), int32_t(a.size()), 0);
    ASSERT_TRUE(audio_rig_drained(rig));
    // Same format: the device stays, the file goes on.
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    audio_rig_play(rig, a.data(), int32_t(a.size()), 10);
    ASSERT_TRUE(audio_rig_drained(rig));
    // Another format: a second file.
    ASSERT_EQ(1, audio_open_format(rig->out, 22050, 1));
    std::vector<int16_t> m = tone(441, 1, 7000);
    audio_rig_play(rig, m.data(), int32_t(m.size()), 0);
    ASSERT_TRUE(audio_rig_drained(rig));
    EXPECT_EQ(second, audio_device_wav_path());
    WavContents first = read_wav(path);
    ASSERT_TRUE(first.valid);
    EXPECT_EQ(48000u, first.rate);
    std::vector<int16_t> both = a;
    both.insert(both.end(), a.begin(), a.end());
    EXPECT_TRUE(first.samples == both);
    WavContents next = read_wav(second);
    ASSERT_TRUE(next.valid);
    EXPECT_EQ(22050u, next.rate);
    EXPECT_EQ(1, next.channels);
    EXPECT_TRUE(next.samples == m);
    audio_rig_free(rig);
    remove(path.c_str());
    remove(second.c_str());
}

TEST(AudioDevice, a_reset_records_only_what_has_played)
{
    const std::string path = temp_wav_path("cut");
    ASSERT_EQ(1, audio_select_backend(("wav:" + path).c_str()));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 8000, 1));
    std::vector<int16_t> s = tone(8000, 1, 9000); // one second
    audio_rig_play(rig, s.data(), int32_t(s.size()), 0);
    delay_100ns(-1000000); // about 100 ms
    audio_reset(rig->out);
    WavContents w = read_wav(path);
    ASSERT_TRUE(w.valid);
    EXPECT_GE(w.samples.size(), 700u);
    EXPECT_LT(w.samples.size(), 8000u);
    EXPECT_TRUE(std::equal(w.samples.begin(), w.samples.end(), s.begin()));
    audio_rig_free(rig);
    remove(path.c_str());
}

TEST(AudioDevice, a_wav_path_that_cannot_be_written_fails_the_open)
{
    ASSERT_EQ(1, audio_select_backend("wav:/nonexistent-folder/out.wav"));
    AudioRig* rig = audio_rig_new(100);
    EXPECT_EQ(0, audio_open_format(rig->out, 48000, 2));
    EXPECT_EQ(nullptr, rig->out->wave_out.load());
    audio_rig_free(rig);
    ASSERT_EQ(1, audio_select_backend("null"));
}

TEST(AudioDevice, an_unknown_sound_driver_fails_the_open_at_once)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(1, audio_select_backend("sdl"));
    AudioRig* rig = audio_rig_new(100);
    const uint32_t start = now_ms();
    EXPECT_EQ(0, audio_open_format(rig->out, 48000, 2));
    EXPECT_EQ(nullptr, rig->out->wave_out.load());
    EXPECT_LT(now_ms() - start, 2000u);
    std::vector<int16_t> s = tone(480, 2, 1000);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 0); // plays nothing, harms nothing
    EXPECT_EQ(0u, rig->out->header_write.load());
    audio_rig_free(rig);
    unsetenv("SDL_AUDIODRIVER");
    ASSERT_EQ(1, audio_select_backend("null"));
}

// SDL's disk driver writes what it plays to a file, a period at a time.
std::vector<int16_t> play_through_sdl_disk(int32_t channels, const std::vector<int16_t>& samples)
{
    const std::string raw = temp_wav_path("disk") + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    std::vector<int16_t> result;
    EXPECT_EQ(1, audio_select_backend("sdl"));
    AudioRig* rig = audio_rig_new(100);
    EXPECT_EQ(1, audio_open_format(rig->out, 48000, channels));
    if (rig->out->wave_out.load()) {
        const size_t chunk = size_t(1200 * channels);
        for (size_t at = 0; at < samples.size(); at += chunk)
            audio_rig_play(rig, samples.data() + at, int32_t(std::min(chunk, samples.size() - at)), int32_t(at));
        EXPECT_TRUE(audio_rig_drained(rig));
        delay_100ns(SLEEP_30MS);
    }
    audio_rig_free(rig);
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    FILE* f = fopen(raw.c_str(), "rb");
    EXPECT_NE(nullptr, f);
    if (f) {
        int16_t s;
        while (fread(&s, 2, 1, f) == 1)
            result.push_back(s);
        fclose(f);
    }
    remove(raw.c_str());
    audio_select_backend("null");
    return result;
}

TEST(AudioDevice, the_sound_library_plays_every_sample_in_order_on_its_speakers)
{
    struct Case {
        int32_t channels;
        int32_t library_channels;
        int8_t map[8]; // library position -> our channel, -1 silent
    } cases[] = {
        {2, 2, {0, 1}},
        {3, 3, {0, 1, 2}},                     // 2.1 is the library's own order
        {4, 7, {0, 1, 2, -1, 3, -1, -1}},      // front centre and back centre need the 6.1 layout
        {5, 5, {0, 1, 2, 3, 4}},               // 5.0
        {6, 6, {0, 1, 2, 3, 4, 5}},            // 5.1
    };
    for (const Case& c : cases) {
        std::vector<int16_t> in = tone(4800, c.channels, 12000);
        std::vector<int16_t> raw = play_through_sdl_disk(c.channels, in);
        // Silence before the first buffer and after the last one.
        size_t first = 0;
        while (first < raw.size() && raw[first] == 0)
            ++first;
        ASSERT_EQ(0u, first % size_t(c.library_channels)) << c.channels;
        const size_t frames = in.size() / size_t(c.channels);
        ASSERT_GE(raw.size(), first + frames * size_t(c.library_channels)) << c.channels;
        bool same = true;
        for (size_t f = 0; f < frames && same; ++f)
            for (int p = 0; p < c.library_channels; ++p) {
                const int16_t want = c.map[p] < 0 ? 0 : in[f * size_t(c.channels) + size_t(c.map[p])];
                same = same && raw[first + f * size_t(c.library_channels) + size_t(p)] == want;
            }
        EXPECT_TRUE(same) << c.channels << " channels";
        for (size_t i = first + frames * size_t(c.library_channels); i < raw.size(); ++i)
            ASSERT_EQ(0, raw[i]) << c.channels;
    }
}

} // namespace

namespace {

TEST(AudioDevice, a_sound_library_that_stops_asking_for_sound_leaves_the_device_playing_at_real_time_pace)
{
    // The disk driver waits this long between periods, as a dead sound server would.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    const std::string raw = temp_wav_path("stall") + ".raw";
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1500", 1);
    ASSERT_EQ(1, audio_select_backend("sdl"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    delay_100ns(-1000000); // the first period has gone by
    const uint32_t start = now_ms();
    std::vector<int16_t> s = tone(1200, 2, 1000); // 25 ms
    for (int n = 0; n < 4; ++n)
        audio_rig_play(rig, s.data(), int32_t(s.size()), n * 25);
    EXPECT_TRUE(audio_rig_drained(rig, 1400));
    const uint32_t took = now_ms() - start;
    EXPECT_GE(took, 100u); // never faster than the sound itself
    EXPECT_LT(took, 1400u * STRESS_SCALE);
    audio_rig_free(rig);
    unsetenv("SDL_DISKAUDIODELAY");
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_AUDIODRIVER");
    remove(raw.c_str());
    ASSERT_EQ(1, audio_select_backend("null"));
}

} // namespace

namespace {

// Plays a tone through the output for ms milliseconds of wall time, one
// 25 ms chunk whenever the ring has room.
void play_tone_for(AudioRig* rig, uint32_t ms, int32_t* time_ms)
{
    const std::vector<int16_t> chunk = tone(1200, 2, 8000);
    const uint32_t until = now_ms() + ms;
    while (int32_t(until - now_ms()) > 0) {
        if (audio_rig_ring_full(rig)) {
            delay_100ns(SLEEP_1MS);
            continue;
        }
        audio_write(rig->out, audio_rig_chunk(rig, chunk.data(), int32_t(chunk.size()), *time_ms),
                    audio_rig_next(rig));
        *time_ms += 25;
    }
}

// Whether the last second of a recording is the tone, not silence.
bool ends_with_sound(const std::string& recording)
{
    std::vector<double> loudness = recording_loudness(recording);
    if (loudness.size() < 12)
        return false;
    int loud = 0;
    for (size_t i = loudness.size() - 10; i < loudness.size(); i++)
        loud += loudness[i] > 1000;
    return loud >= 7;
}

// A sound server that stalls for a second (a sink switch, a reconnect),
// suspends its sink or restarts must not leave the player silent for the
// rest of the session: the device plays on at real-time pace while the
// server is away and goes back to it as soon as it takes sound again,
// reopening when it is new.
TEST(AudioDevice, sound_comes_back_after_the_sound_server_stalls_suspends_or_restarts)
{
    for (const char* backend : {"sdl", "pulse"}) {
        SCOPED_TRACE(backend);
        SoundServer server;
        ASSERT_TRUE(sound_server_start(&server)) << "pulseaudio did not start";
        ASSERT_EQ(1, audio_select_backend(backend));
        AudioRig* rig = audio_rig_new(100);
        ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
        int32_t time_ms = 0;
        struct Trouble {
            const char* what;
            void (*begin)(SoundServer*);
            void (*end)(SoundServer*);
        } troubles[] = {
            {"stalled", [](SoundServer* s) { sound_server_signal(s, SIGSTOP); },
             [](SoundServer* s) { sound_server_signal(s, SIGCONT); }},
            {"suspended", [](SoundServer* s) { sound_server_suspend(s, true); },
             [](SoundServer* s) { sound_server_suspend(s, false); }},
        };
        for (const Trouble& t : troubles) {
            const std::string recording = temp_wav_path(t.what) + ".raw";
            sound_server_record(&server, recording);
            play_tone_for(rig, 1000, &time_ms);
            t.begin(&server);
            play_tone_for(rig, 1200, &time_ms); // the device gives up on the server after half a second
            t.end(&server);
            play_tone_for(rig, 2000, &time_ms);
            sound_server_stop_recording(&server);
            EXPECT_TRUE(ends_with_sound(recording)) << "silent after the server " << t.what;
            remove(recording.c_str());
        }

        sound_server_stop(&server);
        play_tone_for(rig, 800, &time_ms);
        ASSERT_TRUE(sound_server_start(&server)) << "pulseaudio did not restart";
        const std::string restarted = temp_wav_path("restarted") + ".raw";
        sound_server_record(&server, restarted);
        play_tone_for(rig, 3500, &time_ms);
        sound_server_stop_recording(&server);
        EXPECT_TRUE(ends_with_sound(restarted)) << "silent after the server restarted";

        audio_rig_free(rig);
        sound_server_stop(&server);
        remove(restarted.c_str());
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("PULSE_SERVER");
    }
    ASSERT_EQ(1, audio_select_backend("null"));
}

// What the device says is heard: nothing before the first buffer plays,
// then a position that keeps pace with the wall clock, nothing while paused,
// the same position again after the restart, nothing once the sound has run
// out. Through the server, the position lags what was written by at least
// what the server holds.
TEST(AudioDevice, the_position_heard_keeps_pace_with_the_sound_and_stops_with_it)
{
    for (const char* backend : {"null", "pulse"}) {
        SCOPED_TRACE(backend);
        SoundServer server;
        const bool pulse = strcmp(backend, "pulse") == 0;
        if (pulse) {
            ASSERT_TRUE(sound_server_start(&server)) << "pulseaudio did not start";
            // Listened to, the sink runs at a desktop's latency (idle, a null
            // sink renders two seconds ahead before it takes a new stream).
            sound_server_record(&server, "/dev/null");
        }
        ASSERT_EQ(1, audio_select_backend(backend));
        AudioRig* rig = audio_rig_new(100);
        ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
        int32_t heard = 0;
        EXPECT_FALSE(audio_heard_ms(rig->out, &heard));
        int32_t time_ms = 10000;
        play_tone_for(rig, 600, &time_ms);
        ASSERT_TRUE(wait_for([&] { return audio_heard_ms(rig->out, &heard); }));
        const uint32_t start_wall = now_ms();
        const int32_t start_heard = heard;
        play_tone_for(rig, 1000, &time_ms);
        ASSERT_TRUE(audio_heard_ms(rig->out, &heard));
        const int32_t drift = (heard - start_heard) - int32_t(now_ms() - start_wall);
        EXPECT_LE(std::abs(drift), 15 * STRESS_SCALE) << "the position runs at the wall clock's pace";
        // Written up to time_ms; the ring and the server hold the rest.
        EXPECT_GE(time_ms - heard, pulse ? 30 : 0);
        EXPECT_LE(time_ms - heard, 175 + 25 + 10);
        audio_pause(rig->out);
        delay_100ns(SLEEP_30MS);
        EXPECT_FALSE(audio_heard_ms(rig->out, &heard)) << "paused";
        int32_t at_pause = 0;
        audio_restart(rig->out);
        ASSERT_TRUE(wait_for([&] { return audio_heard_ms(rig->out, &at_pause); }));
        EXPECT_LE(std::abs(at_pause - heard), 80) << "restarted where it stood";
        ASSERT_TRUE(audio_rig_drained(rig));
        delay_100ns(SLEEP_30MS);
        EXPECT_FALSE(audio_heard_ms(rig->out, &heard)) << "the sound ran out";
        audio_rig_free(rig);
        if (pulse)
            sound_server_stop(&server);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("PULSE_SERVER");
    }
    ASSERT_EQ(1, audio_select_backend("null"));
}

} // namespace
