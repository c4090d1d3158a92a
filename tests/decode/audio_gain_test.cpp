// The gain stage and the automatic gain: the SSE2 code against the plain
// formulas, the worked values, and the way the automatic gain moves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "decode/decode.h"

namespace {

// 16-byte-aligned samples with room for a misaligned view one sample in.
struct Samples {
    alignas(16) int16_t data[4096 + 16];
};

void fill_random(int16_t* s, int32_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int32_t i = 0; i < count; ++i)
        s[i] = int16_t(any(rng));
    // The extremes are always there.
    if (count > 3) {
        s[0] = -32768;
        s[1] = 32767;
        s[2] = 0;
        s[3] = -1;
    }
}

TEST(AudioGain, sse2_gain_gives_the_same_samples_as_the_scalar_formula)
{
    const uint32_t gains[] = {0, 1, 2, 127, 128, 255, 256, 257, 281, 384, 512, 1408, 2560, 2688, 32767, 40000, 65535,
                              0xFFFFFFFFu};
    const int32_t counts[] = {0, 1, 7, 8, 9, 15, 16, 17, 1001, 4096};
    for (int offset = 0; offset < 2; ++offset) {
        for (uint32_t gain : gains) {
            for (int32_t count : counts) {
                Samples a, b;
                fill_random(a.data + offset, count, gain * 31u + uint32_t(count));
                memcpy(b.data + offset, a.data + offset, sizeof(int16_t) * size_t(count));
                apply_gain(a.data + offset, gain, count);
                apply_gain_reference(b.data + offset, gain, count);
                ASSERT_EQ(0, memcmp(a.data + offset, b.data + offset, sizeof(int16_t) * size_t(count)))
                    << "gain " << gain << " count " << count << " offset " << offset;
            }
        }
    }
}

TEST(AudioGain, gain_rounds_and_saturates_as_stated)
{
    struct Case {
        uint32_t gain;
        int16_t in, out;
    } cases[] = {
        {512, 20000, 32767}, {512, -20000, -32768}, {128, 3, 2},        {128, -3, -1},   {256, -32768, -32768},
        {256, 12345, 12345}, {384, 1000, 1500},     {2688, 100, 1050},  {0, 32767, 0},   {2560, -32768, -32768},
    };
    for (const Case& c : cases) {
        alignas(16) int16_t s[16];
        for (int i = 0; i < 16; ++i)
            s[i] = c.in;
        apply_gain(s, c.gain, 16);
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(c.out, s[i]) << "gain " << c.gain << " in " << c.in;
    }
}

TEST(AudioGain, samples_after_the_last_group_of_eight_are_left_alone)
{
    alignas(16) int16_t s[24];
    for (int i = 0; i < 24; ++i)
        s[i] = 1000;
    apply_gain(s, 512, 21); // two groups and five trailing samples
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(2000, s[i]);
    for (int i = 16; i < 24; ++i)
        EXPECT_EQ(1000, s[i]);
    apply_gain(s, 512, 7); // no complete group
    EXPECT_EQ(2000, s[0]);
    apply_gain(nullptr, 512, 64); // nothing to do, nothing touched
}

TEST(AudioGain, sse2_peak_matches_the_scalar_peak_and_ignores_the_tail)
{
    const int32_t counts[] = {0, 7, 8, 9, 16, 100, 4096};
    for (int offset = 0; offset < 2; ++offset) {
        for (int32_t count : counts) {
            for (uint32_t seed = 0; seed < 20; ++seed) {
                Samples a;
                std::mt19937 rng(seed);
                std::uniform_int_distribution<int> range(1, 32768);
                const int limit = range(rng);
                std::uniform_int_distribution<int> some(-limit, limit - 1);
                for (int32_t i = 0; i < count; ++i)
                    a.data[offset + i] = int16_t(some(rng));
                ASSERT_EQ(chunk_peak_reference(a.data + offset, count), chunk_peak(a.data + offset, count))
                    << "count " << count << " seed " << seed;
            }
        }
    }
    struct Case {
        int16_t sample;
        int32_t peak;
    } cases[] = {{0, 0}, {-1, 0}, {1, 1}, {-2, 1}, {32767, 32767}, {-32768, 32767}, {-100, 99}};
    for (const Case& c : cases) {
        alignas(16) int16_t s[16] = {};
        s[5] = c.sample;
        s[12] = 30000; // beyond the only complete group
        EXPECT_EQ(c.peak, chunk_peak(s, 12)) << c.sample;
        EXPECT_EQ(c.peak, chunk_peak_reference(s, 12)) << c.sample;
    }
}

