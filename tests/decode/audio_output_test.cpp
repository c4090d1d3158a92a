// The audio output on the null and wav devices: what reaches the device, the
// ring of eight buffers, the clock reports, opening and reopening, and the
// volume levels.
#include <atomic>
#include <thread>

#include "audio_test_support.h"

namespace {

// The samples the device should receive for a chunk at a volume level.
std::vector<int16_t> expected_after_gain(std::vector<int16_t> s, uint32_t volume, uint32_t* level, int32_t dur_ms)
{
    if (volume == VOLUME_AUTO_GAIN) {
        const uint32_t gain = auto_gain_step(level, chunk_peak_reference(s.data(), int32_t(s.size())), dur_ms);
        if (gain)
            apply_gain_reference(s.data(), gain, int32_t(s.size()));
    } else if (volume != VOLUME_UNCHANGED) {
        AudioOutput probe = {};
        audio_set_volume(&probe, volume);
        apply_gain_reference(s.data(), probe.audio_gain.load(), int32_t(s.size()));
    }
    return s;
}

TEST(AudioOutput, a_tone_reaches_the_wav_device_sample_exact_with_the_gain_applied)
{
    struct Case {
        uint32_t volume;
        int32_t rate, channels, amplitude;
    } cases[] = {
        {100, 48000, 2, 20000}, {50, 44100, 2, 30000}, {200, 48000, 1, 12000}, {110, 22050, 2, 3000},
        {300, 8000, 1, 20000},  {110, 48000, 6, 32767},
    };
    for (const Case& c : cases) {
        const std::string path = temp_wav_path("tone");
        ASSERT_EQ(1, audio_select_backend(("wav:" + path).c_str()));
        AudioRig* rig = audio_rig_new(c.volume);
        auto_gain_level.store(AUTO_GAIN_START);
        uint32_t level = AUTO_GAIN_START;
        ASSERT_EQ(1, audio_open_format(rig->out, c.rate, c.channels));
        // 12 chunks of 25 ms, the last one a little shorter with an odd tail.
        const int32_t chunk_frames = c.rate / 40;
        std::vector<int16_t> expected;
        for (int n = 0; n < 12; ++n) {
            const int32_t frames = n == 11 ? chunk_frames - 3 : chunk_frames;
            std::vector<int16_t> s = tone(frames, c.channels, c.amplitude * (n % 3 + 1) / 3, uint32_t(n * chunk_frames));
            const int32_t dur_ms = int32_t(int64_t(frames) * 1000 / c.rate);
            std::vector<int16_t> gained = expected_after_gain(s, c.volume, &level, dur_ms);
            expected.insert(expected.end(), gained.begin(), gained.end());
            audio_rig_play(rig, s.data(), int32_t(s.size()), n * 25);
        }
        ASSERT_TRUE(audio_rig_drained(rig));
        WavContents w = read_wav(path);
        ASSERT_TRUE(w.valid) << path;
        EXPECT_EQ(uint32_t(c.rate), w.rate);
        EXPECT_EQ(c.channels, w.channels);
        EXPECT_EQ(16, w.bits);
        EXPECT_EQ(c.channels > 2 ? 0xFFFE : 1, w.format_tag);
        ASSERT_EQ(expected.size(), w.samples.size());
        EXPECT_TRUE(expected == w.samples) << "volume " << c.volume;
        if (c.volume == VOLUME_AUTO_GAIN) {
            EXPECT_EQ(level, auto_gain_level.load());
        }
        audio_rig_free(rig);
        // After the program ends the file is still complete.
        EXPECT_TRUE(read_wav(path).samples == expected);
        remove(path.c_str());
    }
    auto_gain_level.store(AUTO_GAIN_START);
}

TEST(AudioOutput, the_device_takes_the_chunk_buffer_and_gives_back_the_one_it_played)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> s = tone(480, 2, 1000);
    FrameEntry* first = audio_rig_chunk(rig, s.data(), int32_t(s.size()), 0);
    uint8_t* first_buffer = first->audio_data;
    const int32_t first_capacity = first->audio_capacity;
    audio_write(rig->out, first, audio_rig_next(rig));
    EXPECT_EQ(nullptr, first->audio_data);
    EXPECT_EQ(0, first->audio_capacity);
    EXPECT_EQ(first_buffer, rig->out->wave_headers[0].wave.data);
    EXPECT_EQ(first_capacity, rig->out->wave_headers[0].capacity);
    ASSERT_TRUE(audio_rig_drained(rig));
    // Eight chunks later header 0 comes round again and hands its buffer out.
    FrameEntry* last = nullptr;
    uint8_t* last_buffer = nullptr;
    for (int n = 1; n <= 8; ++n) {
        ASSERT_TRUE(wait_for([&] { return !audio_rig_ring_full(rig); }));
        last = audio_rig_chunk(rig, s.data(), int32_t(s.size()), n * 5);
        last_buffer = last->audio_data;
        audio_write(rig->out, last, audio_rig_next(rig));
    }
    EXPECT_EQ(first_buffer, last->audio_data);
    EXPECT_EQ(last_buffer, rig->out->wave_headers[0].wave.data);
    audio_rig_free(rig);
}

