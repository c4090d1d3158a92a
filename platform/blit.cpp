// The picture's way to the screen: the presentation thread copies the frame
// buffer into the window's picture child on a display connection of its own,
// through a shared-memory image where the server is on this machine and a
// plain image upload where it is not.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/window_internal.h"

struct BlitState {
    Display* display;
    GC gc;
    Visual* visual;
    int depth;
    bool usable;   // the window's pixel format is 32-bit BGRX
    bool use_shm;
    XImage* image; // the shared image, capacity_width x capacity_height
    XShmSegmentInfo segment;
    int capacity_width, capacity_height;
};

namespace {

constexpr int GROWTH_STEP = 128;

int round_up(int side)
{
    return (side + GROWTH_STEP - 1) / GROWTH_STEP * GROWTH_STEP;
}

bool server_is_local(const char* name)
{
    // ":0", "unix:0" and XWayland's sockets share memory with us; a host name
    // (ssh forwarding) does not.
    return name[0] == ':' || strncmp(name, "unix:", 5) == 0;
}

void release_shared_image(BlitState* s)
{
    if (!s->image)
        return;
    XShmDetach(s->display, &s->segment);
    XSync(s->display, False);
    XDestroyImage(s->image); // frees the XImage only: data is the segment
    shmdt(s->segment.shmaddr);
    s->image = nullptr;
    s->capacity_width = s->capacity_height = 0;
}

bool make_shared_image(BlitState* s, int width, int height)
{
    XImage* image = XShmCreateImage(s->display, s->visual, unsigned(s->depth), ZPixmap, nullptr, &s->segment,
                                    unsigned(width), unsigned(height));
    if (!image)
        return false;
    size_t bytes = size_t(image->bytes_per_line) * size_t(height);
    s->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (s->segment.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    s->segment.shmaddr = image->data = static_cast<char*>(shmat(s->segment.shmid, nullptr, 0));
    s->segment.readOnly = True;
    bool attached = s->segment.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(s->display, &s->segment);
    XSync(s->display, False);
    // Marked for removal now: it goes away with the last detach, even if we crash.
    shmctl(s->segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
        if (s->segment.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(s->segment.shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        return false;
    }
    s->image = image;
    s->capacity_width = width;
    s->capacity_height = height;
    return true;
}

BlitState* open_blit(PlatformWindow* w, unsigned long xid)
{
    auto* s = new BlitState{};
    s->display = XOpenDisplay(w->display_name);
    if (!s->display)
        return s;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(s->display, xid, &attributes))
        return s;
    s->visual = attributes.visual;
    s->depth = attributes.depth;
    s->usable = (s->depth == 24 || s->depth == 32) && s->visual->red_mask == 0xFF0000 &&
                s->visual->green_mask == 0xFF00 && s->visual->blue_mask == 0xFF;
    if (!s->usable) {
        fprintf(stderr, "moravista: the screen's colour depth (%d bits) cannot show pictures; use 24-bit colour\n",
                s->depth);
        return s;
    }
    s->gc = XCreateGC(s->display, xid, 0, nullptr);
    s->use_shm = server_is_local(w->display_name) && XShmQueryExtension(s->display);
    return s;
}

void put_shared(BlitState* s, unsigned long xid, const uint8_t* bgrx, int pitch, int width, int height)
{
    int64_t needed = int64_t(width) * height;
    int64_t capacity = int64_t(s->capacity_width) * s->capacity_height;
    // Grown when too small, in steps, so that a window resized by the
    // pointer does not make a new segment for every picture; shrunk when
    // four times too big (after a huge window).
    if (width > s->capacity_width || height > s->capacity_height || needed * 4 < capacity) {
        release_shared_image(s);
        if (!make_shared_image(s, round_up(width), round_up(height))) {
            s->use_shm = false;
            return;
        }
    }
    for (int y = 0; y < height; y++)
        memcpy(s->image->data + int64_t(y) * s->image->bytes_per_line, bgrx + int64_t(y) * pitch,
               size_t(width) * 4);
    XShmPutImage(s->display, xid, s->gc, s->image, 0, 0, 0, 0, unsigned(width), unsigned(height), False);
}

void put_plain(BlitState* s, unsigned long xid, const uint8_t* bgrx, int pitch, int width, int height)
{
    XImage* image = XCreateImage(s->display, s->visual, unsigned(s->depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(const_cast<uint8_t*>(bgrx)), unsigned(width),
                                 unsigned(height), 32, pitch);
    if (!image)
        return;
    image->byte_order = LSBFirst; // B, G, R, X in memory; Xlib swaps for a big-endian server
    XPutImage(s->display, xid, s->gc, image, 0, 0, 0, 0, unsigned(width), unsigned(height));
    image->data = nullptr; // the frame buffer is not ours to free
    XDestroyImage(image);
}

} // namespace

Display* platform_blit_display(PlatformWindow* w)
{
    if (!w->blit) {
        unsigned long xid = w->picture_xid.load(std::memory_order_acquire);
        if (!xid)
            return nullptr;
        w->blit = open_blit(w, xid);
    }
    return w->blit->display;
}

void platform_blit(void* window, const uint8_t* bgrx, int pitch, int width, int height)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !bgrx || width < 1 || height < 1 || pitch < width * 4)
        return;
    unsigned long xid = w->picture_xid.load(std::memory_order_acquire);
    if (!xid)
        return;
    if (!w->blit)
        w->blit = open_blit(w, xid);
    BlitState* s = w->blit;
    if (!s->display || !s->usable)
        return;
    if (s->use_shm)
        put_shared(s, xid, bgrx, pitch, width, height);
    if (!s->use_shm)
        put_plain(s, xid, bgrx, pitch, width, height);
    // The server has read the picture before the buffer is drawn again, and
    // pictures never queue up behind a slow server.
    XSync(s->display, False);
}

bool platform_picture_target(void* window, void** native_display, unsigned long* native_window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return false;
    unsigned long xid = w->picture_xid.load(std::memory_order_acquire);
    if (!xid)
        return false;
    if (!w->blit)
        w->blit = open_blit(w, xid);
    if (!w->blit->display)
        return false;
    *native_display = w->blit->display;
    *native_window = xid;
    return true;
}
