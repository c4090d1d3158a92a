// The media thread: takes open and stop requests, opens the requested item
// (moving on to the next one that plays) and runs the demux loop of it.
#include <cstdio>

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "settings/settings.h"
#include "stats/stats.h"

// The request, taken by exchange so that none written meanwhile is lost.
static int32_t take_request(PlayerContext* ctx)
{
    for (;;) {
        int32_t index = ctx->open_index.exchange(-1, std::memory_order_acq_rel);
        if (index >= 0)
            return index;
        // No demux loop runs to carry out a seek asked for now (a still
        // picture, a stopped player): it is dropped rather than left pending.
        if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0)
            seek_clear(ctx);
        early_open_step(ctx);
        delay_100ns(SLEEP_10MS);
    }
}

constexpr int32_t NEWER_REQUEST = -2;

// The requested entry, or the next one that opens, wrapping around
// the list (not when the run ends at the end of the list). Returns the entry
// opened, -1 when none opened, NEWER_REQUEST when a new request came.
static int32_t open_first_playable(PlayerContext* ctx, int32_t requested, char* requested_name, size_t name_size)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    bool wrap = ctx->quit_at_end.load(std::memory_order_relaxed) == 0;
    int32_t i = requested;
    do {
        // The path, the name and the item's texts change: nothing is drawn
        // meanwhile. The open itself (which may wait on a slow or stalled
        // source) runs unheld, so notices and exposes are still drawn.
        hold_presentation(ctx);
        close_item(ctx);
        ctx->display_name[0] = 0;
        bool have_path = window_send(MSG_PLAYLIST, PLAYLIST_GET_PATH, i) != 0;
        // The notice for a list where nothing plays names the entry asked
        // for, not the last one tried.
        if (i == requested)
            snprintf(requested_name, name_size, "%s", ctx->display_name);
        release_presentation(ctx);
        if (have_path && open_item(ctx, i))
            return i;
        // A newer request replaces this one; the next pass takes it.
        if (ctx->open_index.load(std::memory_order_acquire) >= 0)
            return NEWER_REQUEST;
        i++;
        if (uint32_t(i) >= count) {
            if (!wrap)
                return -1;
            i = 0;
        }
    } while (i != requested);
    return -1;
}

// The clock and the play state of the item just opened.
static void start_item(PlayerContext* ctx, int32_t i)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    set_window_title(ctx, ctx->display_name);
    if (settings.show_play_info.load(std::memory_order_relaxed)) {
        show_notice(ctx, " %d / %u - %s ", i + 1, count, ctx->display_name);
        ctx->copy_request.store(0, std::memory_order_relaxed);
    }
    ctx->playing.store(0, std::memory_order_relaxed);
    ctx->clock_ms.store(-30, std::memory_order_relaxed);
    ctx->clock_wall_ms.store(now_ms(), std::memory_order_relaxed);
    seek_clear(ctx);
    // The first picture of an item is waited for like a seek's landing.
    seek_settle_start(ctx);
    int32_t start = ctx->open_start_ms.load(std::memory_order_relaxed);
    int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    if (start > 0 && duration > 100 && start < duration) {
        stats_engine_seek(ctx, SEEK_BY_START);
        ctx->clock_ms.store(start, std::memory_order_relaxed);
        request_seek(ctx, start, SEEK_KEEP_FORWARD);
    }
    ctx->playing.store(ctx->open_play.load(std::memory_order_relaxed), std::memory_order_relaxed);
    if (ctx->open_index.load(std::memory_order_acquire) < 0)
        ctx->open_request.store(0, std::memory_order_relaxed);
    // The previous item's pictures are released when this one has none,
    // and with them the decoding device.
    bool video = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
    if (!video) {
        flush_frames(ctx, 0);
        hw_device_release(ctx);
    }
    // Posted: the screensaver and sleep calls on the desktop's buses happen
    // on the window thread and never hold up the item.
    window_post(MSG_MEDIA_STATE, video ? MEDIA_OPENED_VIDEO : MEDIA_OPENED_SOUND, 0);
    ask_for_trim_soon();
}

// Nothing is open.
static void go_idle(PlayerContext* ctx)
{
    if (ctx->open_index.load(std::memory_order_acquire) < 0)
        ctx->open_request.store(0, std::memory_order_relaxed);
    cancel_menu(ctx);
    set_window_title(ctx, nullptr);
    flush_frames(ctx, 1);
    hw_device_release(ctx);
    // The window thread lets the screensaver go and trims, as the option says.
    window_post(MSG_MEDIA_STATE, MEDIA_STOPPED, 0);
}

void ask_for_trim_soon()
{
    if (settings.trim_memory.load(std::memory_order_relaxed))
        window_post(MSG_TRIM_SOON, 0, 0);
}

// Memory ran out while the item played: rather than go on without pictures
// or sound, the item is closed and the user told; a run that ends with its
// list ends here, with code 1.
static void stop_for_memory(PlayerContext* ctx)
{
    ctx->playing.store(0, std::memory_order_relaxed);
    hold_presentation(ctx);
    close_item(ctx);
    release_presentation(ctx);
    show_notice(ctx, " 内存不足，已停止播放 ");
    if (ctx->open_index.load(std::memory_order_acquire) < 0 && ctx->quit_at_end.load(std::memory_order_relaxed))
        window_post(MSG_CLOSE, 1, 0);
    go_idle(ctx);
}

void media_thread(PlayerContext* ctx)
{
    for (;;) {
        int32_t requested = take_request(ctx);
        // Stop.
        if (uint32_t(requested) >= ctx->item_count.load(std::memory_order_relaxed)) {
            hold_presentation(ctx);
            close_item(ctx);
            release_presentation(ctx);
            request_redraw(ctx);
            go_idle(ctx);
            continue;
        }
        // Counted from before the open: a stream whose decoder could not be
        // made for want of memory must not leave the item playing without it.
        int32_t memory_short_before = ctx->memory_short.load(std::memory_order_relaxed);
        char requested_name[sizeof ctx->display_name];
        int32_t opened = open_first_playable(ctx, requested, requested_name, sizeof requested_name);
        if (opened == NEWER_REQUEST)
            continue;
        if (opened < 0) {
            ctx->current_item.store(uint32_t(requested), std::memory_order_relaxed);
            hold_presentation(ctx);
            close_item(ctx);
            release_presentation(ctx);
            show_notice(ctx, " 无法播放 %d / %u - %s ", requested + 1,
                        ctx->item_count.load(std::memory_order_relaxed), requested_name);
            if (ctx->quit_at_end.load(std::memory_order_relaxed))
                window_post(MSG_CLOSE, ctx->items_opened.load(std::memory_order_relaxed) > 0 ? 0 : 1, 0);
            go_idle(ctx);
            continue;
        }
        start_item(ctx, opened);
        if (ctx->memory_short.load(std::memory_order_relaxed) == memory_short_before)
            demux_loop(ctx);
        if (ctx->memory_short.load(std::memory_order_relaxed) != memory_short_before)
            stop_for_memory(ctx);
    }
}