TEST(AudioOutput, volume_zero_sends_nothing_and_moves_nothing)
{
    const std::string path = temp_wav_path("mute");
    ASSERT_EQ(1, audio_select_backend(("wav:" + path).c_str()));
    AudioRig* rig = audio_rig_new(0);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> s = tone(1200, 2, 1000);
    for (int n = 0; n < 5; ++n) {
        FrameEntry* e = audio_rig_chunk(rig, s.data(), int32_t(s.size()), 1000 + n * 25);
        uint8_t* buffer = e->audio_data;
        audio_write(rig->out, e, audio_rig_next(rig));
        EXPECT_EQ(buffer, e->audio_data);
        EXPECT_EQ(0, memcmp(e->audio_data, s.data(), s.size() * 2)); // not even scaled
    }
    EXPECT_EQ(0u, rig->out->header_write.load());
    delay_100ns(SLEEP_30MS);
    EXPECT_EQ(0u, rig->out->header_done.load());
    EXPECT_EQ(0, rig->out->audio_clock_ms.load());
    EXPECT_EQ(0u, rig->out->wave_headers[0].wave.flags.load());
    WavContents w = read_wav(path);
    ASSERT_TRUE(w.valid);
    EXPECT_TRUE(w.samples.empty());
    audio_rig_free(rig);
    remove(path.c_str());
}

TEST(AudioOutput, a_reset_with_seven_buffers_queued_reports_all_seven_before_it_returns)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> s = tone(48000, 2, 1000); // one second each
    for (int n = 0; n < 7; ++n)
        audio_rig_play(rig, s.data(), int32_t(s.size()), 5000 + n * 1000);
    EXPECT_EQ(7u, rig->out->header_write.load());
    EXPECT_TRUE(audio_rig_ring_full(rig));
    EXPECT_EQ(0u, rig->out->header_done.load());
    // An eighth chunk would reuse the header the device plays first: refused.
    FrameEntry* eighth = audio_rig_chunk(rig, s.data(), 480, 12000);
    uint8_t* kept = eighth->audio_data;
    audio_write(rig->out, eighth, 0);
    EXPECT_EQ(7u, rig->out->header_write.load());
    EXPECT_EQ(kept, eighth->audio_data);
    audio_reset(rig->out);
    EXPECT_EQ(7u, rig->out->header_done.load());
    EXPECT_EQ(0, rig->out->audio_clock_ms.load());
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(WHDR_DONE | WHDR_PREPARED, rig->out->wave_headers[i].wave.flags.load()) << i;
    // Nothing was heard, so the statistics saw no position.
    EXPECT_EQ(0u, rig->out->heard_wall_ms.load());
    // The ring goes on where it stopped.
    audio_rig_play(rig, s.data(), 480, 9000);
    EXPECT_EQ(0u, rig->out->header_write.load());
    audio_rig_free(rig);
}

TEST(AudioOutput, each_finished_buffer_publishes_the_time_of_the_next_one_until_the_last)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    // One round of the ring first, so every header holds an old time.
    std::vector<int16_t> short_chunk = tone(96, 2, 1000);
    for (int n = 0; n < 8; ++n)
        audio_rig_play(rig, short_chunk.data(), int32_t(short_chunk.size()), 100 + n * 2);
    ASSERT_TRUE(audio_rig_drained(rig));
    rig->out->audio_clock_ms.store(0);
    std::vector<int16_t> s = tone(960, 2, 1000); // 20 ms
    audio_pause(rig->out);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 4000);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 4020);
    const uint32_t before = now_ms();
    audio_restart(rig->out);
    ASSERT_TRUE(wait_for([&] { return rig->out->audio_clock_ms.load() != 0; }));
    EXPECT_EQ(4020, rig->out->audio_clock_ms.load());
    EXPECT_EQ(4020, rig->out->heard_time_ms.load());
    EXPECT_GE(rig->out->heard_wall_ms.load() - before, 19u);
    rig->out->audio_clock_ms.store(0); // consumed, as the presentation thread does
    ASSERT_TRUE(audio_rig_drained(rig));
    delay_100ns(SLEEP_10MS);
    EXPECT_EQ(0, rig->out->audio_clock_ms.load());
    EXPECT_EQ(4040, rig->out->heard_time_ms.load());
    EXPECT_GE(rig->out->heard_wall_ms.load() - before, 39u);
    audio_rig_free(rig);
}

