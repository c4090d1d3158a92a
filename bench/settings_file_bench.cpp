// Saving and loading a settings file that holds 100 000 playlist entries
// (paths, every third with a title, every fifth with parameters). Prints the
// median of several runs of each; the file lives in a temporary folder.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"

// Wall and processor time of one step: on a busy machine the processor
// time says what the step itself costs.
struct Stopwatch {
    std::chrono::steady_clock::time_point wall;
    double cpu_ms;
};

static double cpu_now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static Stopwatch start_watch()
{
    return Stopwatch{std::chrono::steady_clock::now(), cpu_now_ms()};
}

static void stop_watch(const Stopwatch& w, std::vector<double>* wall_ms, std::vector<double>* cpu_ms)
{
    wall_ms->push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w.wall).count());
    cpu_ms->push_back(cpu_now_ms() - w.cpu_ms);
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int main(int argc, char** argv)
{
    const uint32_t count = argc > 1 ? uint32_t(atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? atoi(argv[2]) : 7;
    char folder[] = "/tmp/mv_settings_bench_XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    std::string path = std::string(folder) + "/moravista.ini";
    settings_set_path(path.c_str());
    PlayerContext* source = player_context_new();
    player_setup(source);
    for (uint32_t i = 0; i < count; i++) {
        std::string p = "/home/user/视频/Series " + std::to_string(i % 113) + "/Episode " + std::to_string(i) +
                        " - 1080p.mkv";
        playlist_add_entry(source, p.c_str(), 0);
        if (i % 3 == 0)
            playlist_set_title(source, i, ("第" + std::to_string(i) + "集 标题").c_str());
        if (i % 5 == 0)
            playlist_set_params(source, i, "user_agent=Mozilla/5.0\x01headers=Referer: x\\r\\n");
    }
    std::vector<double> save_ms, load_ms, save_cpu_ms, load_cpu_ms;
    for (int run = 0; run < runs; run++) {
        Stopwatch watch = start_watch();
        if (!settings_save(source))
            return 1;
        stop_watch(watch, &save_ms, &save_cpu_ms);
        PlayerContext* ctx = player_context_new();
        player_setup(ctx);
        watch = start_watch();
        settings_load(ctx);
        stop_watch(watch, &load_ms, &load_cpu_ms);
        if (ctx->item_count.load() != count)
            return 1;
        playlist_free(ctx);
        player_context_free(ctx);
    }
    printf("settings_save: %u entries, median %.1f ms wall, %.1f ms processor over %d runs\n", count,
           median(save_ms), median(save_cpu_ms), runs);
    printf("settings_load: %u entries, median %.1f ms wall, %.1f ms processor over %d runs\n", count,
           median(load_ms), median(load_cpu_ms), runs);
    unlink(path.c_str());
    rmdir(folder);
    playlist_free(source);
    player_context_free(source);
    return 0;
}
