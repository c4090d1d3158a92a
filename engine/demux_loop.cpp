// The demux loop: reads packets into the hand-over ring, carries out seeks
// and track switches, notices the end of the item and decides what follows
// it, and leaves the pipeline drained when it returns.
#include <cstring>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

static PassResult read_packet(PlayerContext* ctx, DemuxState* st)
{
    if (ring_is_full(&ctx->ring))
        return PASS_SLEEP;
    if (ctx->end_of_file.load(std::memory_order_relaxed) != 0)
        return PASS_GO_ON;
    PacketNode* spare = st->spare;
    int ret = av_read_frame(format_of(ctx), spare->packet);
    if (ret >= 0) {
        item_tags_follow(ctx, format_of(ctx));
        if (slot_of_stream(ctx, spare->packet->stream_index) >= 0)
            st->spare = ring_push(ctx, spare, &ctx->packets_in_flight,
                                  (ctx->ring.ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK);
        else
            av_packet_unref(spare->packet);
        return PASS_AT_ONCE;
    }
    // The end of the file, or a read error (a file that went away or was
    // cut short): either way the item ends. Each stream gets its end marker.
    av_packet_unref(spare->packet);
    if (ret == AVERROR(ENOMEM))
        ctx->memory_short.fetch_add(1, std::memory_order_relaxed);
    ctx->end_of_file.store(1, std::memory_order_relaxed);
    for (StreamSlot& slot : ctx->slots) {
        int32_t index = slot.stream_index.load(std::memory_order_relaxed);
        if (index < 0)
            continue;
        Backoff backoff{};
        while (ring_is_full(&ctx->ring))
            backoff_pause(&backoff);
        st->spare->packet->stream_index = index;
        st->spare = ring_push(ctx, st->spare, &ctx->packets_in_flight,
                              (ctx->ring.ring_write.load(std::memory_order_relaxed) + 1) & RING_MASK);
    }
    return PASS_GO_ON;
}

// ---- the end of the item ----

static bool pipeline_empty(PlayerContext* ctx)
{
    if (ctx->packets_in_flight.load(std::memory_order_acquire) != 0 ||
        ctx->decoder_busy.load(std::memory_order_acquire) != 0)
        return false;
    for (int kind = 0; kind < SLOT_COUNT; kind++) {
        StreamSlot* slot = &ctx->slots[kind];
        if (slot->frames_read.load(std::memory_order_acquire) != slot->frames_write.load(std::memory_order_acquire))
            return false;
        if (kind == SLOT_VIDEO)
            ctx->step_frame.store(0, std::memory_order_relaxed);
    }
    return true;
}

static bool last_entry(PlayerContext* ctx)
{
    return ctx->current_item.load(std::memory_order_relaxed) + 1 >= ctx->item_count.load(std::memory_order_relaxed);
}

// A run that ends with its list: the last picture must have been drawn before
// the program is asked to close (presentation may still be waiting for it).
static void end_run(PlayerContext* ctx, uint32_t shown_before)
{
    bool video = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
    for (int i = 0; video && i < 200; i++) {
        if (ctx->pictures_shown.load(std::memory_order_relaxed) != shown_before &&
            ctx->redraw_pending.load(std::memory_order_relaxed) == 0)
            break;
        delay_100ns(SLEEP_10MS);
    }
    // With the request cleared, the last picture is being drawn or done; its
    // drawing may still wait for the picture's due time.
    if (video)
        wait_for_drawing(ctx);
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        stats_item_subtitles(ctx);
    }
    window_post(MSG_CLOSE, 0, 0);
}

// When the run ends with the list, the item does not loop or repeat: the
// next entry follows, and after the last one the program ends.
static void end_instead_of_looping(PlayerContext* ctx, uint32_t shown_before)
{
    if (last_entry(ctx))
        end_run(ctx, shown_before);
    else
        window_post(MSG_PLAYLIST, PLAYLIST_ITEM_ENDED, 0);
}

