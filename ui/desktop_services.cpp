// Global hot keys, screensaver and sleep blocking, memory trimming, and the
// window's side of the desktop services: which moment asks for what.
#include <malloc.h>

#include "platform/platform.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/services_internal.h"

const char HOTKEY_HELP_TITLE[] = "已开启全局热键";
const char HOTKEY_HELP_TEXT[] =
    "\t全局热键说明\n\nCtrl+Alt+M\t\t显示/隐藏窗口\nCtrl+Alt+R\t\t随机打乱列表\nCtrl+Alt+B/PageUp\t播放上一个\n"
    "Ctrl+Alt+N/PageDown\t播放下一个\nCtrl+Alt+P\t\t播放/暂停\nCtrl+Alt+S\t\t停止播放\nCtrl+Alt+←\t\t后退五秒\n"
    "Ctrl+Alt+→\t\t快进五秒\nCtrl+Alt+↑\t\t加大音量\nCtrl+Alt+↓\t\t降低音量";

static void trim_for_real()
{
    malloc_trim(0);
}

static void (*trim_hook)() = trim_for_real;

void set_trim_hook(void (*hook)())
{
    trim_hook = hook ? hook : trim_for_real;
}

void trim_working_set()
{
    trim_hook();
}

void trim_if_enabled()
{
    if (settings.trim_memory.load(std::memory_order_relaxed))
        trim_working_set();
}

void apply_hotkeys(MainWindow* w)
{
    if (const DesktopServices* s = w->services; s && s->bind_hotkeys)
        s->bind_hotkeys(s->handle, settings.hotkeys_enabled.load(std::memory_order_relaxed) != 0);
}

void show_hotkey_help(MainWindow* w)
{
    if (const DesktopServices* s = w->services; s && s->show_information)
        s->show_information(s->handle, HOTKEY_HELP_TITLE, HOTKEY_HELP_TEXT);
}

void set_power_blocking(MainWindow* w, int video_open)
{
    int32_t wanted = video_open && settings.block_screensaver.load(std::memory_order_relaxed) ? 1 : 0;
    // A second video keeps the hold without asking again.
    if (wanted == w->power_blocking)
        return;
    w->power_blocking = wanted;
    if (const DesktopServices* s = w->services; s && s->power_block)
        s->power_block(s->handle, wanted);
}

void media_state_changed(MainWindow* w, int state)
{
    // The desktop hears of the item (or of the stop) now, not at the next poll.
    platform_mpris_announce(w->handle);
    set_power_blocking(w, state == MEDIA_OPENED_VIDEO);
    if (state == MEDIA_STOPPED)
        trim_if_enabled();
}

void trim_soon(MainWindow* w)
{
    const DesktopServices* s = w->services;
    if (s && s->timer_start)
        s->timer_start(s->handle, TRIM_TIMER, TRIM_DELAY_MS);
    else
        trim_working_set(); // no timers without a desktop
}

void window_timer_elapsed(MainWindow* w, unsigned number)
{
    if (number == HOLD_TIMER) {
        stats_window_tick(&reinterpret_cast<AppBlock*>(w)->player, HOLD_PERIOD_MS);
        return;
    }
    if (number != TRIM_TIMER)
        return;
    trim_working_set();
    if (const DesktopServices* s = w->services; s && s->timer_stop)
        s->timer_stop(s->handle, TRIM_TIMER);
}

void register_hotkeys_hook(PlayerContext* ctx)
{
    apply_hotkeys(main_window_of(ctx));
}

// ---- the real desktop ----

static void release_at_exit(PlayerContext* ctx, int)
{
    MainWindow* w = main_window_of(ctx);
    w->power_blocking = 0;
    if (const DesktopServices* s = w->services; s && s->power_release_at_exit)
        s->power_release_at_exit(s->handle);
}

static void read_state_hook(void* user, MprisState* state)
{
    remote_read_state(static_cast<MainWindow*>(user), state);
}

static int act_hook(void* user, int action, int64_t value, const char* path)
{
    return remote_act(static_cast<MainWindow*>(user), action, value, path);
}

void desktop_services_use(MainWindow* w, const DesktopServices* services)
{
    w->services = services;
}

void desktop_services_start(MainWindow* w)
{
    // Lives as long as the process, like the window.
    static DesktopServices services;
    services = DesktopServices{w->handle,           platform_hotkeys_bind,    platform_timer_start,
                               platform_timer_stop, platform_show_information, platform_power_block,
                               platform_power_release_at_exit};
    w->services = &services;
    // With --stats, a timer on the window thread's loop measures how long
    // the loop is ever held from its messages.
    if (stats_of(&reinterpret_cast<AppBlock*>(w)->player))
        platform_timer_start(w->handle, HOLD_TIMER, HOLD_PERIOD_MS);
    exit_sequence_add(release_at_exit);
    // The interface shows the items' covers: the engine looks for them.
    reinterpret_cast<AppBlock*>(w)->player.covers_wanted.store(1, std::memory_order_relaxed);
    static MprisHooks hooks;
    hooks = MprisHooks{w, read_state_hook, act_hook};
    platform_mpris_start(w->handle, &hooks);
}
