// Seek requests. The target and the direction are published together, so
// the demux loop can never pair a new target with an older direction; the
// target also stays in seek_target_ms, which every thread reads as "a seek
// is under way".
#pragma once
#include <cstdint>

struct PlayerContext;

// forward: 0 lands on the key frame at or before the target; non-zero lets
// the engine seek forward to the next one. SEEK_KEEP_FORWARD keeps the
// direction that was last asked for.
constexpr int32_t SEEK_KEEP_FORWARD = INT32_MIN;

// Any thread: asks for a seek to target_ms (0 or more).
void request_seek(PlayerContext* ctx, int32_t target_ms, int32_t forward);

// The engine's own seek to where playback stands (a track switch): asked
// for only while no seek is pending, since a pending one repositions every
// stream anyway and was asked for later by the user, who must win.
void request_seek_unless_pending(PlayerContext* ctx, int32_t target_ms, int32_t forward);

struct SeekOrder {
    int32_t target_ms; // -1: none
    int32_t forward;
};
// No seek asked for (opening an item, start-up).
void seek_clear(PlayerContext* ctx);
// A seek was carried out or an item started: the engine threads keep their
// fast poll until presentation takes the first picture (or sound) after it.
void seek_settle_start(PlayerContext* ctx);
// The demux loop: the seek asked for last, target and direction as one.
SeekOrder seek_order_read(const PlayerContext* ctx);
// The demux loop, when the seek it read has been carried out: clears it
// unless a newer one was asked for meanwhile (the last seek asked for wins).
void seek_order_done(PlayerContext* ctx, SeekOrder done);
