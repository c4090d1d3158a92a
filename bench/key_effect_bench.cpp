// Key to effect on an X display: starts a player on a clip whose pictures
// carry their frame number as a row of bars, presses keys through the XTEST
// extension (as xdotool does) and watches the screen for the first picture
// that shows the effect.
//
//   key_effect_bench press SPACE_OR_RIGHT COUNT -- PLAYER ARGS...
//   key_effect_bench hold SECONDS RATE -- PLAYER ARGS...
//
// press: COUNT presses; for space the time from the key to the last new
// picture (the clock stops), for Right the time to the first picture past
// the jump. hold: Right held at RATE repeats a second; the largest gap
// between two new pictures and how far the position ends from where the
// last key asked. Prints one line of figures; the player is ended with
// SIGTERM.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The clip: 640 x 360 at 30 pictures a second; bars of 32 pixels from
// x = 0, between y = 150 and 210, bit 0 first, bright for a one.
constexpr int BITS = 16;
constexpr int BAR = 32;
constexpr int VIDEO_WIDTH = 640, VIDEO_HEIGHT = 360;
constexpr int FPS = 30;

double now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

struct Watched {
    Display* display;
    Window root;
    Window window;
    int x, y, width, height; // the window on the root
};

long window_pid(Display* d, Window w)
{
    Atom pid_atom = XInternAtom(d, "_NET_WM_PID", True);
    if (pid_atom == None)
        return -1;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(d, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data && count == 1)
        pid = long(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}

bool find_window(Watched* s, pid_t pid)
{
    Window root_return, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(s->display, s->root, &root_return, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; i++) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(s->display, children[i], &a) || a.map_state != IsViewable || a.width < 320)
            continue;
        if (window_pid(s->display, children[i]) != pid)
            continue;
        s->window = children[i];
        Window child;
        XTranslateCoordinates(s->display, children[i], s->root, 0, 0, &s->x, &s->y, &child);
        s->width = a.width;
        s->height = a.height;
        found = true;
    }
    if (children)
        XFree(children);
    return found;
}

// The frame number the window shows, or -1 when the bars cannot be read.
int read_frame(Watched* s)
{
    int row = s->y + s->height * 180 / VIDEO_HEIGHT;
    XImage* image = XGetImage(s->display, s->root, s->x, row, unsigned(s->width), 1, AllPlanes, ZPixmap);
    if (!image)
        return -1;
    int frame = 0;
    for (int b = 0; b < BITS; b++) {
        int x = (b * BAR + BAR / 2) * s->width / VIDEO_WIDTH;
        unsigned long p = XGetPixel(image, x, 0);
        int luma = int((p >> 16) & 0xFF) + int((p >> 8) & 0xFF) + int(p & 0xFF);
        if (luma > 3 * 128)
            frame |= 1 << b;
        else if (luma > 3 * 60)
            frame = -1000000; // between black and white: a picture being drawn or something over the bars
    }
    XDestroyImage(image);
    return frame < 0 ? -1 : frame;
}

struct Change {
    double at_ms;
    int frame;
};

// Watches for duration_ms, noting each new frame number.
std::vector<Change> watch(Watched* s, double duration_ms, int* last)
{
    std::vector<Change> changes;
    double end = now_ms() + duration_ms;
    while (now_ms() < end) {
        int f = read_frame(s);
        if (f >= 0 && f != *last) {
            changes.push_back(Change{now_ms(), f});
            *last = f;
        }
    }
    return changes;
}

void key(Watched* s, KeySym sym, bool press)
{
    XTestFakeKeyEvent(s->display, XKeysymToKeycode(s->display, sym), press ? True : False, CurrentTime);
    XFlush(s->display);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    size_t i = size_t(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

pid_t start_player(char** argv)
{
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv);
        _exit(127);
    }
    return pid;
}

