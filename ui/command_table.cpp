// The menu commands 1000 to 4023 and up, the system commands and timer 0.
#include "core/core.h"
#include "decode/decode.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "subtitle/subtitle.h"
#include "ui/input_internal.h"
#include "ui/ui_internal.h"

namespace {

// The option commands: each inverts one option, ticks its menu item and
// shows its notice with the on or the off word.
struct OptionCommand {
    int32_t id;
    std::atomic<int32_t> Settings::*field;
    const char* notice;
    const char* on_word;
    const char* off_word;
};

const OptionCommand OPTION_COMMANDS[] = {
    {1002, &Settings::save_playlist, " 退出时%s保存列表 ", "", "不"},
    {1004, &Settings::show_title, " 顶部%s显示标题信息 ", "", "不"},
    {1005, &Settings::show_progress, " %s播放进度 ", "始终显示", "自动隐藏"},
    {1006, &Settings::standard_sub_style, " %s使用标准字幕样式 ", "", "不"},
    {1007, &Settings::subs_outside, " 字幕输出在画面%s ", "外面", "里面"},
    {1009, &Settings::show_clock, " %s全屏时显示系统时间 ", "开启", "关闭"},
    {1010, &Settings::show_play_info, " 中间%s显示播放信息 ", "", "不"},
    {1011, &Settings::hotkeys_enabled, " %s全局热键 ", "开启", "关闭"},
    {1012, &Settings::cool_menu, " %sCool菜单 ", "启用", "关闭"},
    {1013, &Settings::hw_decode, " %s硬件解码(下个文件生效) ", "开启", "关闭"},
    {1014, &Settings::block_screensaver, " 播放视频时[ %s ]屏保和睡眠 ", "禁止", "允许"},
    {1015, &Settings::trim_memory, "  %s清理内存 ", "自动", "不"},
};

bool has_video(PlayerContext* ctx)
{
    return ctx->format.load(std::memory_order_acquire) != nullptr &&
           ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed) >= 0;
}

// What an option does at once when it changes, before its notice.
void apply_option(MainWindow* w, int32_t id, int32_t on)
{
    PlayerContext* ctx = context_of(w);
    switch (id) {
    case 1006: set_standard_sub_style(&ctx->subtitles, on); break;
    case 1009:
        if (on && w->screen_mode != 0) {
            show_clock_overlay(w);
        } else if (!on && ctx->clock_shown.load(std::memory_order_relaxed)) {
            ctx->clock_shown.store(0, std::memory_order_relaxed);
            hide_clock_overlay(w);
        }
        break;
    case 1011: apply_hotkeys(w); break;
    case 1012:
        if (on)
            install_cool_menu(w);
        break;
    case 1014: set_power_blocking(w, has_video(ctx)); break;
    case 1015:
        if (on)
            trim_working_set();
        break;
    default: break;
    }
}

void toggle_option(MainWindow* w, const OptionCommand* c)
{
    PlayerContext* ctx = context_of(w);
    std::atomic<int32_t>& field = settings.*(c->field);
    if (c->id == 1013 && !field.load(std::memory_order_relaxed) && !hw_service_init(ctx)) {
        show_notice(ctx, " 开启硬件解码失败 ");
        return;
    }
    int32_t on = field.load(std::memory_order_relaxed) ? 0 : 1;
    field.store(on, std::memory_order_relaxed);
    menu_set_check(ctx, c->id, on);
    apply_option(w, c->id, on);
    show_notice(ctx, c->notice, on ? c->on_word : c->off_word);
    // The help dialog waits for the user: it comes after the notice.
    if (c->id == 1011 && on)
        show_hotkey_help(w);
}

void toggle_subtitles(PlayerContext* ctx)
{
    int32_t choice = ctx->subtitle_choice.load(std::memory_order_relaxed);
    int32_t now_off = choice == -2 ? 0 : 1;
    command_track(ctx, 3021);
    menu_set_check(ctx, 3021, now_off);
}

} // namespace

intptr_t on_command(MainWindow* w, int32_t id, intptr_t b)
{
    PlayerContext* ctx = context_of(w);
    for (const OptionCommand& c : OPTION_COMMANDS) {
        if (c.id == id) {
            toggle_option(w, &c);
            request_redraw(ctx);
            return 0;
        }
    }
    if (id == 1000) {
        playlist_shuffle(ctx);
    } else if (id == 1001) {
        playlist_sort(ctx);
    } else if (id == 1003) {
        bool silent = b == COMMAND_SILENT || (b != 0 && b == intptr_t(w->handle));
        toggle_always_on_top(w, silent ? 1 : 0);
    } else if (id == 1008) {
        action_exit(w);
    } else if (id == 1016) {
        copy_subtitle_text(ctx);
    } else if (id == 1017 || id == 1018) {
        ctx->copy_request.store(id == 1017 ? 2 : 3, std::memory_order_release);
        return 0;
    } else if (id >= 1019 && id <= 3020) {
        command_track(ctx, id);
    } else if (id == 3021) {
        toggle_subtitles(ctx);
    } else if (id >= 3022 && id <= 4022) {
        action_go_to_chapter(ctx, id - 3022);
    } else if (id >= 4023) {
        int64_t entry = int64_t(id) - 4023;
        if (entry < int64_t(ctx->item_count.load(std::memory_order_relaxed)))
            playlist_open_request(ctx, int32_t(entry), 1, -1);
    }
    request_redraw(ctx);
    return 0;
}

intptr_t on_sys_command(MainWindow* w, uintptr_t command)
{
    switch (command & 0xFFF0) {
    case SYSTEM_MAXIMIZE: toggle_screen_mode(w, 1); return 0;
    case SYSTEM_MOVE:
        if (w->screen_mode == 0)
            window_begin_move(w);
        return 0;
    case SYSTEM_SIZE: return 0; // the window is sized by its own edges and the size keys
    case SYSTEM_MINIMIZE:
        if (!(w->screen_mode == 0 && settings.always_on_top.load(std::memory_order_relaxed)))
            desktop_minimize(w);
        return 0;
    default: return 0;
    }
}

