#include "core/seek_request.h"

#include "core/clock.h"
#include "core/player_context.h"

static uint64_t pack(int32_t target_ms, int32_t forward)
{
    return uint64_t(uint32_t(target_ms)) << 32 | uint32_t(forward);
}

void request_seek(PlayerContext* ctx, int32_t target_ms, int32_t forward)
{
    if (forward == SEEK_KEEP_FORWARD)
        forward = ctx->seek_forward.load(std::memory_order_relaxed);
    ctx->seek_forward.store(forward, std::memory_order_relaxed);
    ctx->seek_order.store(pack(target_ms, forward), std::memory_order_release);
    ctx->seek_target_ms.store(target_ms, std::memory_order_release);
}

void request_seek_unless_pending(PlayerContext* ctx, int32_t target_ms, int32_t forward)
{
    uint64_t none = pack(-1, -1);
    if (!ctx->seek_order.compare_exchange_strong(none, pack(target_ms, forward), std::memory_order_acq_rel))
        return;
    ctx->seek_forward.store(forward, std::memory_order_relaxed);
    // A request the window thread wrote meanwhile keeps its own target.
    int32_t idle = -1;
    ctx->seek_target_ms.compare_exchange_strong(idle, target_ms, std::memory_order_acq_rel);
}

void seek_clear(PlayerContext* ctx)
{
    ctx->seek_forward.store(-1, std::memory_order_relaxed);
    ctx->seek_order.store(pack(-1, -1), std::memory_order_release);
    ctx->seek_target_ms.store(-1, std::memory_order_release);
    ctx->seek_settle_wall_ms.store(0, std::memory_order_relaxed);
}

void seek_settle_start(PlayerContext* ctx)
{
    // 0 means none, so a start at that very tick counts as 1.
    uint32_t now = now_ms();
    ctx->seek_settle_wall_ms.store(now ? now : 1, std::memory_order_relaxed);
}

SeekOrder seek_order_read(const PlayerContext* ctx)
{
    uint64_t order = ctx->seek_order.load(std::memory_order_acquire);
    return SeekOrder{int32_t(uint32_t(order >> 32)), int32_t(uint32_t(order))};
}

void seek_order_done(PlayerContext* ctx, SeekOrder done)
{
    uint64_t expected = pack(done.target_ms, done.forward);
    if (!ctx->seek_order.compare_exchange_strong(expected, pack(-1, -1), std::memory_order_acq_rel))
        return; // a newer request: its own target stays in seek_target_ms
    int32_t target = done.target_ms;
    ctx->seek_target_ms.compare_exchange_strong(target, -1, std::memory_order_release);
}
