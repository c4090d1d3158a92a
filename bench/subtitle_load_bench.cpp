// Time to load and parse a 5 MB subtitle file into a libass track, from
// reading the file to the last event: SRT and ASS in UTF-8, and SRT in GBK
// (which adds the legacy-encoding detection and conversion). Median of
// several runs each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iconv.h>
#include <string>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "subtitle/subtitle.h"

constexpr size_t FILE_BYTES = 5 * 1000 * 1000;
constexpr int RUNS = 7;

static void clock_text(char* out, size_t size, int ms, char separator)
{
    snprintf(out, size, "%02d:%02d:%02d%c%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, separator, ms % 1000);
}

static std::string srt_text(size_t bytes)
{
    std::string text;
    char start[32], end[32], event[256];
    for (int n = 0; text.size() < bytes; n++) {
        clock_text(start, sizeof start, n * 1500, ',');
        clock_text(end, sizeof end, n * 1500 + 1400, ',');
        snprintf(event, sizeof event, "%d\r\n%s --> %s\r\n第 %d 句：我们明天去看电影吧。\r\nLine %d of the film\r\n\r\n",
                 n + 1, start, end, n, n);
        text += event;
    }
    return text;
}

static std::string ass_text(size_t bytes)
{
    std::string text =
        "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n\n[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
        "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
        "MarginR, MarginV, Encoding\n"
        "Style: Default,SimHei,60,&H00FFFFFF,&H0000FFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,1,2,20,20,30,1\n"
        "\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    char event[256];
    for (int n = 0; text.size() < bytes; n++) {
        int s = n * 1500, e = s + 1400;
        snprintf(event, sizeof event,
                 "Dialogue: 0,%d:%02d:%02d.%02d,%d:%02d:%02d.%02d,Default,,0,0,0,,{\\fad(100,100)\\bord2}第 %d "
                 "句：我们明天去看电影吧。\\NLine %d\n",
                 s / 3600000, s / 60000 % 60, s / 1000 % 60, s % 1000 / 10, e / 3600000, e / 60000 % 60,
                 e / 1000 % 60, e % 1000 / 10, n, n);
        text += event;
    }
    return text;
}

static std::string to_gbk(const std::string& utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size(), out_left = out.size();
    char* o = out.data();
    iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

static std::string write_file(const char* name, const std::string& bytes)
{
    std::string path = std::string("/tmp/moravista_bench_") + std::to_string(getpid()) + "_" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return std::string();
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return path;
}

static double thread_cpu_ms()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

static void measure(const char* label, const std::string& bytes)
{
    std::string path = write_file(label, bytes);
    SubtitleState* state = new SubtitleState();
    add_external_file(state, path.c_str());
    // The first load makes the renderer and the font cache; not counted.
    load_external_file(state, 0);
    // Wall time, and the CPU time of this thread: on a busy machine the
    // second says what the work costs.
    std::vector<double> ms, cpu_ms;
    int events = 0;
    for (int run = 0; run < RUNS; run++) {
        double cpu_start = thread_cpu_ms();
        auto start = std::chrono::steady_clock::now();
        ASS_Track* track = load_external_file(state, 0);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu_ms.push_back(thread_cpu_ms() - cpu_start);
        events = track ? track->n_events : -1;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu_ms.begin(), cpu_ms.end());
    printf("%-12s %5.2f MB %6d events  median %7.1f ms wall (min %.1f, max %.1f), %7.1f ms CPU; %d runs\n", label,
           double(bytes.size()) / 1e6, events, ms[RUNS / 2], ms.front(), ms.back(), cpu_ms[RUNS / 2], RUNS);
    release_subtitles(state);
    free(state->external_files);
    delete state;
    unlink(path.c_str());
}

int main()
{
    const std::string srt = srt_text(FILE_BYTES);
    measure("SRT, UTF-8", srt);
    measure("ASS, UTF-8", ass_text(FILE_BYTES));
    measure("SRT, GBK", to_gbk(srt));
    return 0;
}
