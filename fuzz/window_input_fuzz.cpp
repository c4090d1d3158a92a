// The window procedure of a headless player (no engine threads) under
// random sequences of input messages: keys, Alt keys, hot keys, every mouse
// message with any coordinates, wheel turns, commands, system commands and
// timers, in windows from 1 x 1 up, with or without an item, entries and
// chapters. Nothing may crash, hang or leave a request out of its range.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/input_internal.h"
#include "ui/ui.h"

namespace {

PlayerContext* ctx;
char fake_format; // stands for an open item: nothing reads through it

int no_file_manager(const char*)
{
    return 1;
}

// Everything runs on this one thread: a send is a direct call, as it is from
// the window thread itself (a dropped menu comes back this way to be freed).
intptr_t send_here(void*, unsigned msg, uintptr_t a, intptr_t b)
{
    return window_procedure(main_window_of(ctx), msg, a, b);
}
void post_nowhere(void*, unsigned, uintptr_t, intptr_t) {}
const WindowLoop loop{send_here, post_nowhere, nullptr};

const unsigned MESSAGES[] = {
    MSG_KEY_DOWN,    MSG_SYS_KEY_DOWN, MSG_MOUSE_MOVE,  MSG_LEFT_DOWN,   MSG_LEFT_UP,   MSG_LEFT_DOUBLE,
    MSG_RIGHT_DOWN,  MSG_RIGHT_UP,     MSG_MIDDLE_DOWN, MSG_MOUSE_WHEEL, MSG_MOUSE_LEAVE, MSG_HOTKEY,
    MSG_COMMAND,     MSG_SYS_COMMAND,  MSG_TIMER,
};
constexpr size_t MESSAGE_COUNT = sizeof MESSAGES / sizeof MESSAGES[0];

uint32_t take(const uint8_t** data, size_t* size, size_t bytes)
{
    uint32_t v = 0;
    for (size_t i = 0; i < bytes && *size; i++, (*data)++, (*size)--)
        v |= uint32_t(**data) << (8 * i);
    return v;
}

void set_scene(MainWindow* w, const uint8_t** data, size_t* size)
{
    uint32_t scene = take(data, size, 4);
    w->client_width = int32_t(take(data, size, 2) % 4000) + 1;
    w->client_height = int32_t(take(data, size, 2) % 3000) + 1;
    w->screen_mode = int32_t(scene % 3) - 1;
    bool open = scene & 4, video = scene & 8;
    ctx->format.store(open ? reinterpret_cast<AVFormatContext*>(&fake_format) : nullptr);
    ctx->slots[SLOT_VIDEO].stream_index.store(video ? 0 : -1);
    ctx->video_height.store(video ? int32_t(take(data, size, 2)) : 0);
    ctx->display_width.store(take(data, size, 2));
    ctx->display_height.store(take(data, size, 2));
    ctx->frame_rate_num.store(int32_t(take(data, size, 2)));
    ctx->frame_rate_den.store(int32_t(take(data, size, 2)));
    ctx->duration_ms.store(int32_t(take(data, size, 4)));
    ctx->clock_ms.store(int32_t(take(data, size, 4)));
    uint32_t entries = (scene >> 4) % 4;
    for (uint32_t i = 0; i < entries; i++)
        playlist_add_entry(ctx, i % 2 ? "/media/a.mkv" : "/media/b.mkv", 0);
    ctx->current_item.store((scene >> 6) % 6);
    uint32_t chapters = (scene >> 9) % 4;
    ctx->chapters = static_cast<Chapter*>(calloc(chapters + 1, sizeof(Chapter)));
    for (uint32_t i = 0; i < chapters; i++) {
        ctx->chapters[i].start_ms = int32_t(take(data, size, 4));
        ctx->chapters[i].end_ms = int32_t(take(data, size, 4));
    }
    ctx->chapter_count.store(chapters);
    // What the media thread publishes for the menu, which chapter jumps read.
    ctx->menu_source = new MenuSource{};
    for (uint32_t i = 0; i < chapters; i++)
        ctx->menu_source->chapters.push_back(MenuChapter{ctx->chapters[i].start_ms, ctx->chapters[i].end_ms, ""});
    settings.always_on_top.store((scene >> 12) & 1);
}

void clear_scene()
{
    playlist_free(ctx);
    free(ctx->chapters);
    ctx->chapters = nullptr;
    delete ctx->menu_source;
    ctx->menu_source = nullptr;
    ctx->chapter_count.store(0);
    ctx->format.store(nullptr);
    settings_reset(&settings);
    seek_clear(ctx);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    settings_disable();
    ctx = player_context_new();
    player_setup(ctx);
    ctx->window_visible.store(1);
    show_file_set_handler(no_file_manager);
    window_bridge_install(&loop);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MainWindow* w = main_window_of(ctx);
    set_scene(w, &data, &size);
    while (size >= 9) {
        unsigned msg = MESSAGES[take(&data, &size, 1) % MESSAGE_COUNT];
        uintptr_t a = take(&data, &size, 4);
        intptr_t b = int32_t(take(&data, &size, 4));
        if (msg == MSG_MOUSE_WHEEL)
            a = uintptr_t(intptr_t(int32_t(a)));
        // A pending seek is carried out by the engine, which is not running:
        // held keys would otherwise wait 100 ms each.
        seek_clear(ctx);
        window_procedure(w, msg, a, b);
        if (ctx->audio.volume.load() > 300 || uint32_t(ctx->hover_region.load()) > 7)
            abort();
    }
    clear_scene();
    return 0;
}
