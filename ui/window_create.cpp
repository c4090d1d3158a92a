#include "core/core.h"
#include "platform/platform.h"
#include "render/render.h"
#include "settings/settings.h"
#include "ui/services_internal.h"
#include "ui/ui_internal.h"

void window_create(MainWindow* w, const WindowCreation* creation)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    ctx->window = w->handle;
    window_track_work_area(w);
    desktop_set_title(w, title_base_text());
    if (!creation)
        return;
    if (creation->items && creation->playlist)
        command_line_to_playlist(*creation->items, creation->playlist);
    if (creation->load_settings) {
        creation->load_settings(ctx);
    } else {
        WindowRect rect = window_default_rect(w);
        window_place_and_show(w, &rect);
    }
}

void window_close(MainWindow* w, int exit_code)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    w->exit_code = exit_code;
    exit_sequence_run(ctx, exit_code);
    desktop_quit(w, exit_code);
}

void window_show_pointer(MainWindow* w)
{
    if (!w->cursor_hidden.load(std::memory_order_relaxed))
        return;
    w->cursor_hidden.store(0, std::memory_order_relaxed);
    reinterpret_cast<AppBlock*>(w)->player.clock_ticks.store(0, std::memory_order_relaxed);
    desktop_set_pointer_visible(w, 1);
}

static intptr_t procedure_of_block(void* user, unsigned msg, uintptr_t a, intptr_t b)
{
    return window_procedure(static_cast<MainWindow*>(user), msg, a, b);
}

static intptr_t bridge_send(void* loop, unsigned msg, uintptr_t a, intptr_t b)
{
    return platform_send_message(loop, msg, a, b);
}

static void bridge_post(void* loop, unsigned msg, uintptr_t a, intptr_t b)
{
    platform_post_message(loop, msg, a, b);
}

int run_main_window(PlayerContext* ctx, const WindowCreation* creation)
{
    MainWindow* w = main_window_of(ctx);
    void* handle = platform_window_open(procedure_of_block, w);
    if (!handle)
        return 1;
    // Lives as long as the process: the engine keeps sending through it.
    static WindowDesktop desktop;
    desktop = WindowDesktop{handle,
                            platform_window_query_screen,
                            platform_window_move_resize,
                            platform_window_show,
                            platform_window_raise,
                            platform_window_set_pointer_visible,
                            platform_window_set_title,
                            platform_window_quit,
                            platform_window_minimize,
                            platform_window_begin_drag};
    desktop.query_monitor = platform_window_query_monitor;
    desktop.set_fullscreen_hint = platform_window_set_fullscreen_hint;
    desktop.unmaximize = platform_window_unmaximize;
    desktop.set_band = platform_window_set_band;
    desktop.hide = platform_window_hide;
    desktop.ctrl_held = platform_ctrl_held;
    desktop.tray_available = platform_tray_available;
    desktop.tray_show = platform_tray_show;
    desktop.tray_hide = platform_tray_hide;
    desktop.tray_set_tip = platform_tray_set_tip;
    desktop.balloon_show = platform_balloon_show;
    desktop.balloon_close = platform_balloon_close;
    desktop.balloon_close_wait = platform_balloon_close_wait;
    w->handle = handle;
    w->desktop = &desktop;
    desktop_services_start(w);
    static WindowLoop loop;
    loop = WindowLoop{bridge_send, bridge_post, handle};
    window_bridge_install(&loop);
    render_set_blit_hook(platform_blit, handle);
    render_set_buffer_hook(platform_blit_buffer, handle);
    render_set_picture_window(ctx, handle);
    render_set_clipboard_hook(platform_clipboard_set, handle);
    render_set_clock_hooks(platform_clock_show, platform_clock_hide, handle);
    exit_sequence_add(remove_tray_icon);
    window_procedure(w, MSG_CREATE, reinterpret_cast<uintptr_t>(creation), 0);
    // Other programs may hand over files once the window exists.
    platform_copy_data_listen(handle);
    platform_menu_prepare(handle);
    return platform_window_loop(handle);
}

static void settings_install_cool_menu(PlayerContext* ctx)
{
    install_cool_menu(main_window_of(ctx));
}

static void settings_work_area(PlayerContext* ctx, SettingsRect* area)
{
    const WindowRect& r = main_window_of(ctx)->work_area;
    *area = SettingsRect{r.left, r.top, r.right, r.bottom};
}

static void settings_place_window(PlayerContext* ctx, const SettingsRect* rect)
{
    WindowRect r{rect->left, rect->top, rect->right, rect->bottom};
    window_place_and_show(main_window_of(ctx), &r);
}

// From the bookkeeping, never from the display: the settings are also
// written after the display has gone away.
static void settings_window_rect(PlayerContext* ctx, SettingsRect* rect)
{
    WindowRect r = window_normal_rect(main_window_of(ctx));
    *rect = SettingsRect{r.left, r.top, r.right, r.bottom};
}

int run_player_window(PlayerContext* ctx, const std::vector<std::string>& items)
{
    static SettingsHooks hooks;
    hooks.get_work_area = settings_work_area;
    hooks.place_window = settings_place_window;
    hooks.get_window_rect = settings_window_rect;
    hooks.install_cool_menu = settings_install_cool_menu;
    hooks.apply_always_on_top = apply_always_on_top_setting;
    hooks.register_hotkeys = register_hotkeys_hook;
    settings_set_hooks(&hooks);
    CommandLinePlaylist playlist = command_line_playlist_of(ctx);
    WindowCreation creation{&items, &playlist, settings_load};
    return run_main_window(ctx, &creation);
}