void press_bench(Watched* s, bool space, int count)
{
    std::vector<double> latencies;
    int last = read_frame(s);
    watch(s, 500, &last);
    for (int i = 0; i < count; i++) {
        int before = last;
        double t0 = now_ms();
        key(s, space ? XK_space : XK_Right, true);
        key(s, space ? XK_space : XK_Right, false);
        std::vector<Change> changes = watch(s, space ? 600 : 1500, &last);
        if (space) {
            // The clock has stopped at the last new picture.
            latencies.push_back(changes.empty() ? 0.0 : changes.back().at_ms - t0);
            key(s, XK_space, true);
            key(s, XK_space, false);
            watch(s, 600, &last);
        } else {
            // The first picture at least 3 s past the one shown at the key.
            auto jump = std::find_if(changes.begin(), changes.end(),
                                     [&](const Change& c) { return c.frame - before >= 3 * FPS; });
            if (jump != changes.end())
                latencies.push_back(jump->at_ms - t0);
            watch(s, 300, &last);
        }
    }
    printf("%s: presses %d, effects seen %zu, median %.1f ms, p95 %.1f ms\n", space ? "space" : "right", count,
           latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.95));
}

void hold_bench(Watched* s, double seconds, int rate)
{
    int last = read_frame(s);
    watch(s, 500, &last);
    double start = now_ms(), largest_gap = 0, previous = start;
    double last_key_ms = start;
    int frame_at_last_key = last;
    int keys = 0;
    while (now_ms() - start < seconds * 1000) {
        double next_key = start + keys * 1000.0 / rate;
        if (now_ms() >= next_key) {
            key(s, XK_Right, true); // repeats: presses with no release between them
            keys++;
            last_key_ms = now_ms();
            frame_at_last_key = last;
        }
        int f = read_frame(s);
        if (f >= 0 && f != last) {
            double t = now_ms();
            largest_gap = std::max(largest_gap, t - previous);
            previous = t;
            last = f;
        }
    }
    key(s, XK_Right, false);
    watch(s, 1500, &last);
    // Where the last key asked: 5 s past what it saw, plus the time since.
    double asked = frame_at_last_key / double(FPS) + 5 + (now_ms() - last_key_ms) / 1000.0;
    printf("hold right %.0f s at %d/s: keys %d, largest gap between new pictures %.0f ms, position %.2f s, "
           "last key asked %.2f s, off by %.2f s\n",
           seconds, rate, keys, largest_gap, last / double(FPS), asked, last / double(FPS) - asked);
}

} // namespace

int main(int argc, char** argv)
{
    int dash = 1;
    while (dash < argc && strcmp(argv[dash], "--") != 0)
        dash++;
    if (argc < 5 || dash + 1 >= argc) {
        fprintf(stderr, "usage: key_effect_bench press space|right COUNT -- PLAYER...\n"
                        "       key_effect_bench hold SECONDS RATE -- PLAYER...\n");
        return 2;
    }
    Watched s{};
    s.display = XOpenDisplay(nullptr);
    int event_base, error_base, major, minor;
    if (!s.display || !XTestQueryExtension(s.display, &event_base, &error_base, &major, &minor)) {
        fprintf(stderr, "key_effect_bench: no display with the XTEST extension\n");
        return 1;
    }
    s.root = DefaultRootWindow(s.display);
    pid_t player = start_player(argv + dash + 1);
    double deadline = now_ms() + 60000; // a loaded machine starts slowly
    while (!find_window(&s, player) && now_ms() < deadline)
        usleep(50000);
    if (!s.window) {
        fprintf(stderr, "key_effect_bench: the player's window did not appear\n");
        kill(player, SIGKILL);
        return 1;
    }
    usleep(1500000); // past the start
    XSetInputFocus(s.display, s.window, RevertToParent, CurrentTime);
    XFlush(s.display);
    if (read_frame(&s) < 0)
        fprintf(stderr, "key_effect_bench: the frame number cannot be read from the window\n");
    if (strcmp(argv[1], "press") == 0)
        press_bench(&s, strcmp(argv[2], "space") == 0, atoi(argv[3]));
    else
        hold_bench(&s, atof(argv[2]), atoi(argv[3]));
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    return 0;
}
