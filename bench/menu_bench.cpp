// Time from the context-menu request to the menu on screen, for a playlist
// of many entries: the first showing (the menu is built, then the desktop
// menu made from it) and a cached one. Runs the program's own menu code on a
// real window of the display in DISPLAY (start a private Xvfb for it) while
// the player plays CLIP; the menu counts as on screen when the server shows
// its band's dark grey.
//
// Usage: menu_bench CLIP [ENTRIES] [ROUNDS]   (defaults 10000 and 15)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "decode/decode.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/ui.h"

namespace {

double now_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}


// The server's own view: a second connection reads the pixel where the band
// of a menu opened at the pointer lies.
struct ScreenProbe {
    Display* display;
    int x, y;
};

bool band_on_screen(ScreenProbe* p)
{
    XImage* image = XGetImage(p->display, DefaultRootWindow(p->display), p->x, p->y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return false;
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return (pixel & 0xFFFFFF) == 0x333333;
}

// Shows the menu and turns the loop until the band is on screen; seconds.
double show_and_wait(MainWindow* w, ScreenProbe* probe)
{
    double start = now_seconds();
    show_context_menu(w);
    while (!band_on_screen(probe)) {
        g_main_context_iteration(nullptr, FALSE);
        if (now_seconds() - start > 10) {
            fputs("menu_bench: the menu did not show\n", stderr);
            _exit(1);
        }
    }
    return now_seconds() - start;
}

// Closes the menu and waits until the picture under it has been drawn
// again, so that no band left on screen is taken for the next one.
void close_menu(PlayerContext* ctx, ScreenProbe* probe)
{
    platform_menu_cancel_tracking(ctx->window);
    double start = now_seconds();
    while (ctx->menu_depth.load() != 0 || band_on_screen(probe)) {
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
        if (now_seconds() - start > 10) {
            fputs("menu_bench: the menu stayed on screen\n", stderr);
            _exit(1);
        }
    }
    // No hand clicks again sooner; the desktop settles its focus meanwhile.
    for (double until = now_seconds() + 0.2; now_seconds() < until;) {
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Run {
    PlayerContext* ctx;
    int rounds;
    int entries;
};

// Runs inside the player's own loop once it has played for a while, so
// that fonts, theme and the OSD are as warm as a user's first right click
// finds them.
gboolean measure(gpointer data)
{
    auto* run = static_cast<Run*>(data);
    PlayerContext* ctx = run->ctx;
    MainWindow* w = main_window_of(ctx);
    Display* probe_display = XOpenDisplay(nullptr);
    int x = w->window_screen_x + 300, y = w->window_screen_y + 200;
    XWarpPointer(probe_display, None, DefaultRootWindow(probe_display), 0, 0, 0, 0, x, y);
    XSync(probe_display, False);
    ScreenProbe probe{probe_display, x + 5, y + 60};
    if (band_on_screen(&probe)) {
        fputs("menu_bench: the probe sees the band's colour before any menu\n", stderr);
        _exit(1);
    }

    double cold = show_and_wait(w, &probe);
    close_menu(ctx, &probe);
    std::vector<double> first, cached;
    for (int r = 0; r < run->rounds; r++) {
        cancel_menu(ctx); // dropped: the next showing builds everything again
        first.push_back(show_and_wait(w, &probe));
        close_menu(ctx, &probe);
        cached.push_back(show_and_wait(w, &probe));
        close_menu(ctx, &probe);
    }
    printf("entries %d, rounds %d\n", run->entries, run->rounds);
    printf("first showing of the process: %.1f ms\n", cold * 1000);
    printf("first showing (built): median %.1f ms, max %.1f ms\n", median(first) * 1000,
           *std::max_element(first.begin(), first.end()) * 1000);
    printf("cached showing: median %.1f ms, max %.1f ms\n", median(cached) * 1000,
           *std::max_element(cached.begin(), cached.end()) * 1000);
    fflush(stdout);
    _exit(0);
}

} // namespace

// Usage: menu_bench CLIP [ENTRIES] [ROUNDS]: the clip plays first; the other
// entries are names only.
int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs("usage: menu_bench CLIP [ENTRIES] [ROUNDS]\n", stderr);
        return 2;
    }
    Run run{nullptr, argc > 3 ? atoi(argv[3]) : 15, argc > 2 ? atoi(argv[2]) : 10000};
    std::vector<std::string> items{argv[1]};
    for (int i = 1; i < run.entries; i++)
        items.push_back("/media/films/entry " + std::to_string(i) + ".mkv");
    settings_disable();
    audio_select_backend("null");
    run.ctx = player_context_new();
    player_init(run.ctx);
    g_timeout_add(2500, measure, &run);
    return run_player_window(run.ctx, items);
}
