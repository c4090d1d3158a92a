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
    bool lent; // the image is the renderer's frame buffer: kept until it lets go
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

void destroy_shared_image(Display* display, XImage* image, XShmSegmentInfo* segment)
{
    XShmDetach(display, segment);
    XSync(display, False);
    XDestroyImage(image); // frees the XImage only: data is the segment
    shmdt(segment->shmaddr);
}

void release_shared_image(BlitState* s)
{
    if (!s->image)
        return;
    destroy_shared_image(s->display, s->image, &s->segment);
    s->image = nullptr;
    s->capacity_width = s->capacity_height = 0;
    s->lent = false;
}

// A shared image of width x height pixels over a segment of at least bytes.
XImage* new_shared_image(BlitState* s, int width, int height, size_t bytes, XShmSegmentInfo* segment)
{
    XImage* image = XShmCreateImage(s->display, s->visual, unsigned(s->depth), ZPixmap, nullptr, segment,
                                    unsigned(width), unsigned(height));
    if (!image)
        return nullptr;
    size_t image_bytes = size_t(image->bytes_per_line) * size_t(height);
    segment->shmid = shmget(IPC_PRIVATE, image_bytes > bytes ? image_bytes : bytes, IPC_CREAT | 0600);
    if (segment->shmid < 0) {
        XDestroyImage(image);
        return nullptr;
    }
    segment->shmaddr = image->data = static_cast<char*>(shmat(segment->shmid, nullptr, 0));
    segment->readOnly = True;
    bool attached = segment->shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(s->display, segment);
    XSync(s->display, False);
    // Marked for removal now: it goes away with the last detach, even if we crash.
    shmctl(segment->shmid, IPC_RMID, nullptr);
    if (!attached) {
        if (segment->shmaddr != reinterpret_cast<char*>(-1))
            shmdt(segment->shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

void install_shared_image(BlitState* s, XImage* image, const XShmSegmentInfo& segment, int width, int height)
{
    s->image = image;
    s->segment = segment;
    // The image finds its segment through this pointer: it must name the
    // copy that lives as long as the image.
    image->obdata = reinterpret_cast<char*>(&s->segment);
    s->capacity_width = width;
    s->capacity_height = height;
}

bool make_shared_image(BlitState* s, int width, int height)
{
    XShmSegmentInfo segment{};
    XImage* image = new_shared_image(s, width, height, 0, &segment);
    if (!image)
        return false;
    install_shared_image(s, image, segment, width, height);
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

// The presentation thread's connection, opened on first use, and in *xid
// the picture child it draws to. Null while that child does not exist yet.
BlitState* blit_of(PlatformWindow* w, unsigned long* xid)
{
    *xid = w->picture_xid.load(std::memory_order_acquire);
    if (!*xid)
        return nullptr;
    if (!w->blit)
        w->blit = open_blit(w, *xid);
    return w->blit;
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
    unsigned long xid = 0;
    BlitState* s = blit_of(w, &xid);
    if (!s || !s->display || !s->usable)
        return;
    if (s->use_shm && s->lent && bgrx == reinterpret_cast<uint8_t*>(s->image->data) &&
        pitch == s->image->bytes_per_line && width <= s->capacity_width && height <= s->capacity_height) {
        // Drawn in place: nothing to copy.
        XShmPutImage(s->display, xid, s->gc, s->image, 0, 0, 0, 0, unsigned(width), unsigned(height), False);
    } else if (s->use_shm) {
        // The renderer draws elsewhere now: the image is the blit's again.
        s->lent = false;
        put_shared(s, xid, bgrx, pitch, width, height);
    }
    if (!s->use_shm)
        put_plain(s, xid, bgrx, pitch, width, height);
    // The server has read the picture before the buffer is drawn again, and
    // pictures never queue up behind a slow server.
    XSync(s->display, False);
}

uint8_t* platform_blit_buffer(void* window, int32_t width, int32_t rows, size_t bytes)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || width < 1 || rows < 1)
        return nullptr;
    unsigned long xid = 0;
    BlitState* s = blit_of(w, &xid);
    if (!s || !s->display || !s->usable || !s->use_shm)
        return nullptr;
    XShmSegmentInfo segment{};
    XImage* image = new_shared_image(s, width, rows, bytes, &segment);
    if (!image)
        return nullptr; // whatever was lent before stays the renderer's
    if (image->bytes_per_line != width * 4) {
        destroy_shared_image(s->display, image, &segment);
        return nullptr;
    }
    // Asking for a new one lets go of the old.
    release_shared_image(s);
    install_shared_image(s, image, segment, width, rows);
    s->lent = true;
    return reinterpret_cast<uint8_t*>(image->data);
}

bool platform_picture_target(void* window, void** native_display, unsigned long* native_window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return false;
    unsigned long xid = 0;
    BlitState* s = blit_of(w, &xid);
    if (!s || !s->display)
        return false;
    *native_display = s->display;
    *native_window = xid;
    return true;
}
