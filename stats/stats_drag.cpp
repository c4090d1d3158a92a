// Smoothness of playback while the window is moved or resized by the
// pointer: how many pictures were shown during the drags and the longest
// wait between two of them (also from the last picture to a drag's end, so
// a stall that outlasts the drag still counts). And how long the window
// thread's loop was held from its messages.
#include "stats/stats.h"

#include <cstdio>

namespace {

void note_gap(Stats* s, uint32_t gap_ms)
{
    int32_t gap = int32_t(gap_ms > 0x7FFFFFFF ? 0x7FFFFFFF : gap_ms);
    int32_t seen = s->drag_max_gap_ms.load(std::memory_order_relaxed);
    while (gap > seen && !s->drag_max_gap_ms.compare_exchange_weak(seen, gap, std::memory_order_relaxed)) {
    }
}

} // namespace

void stats_window_drag(PlayerContext* ctx, int active)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    uint32_t now = now_ms();
    if (active) {
        if (s->drag_active.exchange(1, std::memory_order_acq_rel))
            return;
        s->drag_start_wall_ms.store(now, std::memory_order_relaxed);
        s->drag_count.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!s->drag_active.exchange(0, std::memory_order_acq_rel))
        return;
    uint32_t start = s->drag_start_wall_ms.load(std::memory_order_relaxed);
    s->drag_total_ms.fetch_add(int64_t(uint32_t(now - start)), std::memory_order_relaxed);
    uint32_t last = s->last_picture_wall_ms.load(std::memory_order_acquire);
    // Pictures that stopped before the drag began are not the drag's doing.
    uint32_t since = (last == 0 || int32_t(start - last) > 0) ? start : last;
    note_gap(s, now - since);
}

void stats_drag_picture(Stats* s, uint32_t now)
{
    uint32_t last = s->last_picture_wall_ms.exchange(now ? now : 1, std::memory_order_acq_rel);
    if (!s->drag_active.load(std::memory_order_acquire))
        return;
    s->drag_pictures.fetch_add(1, std::memory_order_relaxed);
    if (last != 0)
        note_gap(s, now - last);
}

// The calling thread's time on a processor and its time waiting for one,
// in ns; false where the system does not keep them.
static bool thread_times(int64_t* cpu_ns, int64_t* queued_ns)
{
    FILE* f = fopen("/proc/thread-self/schedstat", "r");
    if (!f)
        return false;
    long long cpu = 0, queued = 0;
    bool read = fscanf(f, "%lld %lld", &cpu, &queued) == 2;
    fclose(f);
    *cpu_ns = cpu;
    *queued_ns = queued;
    return read;
}

void stats_window_tick(PlayerContext* ctx, uint32_t period_ms)
{
    Stats* s = stats_of(ctx);
    if (!s)
        return;
    uint32_t now = now_ms();
    int64_t cpu_ns = 0, queued_ns = -1;
    if (!thread_times(&cpu_ns, &queued_ns))
        queued_ns = -1;
    uint32_t last = s->hold_last_tick_ms;
    int64_t last_cpu_ns = s->hold_last_cpu_ns, last_queued_ns = s->hold_last_queued_ns;
    s->hold_last_tick_ms = now ? now : 1;
    s->hold_last_cpu_ns = cpu_ns;
    s->hold_last_queued_ns = queued_ns;
    if (last == 0)
        return;
    int64_t held = int64_t(uint32_t(now - last)) - period_ms;
    if (held <= 0)
        return;
    if (held > s->hold_longest_ms)
        s->hold_longest_ms = int32_t(held > INT32_MAX ? INT32_MAX : held);
    bool known = queued_ns >= 0 && last_queued_ns >= 0;
    if (held >= STATS_HOLD_LISTED_MS && s->hold_count < int32_t(sizeof s->holds / sizeof s->holds[0]))
        s->holds[s->hold_count++] =
            Stats::StatsHold{now, int32_t(held), known ? int32_t((cpu_ns - last_cpu_ns) / 1000000) : -1,
                             known ? int32_t((queued_ns - last_queued_ns) / 1000000) : -1};
}