TEST(AudioGain, automatic_gain_steps_follow_the_peak)
{
    struct Case {
        const char* what;
        uint32_t level_before;
        int32_t peak;
        int32_t dur_ms;
        uint32_t gain;
        uint32_t level_after;
    } cases[] = {
        {"silence leaves everything", 2560000, 0, 25, 0, 2560000},
        {"a full-scale chunk sets the gain to 256 at once", 25600000, 32767, 25, 256, 2560000},
        {"a quiet chunk rises by dur/3000 of the gap", 2560000, 3276, 25, 256, 2560000 + (25600000u - 2560000u) / 120},
        {"the target never exceeds x10", 2560000, 1, 30, 256, 2560000 + (25600000u - 2560000u) / 100},
        {"a louder chunk drops the gain to its target", 25600000, 16383, 25, 512, 5120000},
        {"the current level is used while rising", 5129999, 3276, 0, 512, 5129999},
        {"a chunk of 3 s or more closes the gap", 2560000, 3276, 90000, 256, 25600000},
    };
    for (const Case& c : cases) {
        uint32_t level = c.level_before;
        EXPECT_EQ(c.gain, auto_gain_step(&level, c.peak, c.dur_ms)) << c.what;
        EXPECT_EQ(c.level_after, level) << c.what;
    }
}

TEST(AudioGain, automatic_gain_on_a_quiet_stream_rises_slowly_and_stays_within_ten_times)
{
    AudioOutput* out = new AudioOutput();
    out->audio_rate = 48000;
    out->audio_channels = 2;
    out->audio_block_align = 4;
    auto_gain_level.store(AUTO_GAIN_START);
    alignas(16) int16_t chunk[2400]; // 25 ms of stereo
    uint32_t previous = AUTO_GAIN_START;
    for (int n = 0; n < 2000; ++n) {
        for (int i = 0; i < 2400; ++i)
            chunk[i] = int16_t(i % 2 ? 30 : -31); // peak 30: target 2560
        auto_gain(out, reinterpret_cast<uint8_t*>(chunk), sizeof chunk);
        const uint32_t level = auto_gain_level.load();
        ASSERT_GE(level, previous);
        ASSERT_LE(level, 25600000u);
        // The chunk got the gain the level had before the step.
        const int32_t gain = int32_t(previous / 10000);
        ASSERT_EQ(int16_t((30 * gain + 128) >> 8), chunk[1]) << n;
        previous = level;
    }
    // After a minute of 25 ms chunks the gap has almost closed.
    EXPECT_GT(previous, 25000000u);
    // A loud chunk brings it straight back down.
    for (int i = 0; i < 2400; ++i)
        chunk[i] = int16_t(i % 2 ? 32767 : -32768);
    auto_gain(out, reinterpret_cast<uint8_t*>(chunk), sizeof chunk);
    EXPECT_EQ(2560000u, auto_gain_level.load());
    EXPECT_EQ(32767, chunk[1]);
    EXPECT_EQ(-32768, chunk[0]);
    auto_gain_level.store(AUTO_GAIN_START);
    delete out;
}

TEST(AudioGain, volume_levels_map_to_their_gains)
{
    struct Case {
        uint32_t level, volume, gain;
    } cases[] = {{0, 0, 0},        {1, 1, 2},         {50, 50, 128},     {99, 99, 253},    {100, 100, 256},
                 {105, 105, 268},  {110, 110, 281},   {111, 111, 268},   {120, 120, 384},  {200, 200, 1408},
                 {300, 300, 2688}, {301, 300, 2688},  {100000, 300, 2688}};
    AudioOutput* out = new AudioOutput();
    for (const Case& c : cases) {
        audio_set_volume(out, c.level);
        EXPECT_EQ(c.volume, out->volume.load()) << c.level;
        EXPECT_EQ(c.gain, out->audio_gain.load()) << c.level;
    }
    delete out;
}

} // namespace
