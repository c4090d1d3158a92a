// The presentation thread: keeps the media clock, pulled toward the sound
// the device reports; hands sound chunks to the device; takes each picture
// when it is due and drops late ones; runs the 100 ms housekeeping tick.
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "render/render.h"
#include "stats/stats.h"

static bool has_stream(PlayerContext* ctx, int kind)
{
    return ctx->slots[kind].stream_index.load(std::memory_order_relaxed) >= 0;
}

// Once every 100 ms of wall time.
static void housekeeping_tick(PlayerContext* ctx)
{
    int32_t ticks = ctx->clock_ticks.load(std::memory_order_relaxed) - 1;
    if (ticks < 0) {
        ctx->clock_ticks.store(9, std::memory_order_relaxed);
        if (ctx->clock_shown.load(std::memory_order_relaxed))
            update_clock_overlay(ctx); // once a second, aligned to the wall clock
    } else {
        ctx->clock_ticks.store(ticks, std::memory_order_relaxed);
    }
    if (ctx->notice_length.load(std::memory_order_relaxed) != 0) {
        int32_t left = ctx->notice_ticks.fetch_sub(1, std::memory_order_relaxed) - 1;
        if (left < 0) {
            ctx->notice_length.store(0, std::memory_order_relaxed);
            request_redraw(ctx);
            notice_countdown_ended(ctx);
        }
    }
    MainWindow* window = main_window_of(ctx);
    if (window->cursor_hidden.load(std::memory_order_relaxed) == 0 &&
        window->mouse_tracking.load(std::memory_order_relaxed) != 0) {
        int32_t idle = window->idle_ticks.fetch_add(1, std::memory_order_relaxed) + 1;
        if (idle > 30) {
            int32_t region = ctx->hover_region.load(std::memory_order_relaxed);
            bool over_controls = region == 1 || region == 2 || region >= 5;
            if (over_controls || ctx->playing.load(std::memory_order_relaxed) == 0 ||
                ctx->step_frame.load(std::memory_order_relaxed) != 0)
                window->idle_ticks.store(0, std::memory_order_relaxed);
            else
                window_send(MSG_PLAYLIST, PLAYLIST_HIDE_POINTER, 0);
        }
    }
}

static void advance_clock(PlayerContext* ctx, PassState* pass)
{
    // Signed: after the clock was held back (clock_wall_ms moved ahead of
    // the timer) a pass that comes at once sees a few milliseconds less than
    // nothing, and the clock gives them back instead of leaping forward.
    int32_t elapsed = int32_t(pass->now - ctx->clock_wall_ms.load(std::memory_order_relaxed));
    if (elapsed > 100)
        elapsed = 100; // a pass delayed by a stall moves the clock by at most 100 ms
    ctx->tick_ms -= elapsed;
    if (ctx->tick_ms < 0) {
        ctx->tick_ms += 100;
        housekeeping_tick(ctx);
    }
    pass->clock_before_ms = ctx->clock_ms.load(std::memory_order_relaxed);
    // The clock stands while paused and while nothing was taken last pass.
    if (ctx->playing.load(std::memory_order_relaxed) == 1 && ctx->frame_taken.load(std::memory_order_relaxed) == 1)
        ctx->clock_ms.fetch_add(elapsed, std::memory_order_relaxed);
    ctx->due_wall_ms.store(int32_t(pass->now), std::memory_order_relaxed);
    ctx->clock_wall_ms.store(pass->now, std::memory_order_seq_cst); // release; ordered with the hold
    ctx->frame_taken.store(0, std::memory_order_relaxed);
}

static uint32_t buffers_queued(const AudioOutput* out)
{
    return (out->header_write.load(std::memory_order_relaxed) - out->header_done.load(std::memory_order_acquire)) & 7;
}

