#include "core/clock.h"

#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/player_context.h"

uint32_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void delay_100ns(int64_t units)
{
    if (units < 0)
        units = -units;
    timespec ts;
    ts.tv_sec = time_t(units / 10000000);
    ts.tv_nsec = long(units % 10000000) * 100;
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

void backoff_pause(Backoff* backoff)
{
    if (backoff->tries++ < 32) {
        sched_yield();
        return;
    }
    delay_100ns(-1000); // 100 us
}

bool seek_in_progress(const PlayerContext* ctx)
{
    if (ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0)
        return true;
    uint32_t settle = ctx->seek_settle_wall_ms.load(std::memory_order_relaxed);
    // Bounded: a seek whose picture never comes must not keep the threads
    // polling every millisecond.
    return settle != 0 && now_ms() - settle < SEEK_SETTLE_LIMIT_MS;
}

void engine_poll_sleep(const PlayerContext* ctx)
{
    delay_100ns(seek_in_progress(ctx) ? SLEEP_1MS : SLEEP_10MS);
}

int64_t timestamp_to_ms(int64_t ts, int num, int den)
{
    int64_t product;
    if (den <= 0)
        return 0;
    if (__builtin_mul_overflow(ts, int64_t(num) * 1000, &product))
        return (ts < 0) == (num < 0) ? INT64_MAX / den : INT64_MIN / den;
    return product / den;
}

int32_t stream_to_media_ms(const PlayerContext* ctx, const AVStream* stream, int64_t ts)
{
    int64_t ms = timestamp_to_ms(ts, stream->time_base.num, stream->time_base.den);
    int64_t offset = ctx->start_offset_ms.load(std::memory_order_relaxed);
    // Saturating: a timestamp far outside the item stays far outside it.
    if (ms < INT32_MIN + offset)
        return INT32_MIN;
    ms -= offset;
    return ms > INT32_MAX ? INT32_MAX : int32_t(ms);
}

int64_t media_ms_to_stream(const PlayerContext* ctx, const AVStream* stream, int64_t ms)
{
    int64_t product;
    if (stream->time_base.num <= 0)
        return 0;
    if (__builtin_mul_overflow(ctx->start_offset_ms.load(std::memory_order_relaxed) + ms,
                               int64_t(stream->time_base.den), &product))
        return ms < 0 ? INT64_MIN / 2 : INT64_MAX / 2;
    return product / (int64_t(stream->time_base.num) * 1000);
}

char* format_time_ms(char* cursor, int32_t ms)
{
    int n = sprintf(cursor, "%02d:%02d:%02d.%03d", ms / 3600000, ms % 3600000 / 60000, ms % 60000 / 1000,
                    ms % 1000);
    return cursor + n;
}