TEST(AudioOutput, a_paused_device_holds_its_buffers_until_restarted)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> s = tone(2400, 2, 1000); // 50 ms
    audio_rig_play(rig, s.data(), int32_t(s.size()), 0);
    delay_100ns(-200000); // 20 ms of the first buffer play
    audio_pause(rig->out);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 50);
    delay_100ns(-1000000); // 100 ms paused
    EXPECT_EQ(0u, rig->out->header_done.load());
    const uint32_t restarted = now_ms();
    audio_restart(rig->out);
    ASSERT_TRUE(wait_for([&] { return rig->out->header_done.load() == 1; }));
    // The first buffer had about 30 ms left; the pause did not eat them.
    EXPECT_GE(now_ms() - restarted, 25u);
    ASSERT_TRUE(audio_rig_drained(rig));
    EXPECT_GE(now_ms() - restarted, 75u);
    audio_rig_free(rig);
}

TEST(AudioOutput, reopening_with_the_same_format_keeps_the_device_and_only_resets_it)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    AudioDevice* device = rig->out->wave_out.load();
    rig->out->audio_in_channels = 2; // as if the decoder had made its resampler
    std::vector<int16_t> s = tone(48000, 2, 1000);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 100);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 1100);
    rig->out->audio_clock_ms.store(77);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    EXPECT_EQ(device, rig->out->wave_out.load());
    EXPECT_EQ(2, rig->out->audio_in_channels);
    EXPECT_EQ(rig->out->header_write.load(), rig->out->header_done.load());
    EXPECT_EQ(0, rig->out->audio_clock_ms.load());
    // A stream with ten channels opens six, which the open device already has not.
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 8));
    EXPECT_EQ(0, rig->out->audio_in_channels);
    EXPECT_EQ(6, rig->out->audio_channels);
    EXPECT_EQ(12, rig->out->audio_block_align);
    EXPECT_EQ(6, audio_device_channels(rig->out->wave_out.load()));
    rig->out->audio_in_channels = 6;
    // Another rate reopens too.
    ASSERT_EQ(1, audio_open_format(rig->out, 44100, 6));
    EXPECT_EQ(0, rig->out->audio_in_channels);
    EXPECT_EQ(44100, audio_device_rate(rig->out->wave_out.load()));
    audio_rig_free(rig);
}

TEST(AudioOutput, rates_and_channel_counts_outside_the_device_range_play_without_sound)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    struct Case {
        int32_t rate, channels;
        int opens;
        int32_t device_channels;
    } cases[] = {
        {8000, 1, 1, 1},   {192000, 8, 1, 6}, {44100, 3, 1, 3}, {96000, 7, 1, 6}, {7999, 2, 0, 0},
        {192001, 2, 0, 0}, {0, 2, 0, 0},      {-48000, 2, 0, 0}, {48000, 0, 0, 0}, {48000, 9, 0, 0},
        {48000, -2, 0, 0}, {2147483647, 2, 0, 0},
    };
    AudioRig* rig = audio_rig_new(100);
    for (const Case& c : cases) {
        EXPECT_EQ(c.opens, audio_open_format(rig->out, c.rate, c.channels)) << c.rate << " Hz " << c.channels;
        AudioDevice* device = rig->out->wave_out.load();
        EXPECT_EQ(c.opens != 0, device != nullptr);
        EXPECT_EQ(c.device_channels, audio_device_channels(device));
        // Writing to an output that failed to open does nothing.
        std::vector<int16_t> s = tone(400, 2, 1000);
        audio_rig_play(rig, s.data(), int32_t(s.size()), 0);
        ASSERT_TRUE(audio_rig_drained(rig));
    }
    EXPECT_EQ(0, audio_open(rig->out, nullptr));
    audio_rig_free(rig);
}