void clock_follow_sound(PlayerContext* ctx, PassState* pass, bool known, int32_t heard_ms)
{
    const uint32_t starts = ctx->audio.sound_starts.load(std::memory_order_acquire);
    const int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    if (!known) {
        const bool ran_dry = pass->sound_known;
        pass->sound_known = false;
        const AudioOutput* out = &ctx->audio;
        if (ctx->playing.load(std::memory_order_relaxed) != 1 || buffers_queued(out) == 0)
            return;
        // Sound is on its way but not heard: a sound that starts afresh (the
        // device and the sound server take a while), or the sound ran dry
        // and more is queued. The pictures wait for it at its first sample.
        const bool fresh = pass->heard_start != starts;
        if ((fresh && pass->waited_start != starts) || ran_dry) {
            pass->waited_start = starts;
            pass->wait_since_ms = pass->now;
        }
        if (pass->now - pass->wait_since_ms >= (fresh ? SOUND_START_WAIT_MS : SOUND_GAP_WAIT_MS))
            return; // a device that does not say it plays holds nothing up for long
        const uint32_t first = out->header_done.load(std::memory_order_acquire) & AUDIO_HEADER_MASK;
        const int32_t first_ms = out->wave_headers[first].time_ms.load(std::memory_order_relaxed);
        if (clock > first_ms)
            ctx->clock_ms.store(pass->clock_before_ms > first_ms ? pass->clock_before_ms : first_ms,
                                std::memory_order_relaxed);
        return;
    }
    const bool fresh = pass->heard_start != starts || !pass->sound_known;
    pass->heard_start = starts;
    pass->sound_known = true;
    // A paused device still holds its first queued sample; the clock stands
    // on the picture shown until play resumes.
    if (ctx->playing.load(std::memory_order_relaxed) != 1)
        return;
    const int32_t d = clock - heard_ms;
    if (d <= -500 || d >= 500)
        return; // large gaps are left to the frame rules
    // A step of a picture's length or more is taken at once: the pictures
    // wait (or are passed over) as long either way, and are in step sooner.
    const bool jump = fresh || d >= SOUND_JUMP_MS || d <= -SOUND_JUMP_MS;
    int32_t step = jump ? d : d / 4;
    if (!jump)
        step = step > 10 ? 10 : step < -10 ? -10 : step;
    if (step != 0)
        ctx->clock_ms.fetch_sub(step, std::memory_order_relaxed);
}

static void correct_clock(PlayerContext* ctx, PassState* pass)
{
    if (!has_stream(ctx, SLOT_AUDIO))
        return;
    // The device's report of a finished buffer: without video it is the
    // position shown.
    int32_t c = ctx->audio.audio_clock_ms.exchange(0, std::memory_order_acq_rel);
    if (c != 0 && !has_stream(ctx, SLOT_VIDEO)) {
        ctx->audio_only_position_ms.store(c, std::memory_order_relaxed);
        if (pass->now - ctx->last_audio_redraw_ms.load(std::memory_order_relaxed) > 50) {
            ctx->redraw_pending.store(ctx->window_visible.load(std::memory_order_relaxed), std::memory_order_relaxed);
            ctx->last_audio_redraw_ms.store(pass->now, std::memory_order_relaxed);
        }
    }
    int32_t heard = 0;
    const bool known = audio_heard_ms(&ctx->audio, &heard);
    clock_follow_sound(ctx, pass, known, heard);
}

static void advance_read(StreamSlot* slot)
{
    uint32_t r = slot->frames_read.load(std::memory_order_relaxed);
    slot->frames_read.store((r + 1) & FRAME_RING_MASK, std::memory_order_release);
}

// The video ring moves on by one entry: the picture that was current until
// now is never shown again (a redraw shows the new current one), so its
// buffers go back to the decoder at once instead of when the decoder next
// fills that entry. The decoder cannot be filling it: it fills an entry only
// while at most five wait, and this one lies six ahead of frames_read.
static void pass_picture(StreamSlot* slot)
{
    advance_read(slot);
    AVFrame* passed = slot->frames[(slot->frames_read.load(std::memory_order_relaxed) - 2) & FRAME_RING_MASK].frame;
    // A device surface goes back only under the decoding lock, which the
    // decoder holds across whole decoding calls: it waits for its reuse.
    if (!passed->hw_frames_ctx)
        av_frame_unref(passed);
}

// The first picture (or, without video, sound) after a seek ends its fast polling.
static void seek_settled(PlayerContext* ctx)
{
    if (ctx->seek_settle_wall_ms.load(std::memory_order_relaxed) != 0)
        ctx->seek_settle_wall_ms.store(0, std::memory_order_relaxed);
}

static bool demuxer_at_end(PlayerContext* ctx)
{
    return ctx->packets_in_flight.load(std::memory_order_acquire) == 0 &&
           ctx->end_of_file.load(std::memory_order_relaxed) == 1;
}

// While stepping, a late entry is passed over when the
// next one is also due; false when the step must wait for more frames.
static bool step_skips(PlayerContext* ctx, StreamSlot* slot, int32_t e, bool* skip)
{
    *skip = false;
    if (e >= 0)
        return true;
    uint32_t r = slot->frames_read.load(std::memory_order_relaxed);
    if (((r + 1) & FRAME_RING_MASK) != slot->frames_write.load(std::memory_order_acquire)) {
        *skip = slot->frames[(r + 1) & FRAME_RING_MASK].time_ms <= ctx->clock_ms.load(std::memory_order_relaxed) + 1;
        return true;
    }
    return demuxer_at_end(ctx);
}

