// The program entry: one context for the life of the process, the engine
// threads, then the window thread's own loop.
#include <csignal>
#include <cstdio>

#include "app/command_line.h"
#include "app/player_context.h"

// Headless: the main thread waits for SIGINT or SIGTERM and ends the process.
static int run_headless()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int signal_number = 0;
    sigwait(&set, &signal_number);
    return 0;
}

int main(int argc, char** argv)
{
    CommandLine cl = parse_command_line(argc, argv);
    if (!cl.error.empty()) {
        fprintf(stderr, "moravista: %s\n%s", cl.error.c_str(), command_line_help());
        return 2;
    }
    if (cl.show_help) {
        fputs(command_line_help(), stdout);
        return 0;
    }
    if (cl.show_version) {
        printf("moravista %s\n", MV_VERSION);
        return 0;
    }
    // Signals are blocked before any thread starts, so every thread inherits
    // the mask and only sigwait sees them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    PlayerContext* ctx = player_context_new();
    if (!ctx) {
        fputs("moravista: out of memory\n", stderr);
        return 1;
    }
    player_init(ctx);
    fputs("moravista: ready\n", stderr);
    return run_headless();
}