TEST(AudioOutput, the_device_is_told_the_speakers_the_decoder_converts_to)
{
    // The decoder converts to FFmpeg's default layout for the channel count.
    struct Case {
        int32_t channels;
        uint32_t mask;
    } cases[] = {{0, 0}, {1, 0x4}, {2, 0x3}, {3, 0xB}, {4, 0x107}, {5, 0x37}, {6, 0x3F}, {7, 0}, {8, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(c.mask, audio_channel_mask(c.channels)) << c.channels;
    // An eight-channel stream is recorded as six channels, 5.1.
    const std::string path = temp_wav_path("surround");
    ASSERT_EQ(1, audio_select_backend(("wav:" + path).c_str()));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 8));
    std::vector<int16_t> s = tone(480, 6, 1000);
    audio_rig_play(rig, s.data(), int32_t(s.size()), 0);
    ASSERT_TRUE(audio_rig_drained(rig));
    WavContents w = read_wav(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(6, w.channels);
    EXPECT_EQ(0x3Fu, w.channel_mask);
    EXPECT_TRUE(w.samples == s);
    audio_rig_free(rig);
    remove(path.c_str());
}

TEST(AudioOutput, bad_chunks_are_refused_without_touching_the_ring)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(200);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    std::vector<int16_t> s = tone(480, 2, 1000);
    FrameEntry* e = audio_rig_chunk(rig, s.data(), int32_t(s.size()), 0);
    struct Case {
        int32_t bytes;
        int32_t capacity;
        bool null_data;
        uint32_t next;
    } cases[] = {{-2, 1920, false, 1}, {4000, 1920, false, 1}, {100, 1920, true, 1}, {1920, 1920, false, 5},
                 {1920, 1920, false, 0}};
    for (const Case& c : cases) {
        FrameEntry bad = *e;
        bad.audio_bytes = c.bytes;
        bad.audio_capacity = c.capacity;
        if (c.null_data)
            bad.audio_data = nullptr;
        audio_write(rig->out, &bad, c.next);
        EXPECT_EQ(0u, rig->out->header_write.load());
        EXPECT_EQ(nullptr, rig->out->wave_headers[0].wave.data);
    }
    audio_write(rig->out, nullptr, 1);
    EXPECT_EQ(0, memcmp(e->audio_data, s.data(), s.size() * 2)); // the gain never ran
    // An empty chunk is a valid buffer of no sound.
    e->audio_bytes = 0;
    audio_write(rig->out, e, 1);
    EXPECT_EQ(1u, rig->out->header_write.load());
    ASSERT_TRUE(audio_rig_drained(rig));
    audio_rig_free(rig);
}

TEST(AudioOutput, releasing_the_output_closes_its_device_and_frees_every_buffer)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(100);
    ASSERT_EQ(1, audio_open_format(rig->out, 48000, 2));
    AudioDevice* device = rig->out->wave_out.load();
    std::vector<int16_t> s = tone(48000, 2, 1000);
    for (int n = 0; n < 5; ++n)
        audio_rig_play(rig, s.data(), int32_t(s.size()), n * 1000);
    audio_release(rig->out);
    EXPECT_EQ(nullptr, rig->out->wave_out.load());
    EXPECT_EQ(rig->out->header_write.load(), rig->out->header_done.load());
    EXPECT_EQ(AUDIO_DEVICE_ERROR, audio_device_reset(device));
    for (const AudioHeader& h : rig->out->wave_headers)
        EXPECT_EQ(nullptr, h.wave.data);
    // The record may now go; nothing reports into it any more.
    audio_rig_free(rig);
}

TEST(AudioOutput, writer_controller_and_device_threads_keep_the_ring_consistent)
{
    ASSERT_EQ(1, audio_select_backend("null"));
    AudioRig* rig = audio_rig_new(110);
    ASSERT_EQ(1, audio_open_format(rig->out, 8000, 1));
    std::atomic<int> stop{0};
    std::atomic<int> chunks{0};
    // The presentation side: 2 ms chunks whenever the ring has room.
    std::thread writer([&] {
        std::vector<int16_t> s = tone(16, 1, 8000);
        int32_t t = 0;
        while (!stop.load()) {
            if (!audio_rig_ring_full(rig)) {
                audio_write(rig->out, audio_rig_chunk(rig, s.data(), int32_t(s.size()), t += 2), audio_rig_next(rig));
                chunks.fetch_add(1);
            } else {
                delay_100ns(SLEEP_1MS);
            }
            rig->out->audio_clock_ms.exchange(0);
        }
    });
    // The window side: volume, pause and restart; the media side: resets.
    std::thread controller([&] {
        for (int i = 0; i < 200 && !stop.load(); ++i) {
            audio_set_volume(rig->out, uint32_t(i % 4 == 0 ? 110 : 90 + i % 3 * 10));
            if (i % 7 == 0)
                audio_pause(rig->out);
            if (i % 7 == 3)
                audio_restart(rig->out);
            if (i % 11 == 0)
                audio_reset(rig->out);
            delay_100ns(SLEEP_1MS);
        }
        audio_restart(rig->out);
    });
    controller.join();
    stop.store(1);
    writer.join();
    EXPECT_GT(chunks.load(), 10);
    ASSERT_TRUE(audio_rig_drained(rig));
    audio_rig_free(rig);
    auto_gain_level.store(AUTO_GAIN_START);
}

} // namespace
