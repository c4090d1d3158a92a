#include "core/core.h"
#include "decode/decode.h"
#include "playlist/playlist.h"
#include "stats/stats.h"
#include "ui/input_internal.h"
#include "ui/ui.h"

void command_play_pause(PlayerContext* ctx, int play)
{
    if (ctx->format.load(std::memory_order_acquire)) {
        int32_t now_playing = play < 0 ? !ctx->playing.load(std::memory_order_relaxed) : play;
        ctx->playing.store(now_playing, std::memory_order_relaxed);
        if (now_playing)
            audio_restart(&ctx->audio);
        else
            audio_pause(&ctx->audio);
        return;
    }
    if (play != 0)
        playlist_play_idle(ctx);
}

void command_stop(PlayerContext* ctx)
{
    ctx->open_index.store(OPEN_INDEX_STOP, std::memory_order_release);
}

void command_seek_to(PlayerContext* ctx, int32_t position_ms)
{
    int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    if (duration <= 100 || !ctx->format.load(std::memory_order_acquire))
        return;
    if (position_ms < 0)
        position_ms = 0;
    if (position_ms > duration - 1)
        position_ms = duration - 1;
    bool has_video = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
    stats_seek_asked(ctx);
    request_seek(ctx, position_ms, has_video ? 0 : 1);
}

void command_step(PlayerContext* ctx)
{
    ctx->step_frame.store(1, std::memory_order_relaxed);
    audio_restart(&ctx->audio);
}

const char* volume_label(int32_t level)
{
    if (level == 0)
        return "静音";
    if (level < 100)
        return "缩小";
    if (level == 100)
        return "原始";
    if (level == 110)
        return "自动调节";
    return "扩大";
}

void command_set_volume(PlayerContext* ctx, int32_t level)
{
    if (level < 0)
        level = 0;
    if (level > 300)
        level = 300;
    audio_set_volume(&ctx->audio, uint32_t(level));
    show_notice(ctx, " 设置音量 %d [%s] ", level, volume_label(level));
}

void command_track(PlayerContext* ctx, int32_t command_id)
{
    if (command_id < 1019)
        return;
    if (command_id >= 3021) {
        int32_t choice = ctx->subtitle_choice.load(std::memory_order_relaxed);
        ctx->subtitle_choice.store(choice == -2 ? -1 : -2, std::memory_order_relaxed);
        show_notice(ctx, " %s字幕 ", choice == -2 ? "使用" : "禁用");
    }
    ctx->track_switch_request.store(command_id, std::memory_order_release);
}