enum Look { LOOK_DISCARD, LOOK_WAIT, LOOK_USE };

// The first look at the entry at frames_read: it is
// discarded while a seek is under way, and while stepping when it is late
// and the next entry is due too; a step waits for more frames unless the
// demuxer is at its end. The entry that ends a step (ends_step: a picture,
// or sound without video) stops playback and sets the clock to its time.
// *e is the entry's distance to the clock.
static Look first_look(PlayerContext* ctx, StreamSlot* slot, const FrameEntry* entry, bool ends_step, int32_t* e)
{
    if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0)
        return LOOK_DISCARD;
    // In 64 bits: a broken timestamp far from the clock must not wrap around.
    int64_t distance = int64_t(entry->time_ms) - ctx->clock_ms.load(std::memory_order_relaxed);
    *e = int32_t(distance < INT32_MIN ? INT32_MIN : distance > INT32_MAX ? INT32_MAX : distance);
    if (ctx->step_frame.load(std::memory_order_relaxed) != 1)
        return LOOK_USE;
    bool skip;
    if (!step_skips(ctx, slot, *e, &skip))
        return LOOK_WAIT;
    if (skip)
        return LOOK_DISCARD;
    if (ends_step) {
        ctx->playing.store(0, std::memory_order_relaxed);
        ctx->step_frame.store(0, std::memory_order_relaxed);
        ctx->clock_ms.store(entry->time_ms, std::memory_order_relaxed);
        *e = 0;
    }
    return LOOK_USE;
}

static void take_video(PlayerContext* ctx, PassState* pass)
{
    StreamSlot* slot = &ctx->slots[SLOT_VIDEO];
    while (slot->frames_read.load(std::memory_order_relaxed) != slot->frames_write.load(std::memory_order_acquire)) {
        FrameEntry* entry = &slot->frames[slot->frames_read.load(std::memory_order_relaxed)];
        // A discarded picture leaves the one on screen in place.
        int32_t e = 0;
        Look look = first_look(ctx, slot, entry, true, &e);
        if (look == LOOK_WAIT)
            return;
        if (look == LOOK_DISCARD) {
            frame_take_swap(slot);
            pass_picture(slot);
            continue;
        }
        ctx->frame_taken.store(1, std::memory_order_relaxed);
        if (e > 50)
            return;
        if (e > 0) {
            if (ctx->redraw_pending.load(std::memory_order_relaxed) != 0 ||
                ctx->playing.load(std::memory_order_relaxed) == 0)
                return;
            ctx->due_wall_ms.fetch_add(e, std::memory_order_relaxed);
        } else if (e < 0) {
            // Late: it becomes the current frame without being drawn.
            stats_picture_dropped(ctx);
            pass_picture(slot);
            continue;
        }
        if (entry->time_ms > ctx->duration_ms.load(std::memory_order_relaxed))
            ctx->duration_ms.store(entry->time_ms, std::memory_order_relaxed);
        ctx->redraw_pending.store(ctx->window_visible.load(std::memory_order_relaxed), std::memory_order_relaxed);
        pass->new_picture = true;
        pass->picture_ms = entry->time_ms;
        pass->picture_seek = stats_picture_taken(ctx);
        seek_settled(ctx);
        pass_picture(slot);
    }
}

// The part of a late chunk that lies before the clock is cut off.
// False when nothing of it is left to play.
static bool trim_late_chunk(PlayerContext* ctx, FrameEntry* entry, int32_t e)
{
    const AudioOutput* out = &ctx->audio;
    if (out->audio_block_align <= 0 || out->audio_rate <= 0)
        return false;
    int64_t remaining = e + int64_t(entry->audio_bytes / out->audio_block_align) * 1000 / out->audio_rate;
    if (remaining <= 0)
        return false;
    entry->time_ms -= e;
    int64_t keep = (remaining * out->audio_rate / 1000) * out->audio_block_align;
    if (keep < entry->audio_bytes) {
        memmove(entry->audio_data, entry->audio_data + (entry->audio_bytes - keep), size_t(keep));
        entry->audio_bytes = int32_t(keep);
    }
    return true;
}

