// The named actions the keys, buttons, hot keys and commands share.
#include <algorithm>
#include <vector>

#include "core/core.h"
#include "decode/decode.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/input_internal.h"
#include "ui/ui_internal.h"

PlayerContext* context_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

void action_wake_pointer(MainWindow* w)
{
    w->idle_ticks.store(0, std::memory_order_relaxed);
    window_show_pointer(w);
}

void action_play_pause(MainWindow* w)
{
    command_play_pause(context_of(w), -1);
    action_wake_pointer(w);
}

static bool item_open(PlayerContext* ctx)
{
    return ctx->format.load(std::memory_order_acquire) != nullptr;
}

void action_seek_to(PlayerContext* ctx, int64_t target_ms, int32_t forward)
{
    if (!item_open(ctx))
        return;
    stats_seek_asked(ctx);
    request_seek(ctx, int32_t(std::min<int64_t>(target_ms, INT32_MAX)), forward);
}

int32_t position_ms(const PlayerContext* ctx)
{
    return std::max(ctx->clock_ms.load(std::memory_order_relaxed), 0);
}

void action_seek_by(PlayerContext* ctx, int32_t seconds)
{
    int64_t target = int64_t(position_ms(ctx)) + int64_t(seconds) * 1000;
    action_seek_to(ctx, target < 0 ? 0 : target);
}

void action_frame_step(PlayerContext* ctx, int32_t direction, int32_t mode)
{
    ctx->playing.store(0, std::memory_order_relaxed);
    int64_t step = 300;
    if (ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0) {
        int64_t num = ctx->frame_rate_num.load(std::memory_order_relaxed);
        int64_t den = ctx->frame_rate_den.load(std::memory_order_relaxed);
        // A stream without a usable rate steps as 25 pictures a second.
        step = num > 0 && den > 0 ? 1000 * den / num : 40;
    }
    int64_t target = int64_t(ctx->clock_ms.load(std::memory_order_relaxed)) + direction * step;
    if (target < 0)
        return;
    action_seek_to(ctx, target, mode);
}

void action_volume_step(PlayerContext* ctx, int up)
{
    int32_t volume = int32_t(ctx->audio.volume.load(std::memory_order_relaxed));
    if (up)
        volume = volume >= 290 ? 300 : volume + 10;
    else
        volume = volume <= 10 ? 0 : volume - 10;
    command_set_volume(ctx, volume);
}

int32_t chapter_step_target(const Chapter* chapters, uint32_t count, int32_t clock_ms, int forward)
{
    int64_t current = -1;
    for (uint32_t i = 0; i < count; i++) {
        if (chapters[i].start_ms <= clock_ms && clock_ms < chapters[i].end_ms) {
            current = i;
            break;
        }
    }
    if (current < 0)
        return -1;
    int64_t target;
    if (forward)
        target = current + 1;
    else if (int64_t(clock_ms) - chapters[current].start_ms >= 5000)
        target = current;
    else
        target = current - 1;
    return target >= 0 && target < int64_t(count) ? int32_t(target) : -1;
}

// The open item's chapter times, as the media thread published them for
// the menu. The media thread rewrites its own chapter array when the next
// item opens, so the window thread reads only this copy, under its lock.
static std::vector<Chapter> chapter_times(PlayerContext* ctx)
{
    std::vector<Chapter> chapters;
    SpinGuard guard(&ctx->menu_source_lock);
    if (const MenuSource* source = ctx->menu_source) {
        chapters.resize(source->chapters.size());
        for (size_t i = 0; i < chapters.size(); i++) {
            chapters[i].start_ms = source->chapters[i].start_ms;
            chapters[i].end_ms = source->chapters[i].end_ms;
            chapters[i].title[0] = 0;
        }
    }
    return chapters;
}

void action_chapter_step(MainWindow* w, int forward)
{
    PlayerContext* ctx = context_of(w);
    std::vector<Chapter> chapters = chapter_times(ctx);
    if (chapters.empty())
        return;
    int32_t target = chapter_step_target(chapters.data(), uint32_t(chapters.size()),
                                         ctx->clock_ms.load(std::memory_order_relaxed), forward);
    if (target >= 0)
        action_go_to_chapter(ctx, target);
}

void action_go_to_chapter(PlayerContext* ctx, int64_t index)
{
    std::vector<Chapter> chapters = chapter_times(ctx);
    if (index < 0 || index >= int64_t(chapters.size()) || !item_open(ctx))
        return;
    int32_t start = chapters[size_t(index)].start_ms;
    action_seek_to(ctx, start < 0 ? 0 : start, 0);
}

// A post, so that the loop that runs the window (the desktop's or the
// headless one) ends the same way as on the window manager's close.
void action_exit(MainWindow* w)
{
    window_post(MSG_CLOSE, 0, 0);
}

