// The presentation thread's rules for one pass, driven with a clock the test
// chooses: how the media clock advances (never leaping after a correction),
// how it follows the sound heard, when a sound chunk goes to the device,
// is trimmed or waits, and when the idle pointer is hidden.
#include <gtest/gtest.h>

#include <vector>

extern "C" {
#include <libavutil/mem.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"

namespace {

// A context with no threads: the rules run on the test's thread.
struct Rules {
    PlayerContext* ctx;
    PassState pass{};
    Rules()
    {
        ctx = player_context_new();
        player_setup(ctx);
        ctx->playing.store(1);
        ctx->frame_taken.store(1);
        ctx->tick_ms = 50;
        ctx->clock_ms.store(5000);
        ctx->clock_wall_ms.store(100000);
    }
    ~Rules() { player_context_free(ctx); }
    void run(uint32_t now)
    {
        pass.now = now;
        presentation_rules(ctx, &pass);
    }
};

TEST(PresentationRules, the_clock_follows_signed_elapsed_time_limited_from_above)
{
    struct Case {
        int32_t wall_ahead_ms; // clock_wall_ms after a correction, relative to now
        int32_t playing;
        int32_t expected_clock;
    } cases[] = {
        {-40, 1, 5040},   // 40 ms since the last pass
        {3, 1, 4997},     // held back by 3 ms, the pass came at once: 3 ms given back, no leap
        {-5000, 1, 5100}, // a stall counts as at most 100 ms
        {-40, 0, 5000},   // paused: the clock stands
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wall_ahead_ms);
        Rules r;
        r.ctx->playing.store(c.playing);
        const uint32_t now = 200000;
        r.ctx->clock_wall_ms.store(now + uint32_t(c.wall_ahead_ms));
        r.run(now);
        EXPECT_EQ(r.ctx->clock_ms.load(), c.expected_clock);
        EXPECT_EQ(r.ctx->clock_wall_ms.load(), now);
    }
}

TEST(PresentationRules, the_clock_follows_the_sound_heard_and_waits_for_a_sound_that_starts_afresh)
{
    enum Sound { FRESH, FOLLOWING, LONG_WAITED, RAN_DRY_LONG_AGO };
    struct Case {
        Sound sound;
        bool known;
        int32_t heard_ms;  // when known; else the first queued buffer's time
        int32_t playing;
        uint32_t queued;
        int32_t expected_clock;
    } cases[] = {
        {FRESH, true, 5040, 1, 2, 5040},     // the sound just begun: the clock is set to it
        {FRESH, true, 4960, 1, 2, 4960},
        {FRESH, true, 5600, 1, 2, 5000},     // 500 ms or more: left to the frame rules
        {FOLLOWING, true, 5020, 1, 2, 5005}, // pulled by a quarter of the difference
        {FOLLOWING, true, 4980, 1, 2, 4995},
        {FOLLOWING, true, 5003, 1, 2, 5000}, // less than 4 ms: left alone
        {FOLLOWING, true, 5039, 1, 2, 5009}, // at most 10 ms a pass
        {FOLLOWING, true, 5040, 1, 2, 5040}, // a picture's length or more: set at once
        {FOLLOWING, true, 4501, 1, 2, 4501},
        {FOLLOWING, true, 4500, 1, 2, 5000},
        {FRESH, true, 5040, 0, 2, 5000},     // paused: the clock stays on the picture shown
        {FOLLOWING, true, 5020, 0, 2, 5000},
        {FRESH, false, 4995, 1, 2, 4995},    // on its way: the clock waits at its first sample
        {FRESH, false, 4980, 1, 2, 4990},    // ... standing where it was when already past it
        {FRESH, false, 5010, 1, 2, 5000},    // not reached yet: the clock runs
        {LONG_WAITED, false, 4995, 1, 2, 5000}, // a device that never says it plays holds nothing up
        {FOLLOWING, false, 4995, 1, 2, 4995},   // the sound ran dry with more queued: waits for it
        {RAN_DRY_LONG_AGO, false, 4995, 1, 2, 5000}, // ... but not for long
        {FOLLOWING, false, 4995, 1, 0, 5000},   // ran out, nothing queued (the sound track ended): runs
        {FRESH, false, 4995, 0, 2, 5000},       // paused
        {FRESH, false, 4995, 1, 0, 5000},       // nothing on its way (muted, no sound yet)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.sound) << " " << c.known << " " << c.heard_ms);
        Rules r;
        PlayerContext* ctx = r.ctx;
        ctx->playing.store(c.playing);
        ctx->audio.sound_starts.store(7);
        ctx->audio.header_done.store(3);
        ctx->audio.header_write.store((3 + c.queued) & 7);
        ctx->audio.wave_headers[3].time_ms.store(c.heard_ms);
        r.pass.now = 200000;
        r.pass.clock_before_ms = 4990; // the clock stood there before this pass advanced it
        r.pass.sound_known = c.sound == FOLLOWING;
        r.pass.heard_start = c.sound == FOLLOWING || c.sound == RAN_DRY_LONG_AGO ? 7 : 6;
        r.pass.waited_start = c.sound == LONG_WAITED || c.sound == RAN_DRY_LONG_AGO ? 7 : 0;
        r.pass.wait_since_ms = 200000 - (c.sound == LONG_WAITED ? SOUND_START_WAIT_MS : SOUND_GAP_WAIT_MS);
        clock_follow_sound(ctx, &r.pass, c.known, c.heard_ms);
        EXPECT_EQ(ctx->clock_ms.load(), c.expected_clock);
        EXPECT_EQ(r.pass.sound_known, c.known);
    }
}

// One sound chunk of 25 ms (1200 frames of 2 channels) at time_ms, with the
// device holding `queued` buffers.
struct SoundCase {
    int32_t time_ms; // relative to the clock of 5000 ms
    uint32_t queued;
    bool waits;         // stays for a later pass
    int32_t clock_ms;   // afterwards
    int32_t bytes_left; // of the chunk; 0: passed over unplayed
};

TEST(PresentationRules, sound_chunks_wait_play_or_are_trimmed_by_their_distance_to_the_clock)
{
    const SoundCase cases[] = {
        {5015, 0, false, 5000, 4800}, // nothing queued: up to 15 ms early plays
        {5016, 0, true, 5000, 4800},  // more than 15 ms early waits
        {5150, 1, false, 5000, 4800}, // queued behind others: up to 150 ms early plays
        {5151, 1, false, 5050, 4800}, // further ahead with one queued: the clock jumps 50 ms
        {5151, 2, true, 5000, 4800},  // ... but not while more are queued
        {4980, 0, false, 5000, 960},  // 20 ms late: the late part is cut, 5 ms are left
        {4970, 0, false, 5000, 0},    // 30 ms late: nothing left, passed over
        {4990, 1, false, 5000, 0},    // late while others play: passed over
    };
    for (const SoundCase& c : cases) {
        SCOPED_TRACE(c.time_ms);
        Rules r;
        PlayerContext* ctx = r.ctx;
        ctx->slots[SLOT_AUDIO].stream_index.store(1);
        ctx->audio.audio_block_align = 4;
        ctx->audio.audio_rate = 48000;
        ctx->audio.header_done.store(0);
        ctx->audio.header_write.store(c.queued);
        StreamSlot* slot = &ctx->slots[SLOT_AUDIO];
        FrameEntry* e = &slot->frames[1];
        e->audio_capacity = 4800;
        e->audio_bytes = 4800;
        e->audio_data = static_cast<uint8_t*>(av_malloc(4800));
        e->time_ms = c.time_ms;
        slot->frames_read.store(1);
        slot->frames_write.store(2);
        ctx->clock_wall_ms.store(400000);
        r.run(400000);
        // Without a sound device a played chunk keeps its buffer; what counts
        // is whether the ring moved on past it, and what is left of it.
        EXPECT_EQ(slot->frames_read.load() == 1, c.waits);
        EXPECT_EQ(ctx->clock_ms.load(), c.clock_ms);
        if (c.bytes_left > 0) {
            EXPECT_EQ(e->audio_bytes, c.bytes_left);
            EXPECT_EQ(e->time_ms, c.bytes_left < 4800 ? 5000 : c.time_ms) << "a trimmed chunk starts at the clock";
        }
    }
}

// The pointer is hidden after three seconds without input while a video
// plays and the pointer rests on the picture; over the controls, paused or
// stepping, the count starts again.
TEST(PresentationRules, the_idle_pointer_is_hidden_only_over_a_playing_picture)
{
    struct Case {
        int32_t region, playing, step;
        bool hidden;
    } cases[] = {{0, 1, 0, true}, {3, 1, 0, true}, {1, 1, 0, false}, {5, 1, 0, false}, {0, 0, 0, false},
                 {0, 1, 1, false}};
    static std::vector<uintptr_t> sent;
    static const WindowLoop recorder{
        [](void*, unsigned msg, uintptr_t a, intptr_t) -> intptr_t {
            if (msg == MSG_PLAYLIST)
                sent.push_back(a);
            return 0;
        },
        [](void*, unsigned, uintptr_t, intptr_t) {}, nullptr};
    window_bridge_install(&recorder);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.region * 100 + c.playing * 10 + c.step);
        Rules r;
        MainWindow* w = main_window_of(r.ctx);
        w->mouse_tracking.store(1);
        w->idle_ticks.store(30);
        r.ctx->hover_region.store(c.region);
        r.ctx->playing.store(c.playing);
        r.ctx->step_frame.store(c.step);
        r.ctx->tick_ms = 0;
        sent.clear();
        r.ctx->clock_wall_ms.store(500000 - 10);
        r.run(500000); // 10 ms: the 100 ms tick comes due
        EXPECT_EQ(sent.size() == 1 && sent[0] == PLAYLIST_HIDE_POINTER, c.hidden);
        EXPECT_EQ(w->idle_ticks.load(), c.hidden ? 31 : 0);
    }
    window_bridge_install(nullptr);
}

} // namespace
