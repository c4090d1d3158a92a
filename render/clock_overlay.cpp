// The clock overlay: the wall-clock time, rendered once a second by libass
// with the OSD track into a small premultiplied BGRA image exactly as large as
// the text, and handed to the desktop's click-through window above the main
// window. Presentation thread only; the window thread only sets clock_shown.
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "render/render_internal.h"

namespace {

std::atomic<ClockShowHook> show_hook{nullptr};
std::atomic<ClockHideHook> hide_hook{nullptr};
std::atomic<void*> hook_user{nullptr};

// The caption buttons' corner: 75 x 25 pixels, rows 1 to 25.
constexpr int32_t CAPTION_AREA_WIDTH = 75;
constexpr int32_t CAPTION_AREA_TOP = 1;
constexpr int32_t CAPTION_AREA_BOTTOM = 26;

struct Box {
    int32_t left, top, right, bottom;
};

Box bounding_box(const ASS_Image* list, int32_t client_width, int32_t client_height)
{
    Box b{client_width, client_height, 0, 0};
    for (const ASS_Image* img = list; img; img = img->next) {
        if (img->w <= 0 || img->h <= 0)
            continue;
        if (img->dst_x < b.left)
            b.left = img->dst_x;
        if (img->dst_y < b.top)
            b.top = img->dst_y;
        if (img->dst_x + img->w > b.right)
            b.right = img->dst_x + img->w;
        if (img->dst_y + img->h > b.bottom)
            b.bottom = img->dst_y + img->h;
    }
    return b;
}

// Room for width x height pixels, cleared to transparent black; the pitch is
// a multiple of 16 bytes.
uint8_t* clear_scratch(FrameDisplay* d, int32_t width, int32_t height, int64_t* pitch)
{
    *pitch = (int64_t(width) * 4 + 15) & ~int64_t(15);
    int64_t bytes = *pitch * height;
    if (bytes > d->clock_capacity_bytes) {
        uint8_t* grown = static_cast<uint8_t*>(aligned_alloc(16, size_t(bytes)));
        if (!grown)
            return nullptr;
        free(d->clock_pixels);
        d->clock_pixels = grown;
        d->clock_capacity_bytes = bytes;
    }
    memset(d->clock_pixels, 0, size_t(bytes));
    return d->clock_pixels;
}

// The images moved so that the box's top-left corner is the scratch's origin.
void blend_into_box(const ASS_Image* list, const Box& box, uint8_t* pixels, int64_t pitch)
{
    std::vector<ASS_Image> moved;
    for (const ASS_Image* img = list; img; img = img->next)
        if (img->w > 0 && img->h > 0)
            moved.push_back(*img);
    for (size_t i = 0; i < moved.size(); i++) {
        moved[i].dst_x -= box.left;
        moved[i].dst_y -= box.top;
        moved[i].next = i + 1 < moved.size() ? &moved[i + 1] : nullptr;
    }
    // A full fourth byte over a transparent box leaves colour x a with alpha
    // 255 x a: premultiplied, as the overlay window takes it.
    if (!moved.empty())
        blend_ass_images(moved.data(), pixels, pitch, 0xFF000000);
}

// While the top bar with its caption buttons shows in the main window, the
// overlay lets them through. Returns the cleared part in the box (empty when
// none).
OsdRect clear_caption_area(PlayerContext* ctx, const Box& box, int32_t client_width, uint8_t* pixels, int64_t pitch)
{
    if (ctx->hover_region.load(std::memory_order_relaxed) < 4 ||
        main_window_of(ctx)->cursor_hidden.load(std::memory_order_relaxed) != 0)
        return OsdRect{0, 0, 0, 0};
    int32_t left = client_width - CAPTION_AREA_WIDTH > box.left ? client_width - CAPTION_AREA_WIDTH : box.left;
    int32_t right = client_width < box.right ? client_width : box.right;
    int32_t top = CAPTION_AREA_TOP > box.top ? CAPTION_AREA_TOP : box.top;
    int32_t bottom = CAPTION_AREA_BOTTOM < box.bottom ? CAPTION_AREA_BOTTOM : box.bottom;
    if (left >= right || top >= bottom)
        return OsdRect{0, 0, 0, 0};
    for (int32_t y = top; y < bottom; y++)
        memset(pixels + int64_t(y - box.top) * pitch + int64_t(left - box.left) * 4, 0, size_t(right - left) * 4);
    return OsdRect{left - box.left, top - box.top, right - box.left, bottom - box.top};
}

void set_frame_size(PlayerContext* ctx, int32_t width, int32_t height)
{
    FrameDisplay* d = &ctx->display;
    if (d->clock_frame_width == width && d->clock_frame_height == height)
        return;
    ass_set_frame_size(ctx->osd_renderer, width, height);
    d->clock_frame_width = width;
    d->clock_frame_height = height;
    d->clock_box = OsdRect{0, 0, 0, 0};
}

// The box only grows while the clock shows: the digits' ink differs from
// second to second, and a window that changed its size every second would
// make the server expose, and the main window draw again, what lies below.
Box steady_box(FrameDisplay* d, Box ink)
{
    OsdRect& kept = d->clock_box;
    if (kept.right > kept.left) {
        ink.left = kept.left < ink.left ? kept.left : ink.left;
        ink.top = kept.top < ink.top ? kept.top : ink.top;
        ink.right = kept.right > ink.right ? kept.right : ink.right;
        ink.bottom = kept.bottom > ink.bottom ? kept.bottom : ink.bottom;
    }
    kept = OsdRect{ink.left, ink.top, ink.right, ink.bottom};
    return ink;
}

} // namespace

