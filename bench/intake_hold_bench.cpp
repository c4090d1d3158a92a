// The longest the window thread's loop was held from its messages while
// files came in: a drop of a folder tree of many files, many data messages
// from several processes at once, and the media-player interface's OpenUri
// of file:/// (the whole file system). The messages go once over one bus
// connection per sending process, and once through the program's own
// client, one process per message. The player measures itself with a
// 10 ms timer on that loop (--stats: window_holds); this program drives it
// and reads the holds of each phase.
//
// Run on a private display and session bus, in one line:
//   dbus-run-session -- xvfb-run -a -s '-screen 0 1280x1024x24'
//   build/bench/intake_hold_bench build/moravista CLIP [FILES] [SENDS] [SENDERS] [ROOT_SECONDS]
// (defaults 20000 files, 1000 sends from 10 processes, 60 s for file:///).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "tests/support/xdnd_drop.h"

namespace {

uint32_t monotonic_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint32_t(uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000);
}

std::string capture(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A tree of count files in folders of 200: sounds, and one film that sorts
// first among the videos (it is what plays after the drop). Every file is a
// link to one copy of the clip, so whatever plays next opens as a real item.
void make_tree(const std::string& root, const std::string& clip, int count)
{
    mkdir(root.c_str(), 0755);
    mkdir((root + "/disc0").c_str(), 0755);
    std::string film = root + "/disc0/film.mp4";
    std::string copy = "cp '" + clip + "' '" + film + "'";
    if (system(copy.c_str()) != 0)
        fprintf(stderr, "cannot copy the clip\n");
    for (int i = 0; i < count; i++) {
        std::string folder = root + "/disc" + std::to_string(i / 200);
        if (i % 200 == 0)
            mkdir(folder.c_str(), 0755);
        if (link(film.c_str(), (folder + "/track" + std::to_string(i) + ".mp3").c_str()) != 0)
            std::ofstream(folder + "/track" + std::to_string(i) + ".mp3");
    }
}

std::string window_title(unsigned long window)
{
    return capture("xdotool getwindowname " + std::to_string(window) + " 2>/dev/null");
}

// Waits until the window's title holds text; false after timeout_ms.
bool wait_for_title(unsigned long window, const std::string& text, uint32_t timeout_ms)
{
    uint32_t start = monotonic_ms();
    while (monotonic_ms() - start < timeout_ms) {
        if (window_title(window).find(text) != std::string::npos)
            return true;
        usleep(20000);
    }
    return false;
}

struct Hold {
    uint32_t end_ms;
    int held_ms;
    int cpu_ms;    // the window thread's own processor time meanwhile
    int queued_ms; // the time it waited, ready, for a processor
};

std::vector<Hold> holds_of(const std::string& stats)
{
    std::vector<Hold> holds;
    size_t at = stats.find("\"window_holds\":[");
    if (at == std::string::npos)
        return holds;
    const char* p = stats.c_str() + at + 16;
    unsigned end;
    int held, cpu, queued;
    while (sscanf(p, "[%u,%d,%d,%d]", &end, &held, &cpu, &queued) == 4) {
        holds.push_back(Hold{uint32_t(end), held, cpu, queued});
        p = strchr(p, ']') + 1;
        if (*p == ',')
            p++;
    }
    return holds;
}

// The longest hold that ended in [from, to], and of each hold the part the
// window thread spent working or blocked (the hold less its wait for a
// processor that other programs kept busy). The timer lists holds of 20 ms
// or more, so "< 20" is all that can be said of a phase with none.
void report(const char* phase, const std::vector<Hold>& holds, uint32_t from, uint32_t to, int count_done)
{
    int longest = -1, own = -1, listed = 0;
    for (const Hold& h : holds)
        if (int32_t(h.end_ms - from) >= 0 && int32_t(to - h.end_ms) >= 0) {
            longest = h.held_ms > longest ? h.held_ms : longest;
            int held_itself = h.queued_ms >= 0 ? h.held_ms - h.queued_ms : h.held_ms;
            own = held_itself > own ? held_itself : own;
            listed++;
        }
    const char* unfinished = count_done ? "" : " (not finished)";
    if (longest < 0)
        printf("%-44s longest hold < 20 ms (none listed) over %.1f s%s\n", phase, (to - from) / 1000.0, unfinished);
    else
        printf("%-44s longest hold %d ms; without the waits for a busy processor at most %d ms (%d holds of 20 ms "
               "or more) over %.1f s%s\n",
               phase, longest, own < 0 ? 0 : own, listed, (to - from) / 1000.0, unfinished);
}

// One connection to the session bus, count CopyData appends over it; the
// number of calls that failed.
int send_over_one_connection(pid_t player, const std::string& clip, int count)
{
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    GDBusConnection* bus = address ? g_dbus_connection_new_for_address_sync(
                                         address,
                                         GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                         nullptr, nullptr, &error)
                                   : nullptr;
    g_free(address);
    if (!bus)
        return count > 255 ? 255 : count;
    std::string name = "org.moravista.Player.Pid" + std::to_string(player);
    int failed = 0;
    for (int i = 0; i < count; i++) {
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, clip.c_str(), clip.size() + 1, 1);
        GVariant* reply = g_dbus_connection_call_sync(bus, name.c_str(), "/org/moravista/Player", "org.moravista.Player",
                                                      "CopyData", g_variant_new("(t@ay)", guint64(0x6170), bytes),
                                                      G_VARIANT_TYPE("(x)"), G_DBUS_CALL_FLAGS_NONE, 30000, nullptr,
                                                      nullptr);
        if (reply)
            g_variant_unref(reply);
        else
            failed++;
    }
    g_object_unref(bus);
    return failed > 255 ? 255 : failed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s MORAVISTA CLIP [FILES] [SENDS] [SENDERS] [ROOT_SECONDS]\n", argv[0]);
        return 2;
    }
    std::string program = argv[1], clip = argv[2];
    int files = argc > 3 ? atoi(argv[3]) : 20000;
    int sends = argc > 4 ? atoi(argv[4]) : 1000;
    int senders = argc > 5 ? atoi(argv[5]) : 10;
    int root_seconds = argc > 6 ? atoi(argv[6]) : 60;
    const char* display = getenv("DISPLAY");
    if (!display || !getenv("DBUS_SESSION_BUS_ADDRESS")) {
        fprintf(stderr, "run it on a private display and session bus (see the top of the source)\n");
        return 2;
    }
    char folder_template[] = "/tmp/moravista-intake-bench-XXXXXX";
    std::string folder = mkdtemp(folder_template);
    std::string tree = folder + "/tree", stats = folder + "/stats.json";
    make_tree(tree, clip, files);

    pid_t player = fork();
    if (player == 0) {
        execl(program.c_str(), program.c_str(), "--audio=null", "--no-settings", ("--stats=" + stats).c_str(),
              clip.c_str(), nullptr);
        _exit(127);
    }
    std::string found = capture("timeout 20 xdotool search --sync --onlyvisible --name Moravista 2>/dev/null");
    unsigned long window = strtoul(found.c_str(), nullptr, 10);
    if (!window || !wait_for_title(window, "1/1.", 20000)) {
        fprintf(stderr, "the player did not come up\n");
        kill(player, SIGKILL);
        return 1;
    }
    sleep(2); // start-up is not measured
    // 0. The baseline: the clip plays (it repeats), nothing comes in. What
    // the timer sees here is the machine's own noise.
    uint32_t idle_start = monotonic_ms();
    sleep(5);
    uint32_t idle_end = monotonic_ms();

    // 1. The tree dropped on the window (replacing the list): done when the
    // film at its head plays.
    uint32_t drop_start = monotonic_ms();
    std::string dropped = desktop_test::xdnd_drop(display, window, 640, 512, "file://" + tree + "\r\n");
    std::string expected = "1/" + std::to_string(files + 1) + ".";
    bool drop_done = dropped.empty() && wait_for_title(window, expected, 120000);
    uint32_t drop_end = monotonic_ms();
    if (!dropped.empty())
        fprintf(stderr, "the drop failed: %s\n", dropped.c_str());
    sleep(1);

    // 2a. Data messages over the bus: senders processes, each over one
    // connection of its own, sending its share one after the other.
    uint32_t calls_start = monotonic_ms();
    int failed_calls = 0;
    {
        std::vector<pid_t> callers;
        for (int s = 0; s < senders; s++) {
            pid_t caller = fork();
            if (caller == 0)
                _exit(send_over_one_connection(player, clip, sends / senders));
            callers.push_back(caller);
        }
        for (pid_t caller : callers) {
            int status = 0;
            waitpid(caller, &status, 0);
            failed_calls += WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
    }
    uint32_t calls_end = monotonic_ms();
    sleep(1);

    // 2b. The same through the program's client: one process per message.
    uint32_t send_start = monotonic_ms();
    std::vector<pid_t> loops;
    for (int s = 0; s < senders; s++) {
        pid_t loop = fork();
        if (loop == 0) {
            std::string command = program + " --send " + std::to_string(player) + " 0x6170 '" + clip + "' >/dev/null";
            for (int i = 0; i < sends / senders; i++)
                if (system(command.c_str()) != 0)
                    _exit(1);
            _exit(0);
        }
        loops.push_back(loop);
    }
    int failed_loops = 0;
    for (pid_t loop : loops) {
        int status = 0;
        waitpid(loop, &status, 0);
        failed_loops += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    uint32_t send_end = monotonic_ms();
    sleep(1);

    // 3. OpenUri of file:///: answered at once, the whole file system listed
    // elsewhere; measured for root_seconds or until its first entry plays.
    uint32_t root_start = monotonic_ms();
    std::string name = "org.mpris.MediaPlayer2.moravista.instance" + std::to_string(player);
    std::string answer = capture("gdbus call --session --dest " + name +
                                 " --object-path /org/mpris/MediaPlayer2 --method "
                                 "org.mpris.MediaPlayer2.Player.OpenUri file:/// 2>&1");
    uint32_t answered = monotonic_ms();
    // The title's "index/count." shows the count grow once the listing is in.
    auto listed_count = [&] {
        std::string title = window_title(window);
        size_t slash = title.find('/');
        return slash == std::string::npos ? 0L : atol(title.c_str() + slash + 1);
    };
    long before = listed_count();
    bool root_done = false;
    while (monotonic_ms() - root_start < uint32_t(root_seconds) * 1000 && !root_done) {
        usleep(50000);
        root_done = listed_count() > before;
    }
    long root_entries = listed_count() - before;
    uint32_t root_end = monotonic_ms();

    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    std::vector<Hold> holds = holds_of(read_file(stats));
    std::string text = read_file(stats);
    size_t longest_at = text.find("\"window_longest_hold_ms\":");
    printf("intake hold figures: %d files dropped, %d sends from %d processes (%d failed), file:/// for up to %d s\n",
           files, sends, senders, failed_loops, root_seconds);
    report("baseline: playing, nothing comes in", holds, idle_start, idle_end, 1);
    report("drop of the tree until its film plays", holds, drop_start, drop_end, drop_done);
    report("data messages, 10 connections", holds, calls_start, calls_end, failed_calls == 0);
    printf("%-44s %d of %d failed, %.1f s\n", "", failed_calls, sends, (calls_end - calls_start) / 1000.0);
    report("data messages, moravista --send", holds, send_start, send_end, 1);
    printf("%-44s answered in %u ms: %s", "OpenUri file:///", answered - root_start, answer.c_str());
    report("file:/// listed until its entries are in", holds, root_start, root_end, root_done);
    printf("%-44s %ld entries added\n", "", root_entries);
    if (longest_at != std::string::npos)
        printf("longest hold over the whole run, start-up included: %d ms\n", atoi(text.c_str() + longest_at + 25));
    printf("%.1f s for the drop, %.1f s for the messages\n", (drop_end - drop_start) / 1000.0,
           (send_end - send_start) / 1000.0);
    std::string cleanup = "rm -rf '" + folder + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