// Returns when the device cannot take more or the next chunk must wait.
static void feed_audio(PlayerContext* ctx, PassState* pass)
{
    StreamSlot* slot = &ctx->slots[SLOT_AUDIO];
    AudioOutput* out = &ctx->audio;
    bool video = has_stream(ctx, SLOT_VIDEO);
    while (slot->frames_read.load(std::memory_order_relaxed) != slot->frames_write.load(std::memory_order_acquire)) {
        FrameEntry* entry = &slot->frames[slot->frames_read.load(std::memory_order_relaxed)];
        int32_t e = 0;
        Look look = first_look(ctx, slot, entry, !video, &e);
        if (look == LOOK_WAIT)
            return;
        if (look == LOOK_DISCARD) {
            advance_read(slot);
            continue;
        }
        ctx->frame_taken.store(1, std::memory_order_relaxed);
        uint32_t next = (out->header_write.load(std::memory_order_relaxed) + 1) & 7;
        if (next == out->header_done.load(std::memory_order_acquire))
            return;
        uint32_t queued = buffers_queued(out);
        if (e >= 0 && queued > 0) {
            if (ctx->playing.load(std::memory_order_relaxed) == 0)
                return;
            if (e > 150) {
                if (queued != 1)
                    return;
                ctx->clock_ms.fetch_add(50, std::memory_order_relaxed);
            }
        } else if (e >= 0) {
            if (e > 15)
                return;
        } else if (out->volume.load(std::memory_order_relaxed) == 0 || queued > 0 || !trim_late_chunk(ctx, entry, e)) {
            advance_read(slot);
            continue;
        }
        if (!video) {
            ctx->audio_only_position_ms.store(entry->time_ms, std::memory_order_relaxed);
            ctx->redraw_pending.store(ctx->window_visible.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        if (!video)
            seek_settled(ctx);
        stats_sound_written(ctx, entry->time_ms, !video);
        audio_write(out, entry, next);
        advance_read(slot);
    }
}

static bool draw_unheld(PlayerContext* ctx, PassState* pass);

// Returns whether a picture was drawn (the next pass then starts at once).
static bool draw(PlayerContext* ctx, PassState* pass)
{
    ctx->presentation_drawing.store(1, std::memory_order_seq_cst);
    // What is asked for during a hold is drawn after the release.
    bool drawn = ctx->presentation_hold.load(std::memory_order_seq_cst) == 0 && draw_unheld(ctx, pass);
    ctx->presentation_drawing.store(0, std::memory_order_seq_cst);
    return drawn;
}

static bool draw_unheld(PlayerContext* ctx, PassState* pass)
{
    if (ctx->copy_request.load(std::memory_order_relaxed) == 0 && ctx->redraw_pending.load(std::memory_order_relaxed) == 0)
        return false;
    ctx->redraw_pending.store(0, std::memory_order_relaxed);
    if (has_stream(ctx, SLOT_VIDEO)) {
        StreamSlot* slot = &ctx->slots[SLOT_VIDEO];
        present_frame(ctx, slot->frames[current_frame_index(slot)].frame);
        if (pass->new_picture) {
            ctx->pictures_shown.fetch_add(1, std::memory_order_relaxed);
            // What is heard as the picture appears: the figure of the A/V offset.
            int32_t heard = 0;
            const bool known = stats_of(ctx) && ctx->playing.load(std::memory_order_relaxed) == 1 &&
                               has_stream(ctx, SLOT_AUDIO) && audio_heard_ms(&ctx->audio, &heard);
            stats_picture_shown(ctx, pass->picture_ms, pass->picture_seek, known ? &heard : nullptr);
        }
        return true;
    }
    if (has_stream(ctx, SLOT_AUDIO)) {
        StreamSlot* slot = &ctx->slots[SLOT_AUDIO];
        present_frame(ctx, slot->frames[current_frame_index(slot)].frame);
    } else {
        present_frame(ctx, nullptr);
    }
    return false;
}

void presentation_rules(PlayerContext* ctx, PassState* pass)
{
    pass->new_picture = false;
    advance_clock(ctx, pass);
    correct_clock(ctx, pass);
    take_video(ctx, pass);
    feed_audio(ctx, pass);
}

void presentation_thread(PlayerContext* ctx)
{
    PassState pass;
    memset(&pass, 0, sizeof pass);
    for (;;) {
        pass.now = now_ms();
        presentation_rules(ctx, &pass);
        settle_clock_overlay(ctx);
        if (draw(ctx, &pass))
            continue;
        engine_poll_sleep(ctx);
    }
}