int32_t clock_ticks_aligned(int32_t ticks, int32_t ms_in_second)
{
    return ticks - (ms_in_second / 100) % 10;
}

int format_clock_text(char* out, size_t size, int hour, int minute, int second)
{
    return snprintf(out, size, "%d:%02d:%02d", hour, minute, second);
}

void render_set_clock_hooks(ClockShowHook show, ClockHideHook hide, void* user)
{
    hook_user.store(user, std::memory_order_relaxed);
    hide_hook.store(hide, std::memory_order_release);
    show_hook.store(show, std::memory_order_release);
}

void update_clock_overlay(PlayerContext* ctx)
{
    if (!ctx->osd_fonts_ready.load(std::memory_order_acquire) || !ctx->osd_renderer || !ctx->osd_track ||
        !ctx->osd_event_text)
        return;
    FrameDisplay* d = &ctx->display;
    int32_t client_width = d->stored_width.load(std::memory_order_relaxed);
    int32_t client_height = d->stored_height.load(std::memory_order_relaxed);
    if (client_width < 1 || client_height < 1)
        return;
    set_frame_size(ctx, client_width, client_height);

    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    int32_t ms = int32_t(now.tv_nsec / 1000000);
    // The next update falls just after the next full second.
    ctx->clock_ticks.store(clock_ticks_aligned(ctx->clock_ticks.load(std::memory_order_relaxed), ms),
                           std::memory_order_relaxed);
    format_clock_text(ctx->osd_event_text, 32, local.tm_hour, local.tm_min, local.tm_sec);
    draw_clock_overlay(ctx);
}

void draw_clock_overlay(PlayerContext* ctx)
{
    FrameDisplay* d = &ctx->display;
    int32_t client_width = d->clock_frame_width;
    ASS_Image* list = ass_render_frame(ctx->osd_renderer, ctx->osd_track, 0, nullptr);
    if (!list)
        return;
    Box box = bounding_box(list, client_width, d->clock_frame_height);
    if (box.right <= box.left || box.bottom <= box.top)
        return;
    box = steady_box(d, box);
    int64_t pitch = 0;
    uint8_t* pixels = clear_scratch(d, box.right - box.left, box.bottom - box.top, &pitch);
    if (!pixels)
        return;
    blend_into_box(list, box, pixels, pitch);
    OsdRect clear = clear_caption_area(ctx, box, client_width, pixels, pitch);
    ctx->clock_right.store(client_width - box.left, std::memory_order_relaxed);
    ctx->clock_top.store(box.top, std::memory_order_relaxed);

    MainWindow* w = main_window_of(ctx);
    int32_t x = w->window_screen_x.load(std::memory_order_relaxed) + box.left;
    int32_t y = w->window_screen_y.load(std::memory_order_relaxed) + box.top;
    if (ClockShowHook show = show_hook.load(std::memory_order_acquire))
        show(hook_user.load(std::memory_order_relaxed), pixels, pitch, x, y, box.right - box.left,
             box.bottom - box.top, clear.right > clear.left ? &clear : nullptr);
    d->clock_on_screen = 1;
}

void settle_clock_overlay(PlayerContext* ctx)
{
    FrameDisplay* d = &ctx->display;
    if (!d->clock_on_screen || ctx->clock_shown.load(std::memory_order_relaxed))
        return;
    d->clock_on_screen = 0;
    d->clock_box = OsdRect{0, 0, 0, 0};
    if (ClockHideHook hide = hide_hook.load(std::memory_order_acquire))
        hide(hook_user.load(std::memory_order_relaxed));
}
