// Throughput of the gain stage and of the automatic gain, SSE2 against the
// plain formulas, on 25 ms chunks of 48 kHz stereo (2400 samples), the size
// the decoder publishes. Prints samples per second.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "decode/decode.h"

namespace {

constexpr int32_t CHUNK_SAMPLES = 2400;
constexpr int CHUNKS = 64;

alignas(16) int16_t source[CHUNKS][CHUNK_SAMPLES];
alignas(16) int16_t work[CHUNKS][CHUNK_SAMPLES];
volatile int32_t sink;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs one pass over every chunk until at least 0.5 s have gone by; returns
// samples per second. The copy back from the source is timed separately and
// taken off.
template <typename Pass> double rate(Pass pass)
{
    long passes = 0;
    double copy_s = 0;
    const auto start = std::chrono::steady_clock::now();
    while (seconds_since(start) < 0.5) {
        const auto copy_start = std::chrono::steady_clock::now();
        memcpy(work, source, sizeof work);
        copy_s += seconds_since(copy_start);
        for (int c = 0; c < CHUNKS; ++c)
            pass(work[c]);
        ++passes;
    }
    const double busy = seconds_since(start) - copy_s;
    return double(passes) * CHUNKS * CHUNK_SAMPLES / busy;
}

uint32_t bench_level;

void auto_gain_sse2(int16_t* s)
{
    const uint32_t gain = auto_gain_step(&bench_level, chunk_peak(s, CHUNK_SAMPLES), 25);
    if (gain)
        apply_gain(s, gain, CHUNK_SAMPLES);
}

void auto_gain_scalar(int16_t* s)
{
    const uint32_t gain = auto_gain_step(&bench_level, chunk_peak_reference(s, CHUNK_SAMPLES), 25);
    if (gain)
        apply_gain_reference(s, gain, CHUNK_SAMPLES);
}

} // namespace

int main()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> quiet(-3000, 3000);
    for (auto& chunk : source)
        for (int16_t& s : chunk)
            s = int16_t(quiet(rng));
    const double gain_sse2 = rate([](int16_t* s) { apply_gain(s, 1408, CHUNK_SAMPLES); });
    const double gain_scalar = rate([](int16_t* s) { apply_gain_reference(s, 1408, CHUNK_SAMPLES); });
    const double peak_sse2 = rate([](int16_t* s) { sink = chunk_peak(s, CHUNK_SAMPLES); });
    const double peak_scalar = rate([](int16_t* s) { sink = chunk_peak_reference(s, CHUNK_SAMPLES); });
    bench_level = AUTO_GAIN_START;
    const double auto_sse2 = rate(auto_gain_sse2);
    bench_level = AUTO_GAIN_START;
    const double auto_scalar = rate(auto_gain_scalar);
    printf("apply_gain      SSE2 %8.0f Msamples/s  scalar %8.0f Msamples/s  x%.1f\n", gain_sse2 / 1e6,
           gain_scalar / 1e6, gain_sse2 / gain_scalar);
    printf("peak            SSE2 %8.0f Msamples/s  scalar %8.0f Msamples/s  x%.1f\n", peak_sse2 / 1e6,
           peak_scalar / 1e6, peak_sse2 / peak_scalar);
    printf("automatic gain  SSE2 %8.0f Msamples/s  scalar %8.0f Msamples/s  x%.1f\n", auto_sse2 / 1e6,
           auto_scalar / 1e6, auto_sse2 / auto_scalar);
    // For scale: 48 kHz 5.1 sound is 288 000 samples per second.
    printf("automatic gain on 48 kHz 5.1: %.4f%% of one core (SSE2)\n", 288000.0 / auto_sse2 * 100);
    return 0;
}