// Returns PASS_EXIT when the item ended as a still picture.
static PassResult handle_end(PlayerContext* ctx, uint32_t shown_at_start)
{
    if (ctx->end_of_file.load(std::memory_order_relaxed) != 1 || !pipeline_empty(ctx))
        return PASS_SLEEP;
    if (ctx->playing.load(std::memory_order_relaxed) == 0)
        return PASS_SLEEP; // a paused item stays at its end
    delay_100ns(SLEEP_30MS);
    bool quit_at_end = ctx->quit_at_end.load(std::memory_order_relaxed) != 0;
    const StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    if (video->stream_index.load(std::memory_order_relaxed) >= 0) {
        // The decoder's count of pictures since it was opened; the empty
        // pipeline (acquire above) orders it after the decoder's last write.
        if (video->codec->frame_number <= 1) {
            if (quit_at_end)
                end_instead_of_looping(ctx, shown_at_start);
            return PASS_EXIT;
        }
        if (video->codec->codec_id == AV_CODEC_ID_GIF) {
            if (quit_at_end) {
                ctx->playing.store(0, std::memory_order_relaxed);
                end_instead_of_looping(ctx, shown_at_start);
                return PASS_SLEEP;
            }
            stats_engine_seek(ctx, SEEK_BY_LOOP);
            request_seek(ctx, 0, SEEK_KEEP_FORWARD);
            return PASS_SLEEP;
        }
    }
    if (ctx->item_count.load(std::memory_order_relaxed) <= 1 && !quit_at_end) {
        stats_engine_seek(ctx, SEEK_BY_LOOP);
        request_seek(ctx, 0, SEEK_KEEP_FORWARD);
        return PASS_SLEEP;
    }
    ctx->playing.store(0, std::memory_order_relaxed);
    while (ctx->menu_depth.load(std::memory_order_acquire) != 0)
        delay_100ns(SLEEP_10MS);
    if (ctx->open_index.load(std::memory_order_acquire) < 0) {
        if (quit_at_end && last_entry(ctx))
            end_run(ctx, shown_at_start);
        else
            window_post(MSG_PLAYLIST, PLAYLIST_ITEM_ENDED, 0);
    }
    return PASS_SLEEP;
}

// ---- the loop ----

// Every slot drained in drop mode, the subtitle source unloaded.
static void exit_loop(PlayerContext* ctx, DemuxState* st)
{
    for (StreamSlot& slot : ctx->slots) {
        ctx->seek_target_ms.store(0, std::memory_order_relaxed);
        drain_slot(ctx, &slot);
    }
    {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        stats_item_subtitles(ctx);
    }
    close_subtitles(&ctx->subtitles);
    release_accepted(ctx, st);
    packet_node_free(st->spare, &ctx->packets_in_flight);
    st->spare = nullptr;
    // Drop mode ends with the drain: a seek left standing would keep every
    // engine thread polling every millisecond while nothing plays.
    seek_clear(ctx);
}

void demux_loop(PlayerContext* ctx)
{
    DemuxState st;
    memset(&st, 0, sizeof st);
    ctx->packets_in_flight.store(-1, std::memory_order_relaxed);
    st.spare = packet_node_new(&ctx->packets_in_flight);
    ctx->end_of_file.store(0, std::memory_order_relaxed);
    uint32_t shown_at_start = ctx->pictures_shown.load(std::memory_order_relaxed);
    const int32_t memory_short_before = ctx->memory_short.load(std::memory_order_relaxed);
    for (;;) {
        if (ctx->open_index.load(std::memory_order_acquire) >= 0)
            break;
        // Memory ran out: the item cannot play as it should (the media
        // thread stops it and says so).
        if (ctx->memory_short.load(std::memory_order_relaxed) != memory_short_before)
            break;
        handle_track_switch(ctx);
        handle_hw_fallback(ctx);
        if (handle_seek(ctx, &st) == PASS_GO_ON) {
            PassResult result = read_packet(ctx, &st);
            if (result == PASS_AT_ONCE)
                continue;
            if (result == PASS_GO_ON && handle_end(ctx, shown_at_start) == PASS_EXIT)
                break;
        }
        engine_poll_sleep(ctx);
    }
    exit_loop(ctx, &st);
}
