// Sorting a playlist of 100 000 realistic names (series episodes, dated
// camera clips, albums, Chinese titles, serial-numbered recordings) in
// natural order. Prints the median of several runs.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"

static double cpu_now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static std::string realistic_name(std::mt19937* rng, uint32_t i)
{
    static const char* shows[] = {"The.Long.Road", "Night Shift", "星际旅行", "龙之谷", "Cooking_With_Anna"};
    static const char* artists[] = {"Miles Davis", "周杰伦", "Sigur Rós", "Ásgeir", "The Beatles"};
    char name[512];
    uint32_t r = (*rng)();
    switch (i % 5) {
    case 0:
        snprintf(name, sizeof name, "/home/user/Videos/%s/Season %u/%s.S%02uE%02u.1080p.WEB-DL.x264.mkv",
                 shows[r % 5], r % 12 + 1, shows[r % 5], r % 12 + 1, (r >> 8) % 30 + 1);
        break;
    case 1:
        snprintf(name, sizeof name, "/media/camera/DCIM/%03u/VID_%04u%02u%02u_%02u%02u%02u.mp4", r % 200,
                 2010 + r % 15, (r >> 4) % 12 + 1, (r >> 8) % 28 + 1, (r >> 12) % 24, (r >> 16) % 60,
                 (r >> 20) % 60);
        break;
    case 2:
        snprintf(name, sizeof name, "/home/user/Music/%s/Album %u/%02u - Track %u.flac", artists[r % 5],
                 r % 20 + 1, (r >> 8) % 20 + 1, (r >> 12) % 20 + 1);
        break;
    case 3:
        snprintf(name, sizeof name, "/srv/动画/%s 第%u集 [%u].mp4", shows[r % 5], (r >> 4) % 1000 + 1, r % 7);
        break;
    default:
        snprintf(name, sizeof name, "/recordings/cam-%020llu-%u.ts",
                 (unsigned long long)(r) * 1000003ull + i, (r >> 3) % 100);
        break;
    }
    return name;
}

int main(int argc, char** argv)
{
    const uint32_t count = argc > 1 ? uint32_t(atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? atoi(argv[2]) : 7;
    std::mt19937 rng(1);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; i++)
        names.push_back(realistic_name(&rng, i));
    std::vector<double> ms, cpu_ms;
    for (int run = 0; run < runs; run++) {
        PlayerContext* ctx = player_context_new();
        player_setup(ctx);
        std::shuffle(names.begin(), names.end(), rng);
        for (const std::string& n : names)
            playlist_add_entry(ctx, n.c_str(), 0);
        auto start = std::chrono::steady_clock::now();
        double cpu_start = cpu_now_ms();
        playlist_sort(ctx);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu_ms.push_back(cpu_now_ms() - cpu_start);
        playlist_free(ctx);
        player_context_free(ctx);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu_ms.begin(), cpu_ms.end());
    // On a busy machine the processor time says what the sort itself costs.
    printf("playlist_sort: %u names, median %.1f ms wall (min %.1f, max %.1f), %.1f ms processor over %d runs\n",
           count, ms[ms.size() / 2], ms.front(), ms.back(), cpu_ms[cpu_ms.size() / 2], runs);
    return 0;
}
