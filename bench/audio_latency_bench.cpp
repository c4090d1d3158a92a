// How far the sdl backend's completion reports lie from the moment the sound
// is actually played, measured with SDL's "disk" driver, which writes each
// period it plays to a file and then waits one period: a byte at offset j of
// a period written at time t plays at t + j / byte rate.
//
// A watcher thread polls the file size every 100 us and stamps each period's
// arrival. Every buffer's end offset in the file is known (the silence SDL
// played before the first buffer is found in the file afterwards), so the
// time its last sample played follows; the report time is stamped in the
// completion callback. Prints the offset report - played for each buffer
// and their spread. Also prints the allowance the backend adds for a sound
// server (one period), which the disk driver does not need.
//
// Usage: audio_latency_bench [buffers] (default 80 buffers of 25 ms).
// SDL prints two lines of its own on stderr when the disk driver opens.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

// At 128 kHz stereo a period is 2048 frames: exactly 16 ms, which the disk
// driver's whole-millisecond wait keeps to real time, and 8 KiB, which its
// 4 KiB stdio buffer passes to the file within the same write (a period of
// 4 KiB or less may wait in that buffer for the next one).
constexpr int32_t RATE = 128000;
constexpr int32_t CHANNELS = 2;
constexpr int32_t ALIGN = CHANNELS * 2;
constexpr int32_t BUFFER_FRAMES = RATE / 40; // 25 ms

int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Run {
    std::vector<int64_t> report_ns;
    std::atomic<int> reported{0};
};

void on_report(AudioDevice*, uint32_t message, void* instance, WaveHeader*, uintptr_t)
{
    if (message != WOM_DONE)
        return;
    Run* run = static_cast<Run*>(instance);
    const int n = run->reported.load(std::memory_order_relaxed);
    if (n < int(run->report_ns.size()))
        run->report_ns[size_t(n)] = monotonic_ns();
    run->reported.store(n + 1, std::memory_order_release);
}

struct Growth {
    int64_t at_ns;
    int64_t size_before;
    int64_t size_after;
};

} // namespace

int main(int argc, char** argv)
{
    const int buffers = argc > 1 ? std::max(8, atoi(argv[1])) : 80;
    const std::string raw = "/tmp/mv_latency_bench_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    if (!audio_device_select("sdl"))
        return 1;
    Run run;
    run.report_ns.assign(size_t(buffers), 0);
    std::vector<Growth> growth;
    growth.reserve(100000);
    std::atomic<int> watching{1};
    std::thread watcher([&] {
        int64_t last = 0;
        while (watching.load(std::memory_order_relaxed)) {
            struct stat st;
            if (stat(raw.c_str(), &st) == 0 && st.st_size != last) {
                growth.push_back({monotonic_ns(), last, st.st_size});
                last = st.st_size;
            }
            timespec pause = {0, 100000};
            nanosleep(&pause, nullptr);
        }
    });
    AudioDevice* device = audio_device_open(RATE, CHANNELS, 0x3, on_report, &run);
    if (!device) {
        fprintf(stderr, "the disk driver did not open\n");
        watching.store(0);
        watcher.join();
        return 1;
    }
    const double period_ms = 1000.0 * 2048 / RATE;
    // Buffer k holds the constant k + 1 in every sample, so its place in the
    // file is plain to see.
    std::vector<std::vector<int16_t>> data(size_t(buffers), std::vector<int16_t>(size_t(BUFFER_FRAMES * CHANNELS)));
    std::vector<WaveHeader> headers(static_cast<size_t>(buffers));
    for (int k = 0; k < buffers; ++k) {
        std::fill(data[size_t(k)].begin(), data[size_t(k)].end(), int16_t(k + 1));
        headers[size_t(k)].data = reinterpret_cast<uint8_t*>(data[size_t(k)].data());
        headers[size_t(k)].buffer_length = uint32_t(BUFFER_FRAMES * ALIGN);
    }
    // Keep at most seven queued, as the player does.
    for (int k = 0; k < buffers; ++k) {
        while (k - run.reported.load(std::memory_order_acquire) >= 7) {
            timespec pause = {0, 1000000};
            nanosleep(&pause, nullptr);
        }
        audio_device_prepare(device, &headers[size_t(k)]);
        audio_device_write(device, &headers[size_t(k)]);
    }
    while (run.reported.load(std::memory_order_acquire) < buffers) {
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    const int64_t latency_ns = audio_device_latency_ns(device);
    audio_device_close(device);
    audio_device_shutdown();
    watching.store(0);
    watcher.join();

    // Where the first buffer starts in the file.
    FILE* f = fopen(raw.c_str(), "rb");
    int64_t first_byte = -1;
    if (f) {
        int16_t s;
        int64_t at = 0;
        while (fread(&s, 2, 1, f) == 1) {
            if (s != 0) {
                first_byte = at;
                break;
            }
            at += 2;
        }
        fclose(f);
    }
    remove(raw.c_str());
    if (first_byte < 0) {
        fprintf(stderr, "nothing reached the file\n");
        return 1;
    }
    std::vector<double> offsets_ms;
    for (int k = 0; k < buffers; ++k) {
        const int64_t end = first_byte + int64_t(k + 1) * BUFFER_FRAMES * ALIGN; // one past the last byte
        auto g = std::find_if(growth.begin(), growth.end(), [&](const Growth& x) { return x.size_after >= end; });
        if (g == growth.end())
            continue;
        const double played_ns = double(g->at_ns) + double(end - g->size_before) * 1e9 / (RATE * ALIGN);
        offsets_ms.push_back((double(run.report_ns[size_t(k)]) - played_ns) / 1e6);
    }
    std::vector<double> sorted = offsets_ms;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty())
        return 1;
    double sum = 0;
    for (double v : sorted)
        sum += v;
    printf("sdl backend on the disk driver: %zu buffers of 25 ms, period %.1f ms\n", sorted.size(), period_ms);
    printf("report - played: mean %+.2f ms, median %+.2f ms, min %+.2f ms, max %+.2f ms, p95 %+.2f ms\n",
           sum / double(sorted.size()), sorted[sorted.size() / 2], sorted.front(), sorted.back(),
           sorted[sorted.size() * 95 / 100]);
    const long close = std::count_if(sorted.begin(), sorted.end(), [](double v) { return v > -2.0 && v < 2.0; });
    printf("within 2 ms of the played position: %ld of %zu\n", close, sorted.size());
    printf("allowance the backend adds below SDL: %.1f ms on this driver; one period on a sound server\n",
           double(latency_ns) / 1e6);
    return 0;
}
