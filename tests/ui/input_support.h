// A player context with its window header, a recording desktop and a
// recording message bridge, for driving the window procedure's input with
// synthetic messages and no display.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

extern "C" {
#include <ass/ass.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/input_internal.h"
#include "ui/menu_internal.h"
#include "ui/ui.h"
#include "ui/ui_internal.h"

namespace input_test {

struct Record {
    std::vector<std::string> desktop; // desktop calls in order
    std::vector<unsigned> posted;     // messages posted to the window loop
    std::vector<std::string> shown_files;
    WindowRect last_rect{};
};
inline Record* record;

inline void fake_move(void*, const WindowRect* r)
{
    record->desktop.push_back("move");
    record->last_rect = *r;
}
inline void fake_pointer(void*, int visible) { record->desktop.push_back(visible ? "pointer shown" : "pointer hidden"); }
inline void fake_minimize(void*) { record->desktop.push_back("minimize"); }
inline void fake_quit(void*, int) { record->desktop.push_back("quit"); }
// A desktop with a tray: hiding there hides the window instead of minimising it.
inline int fake_tray_available(void*) { return 1; }
inline const WindowDesktop fake_desktop = [] {
    WindowDesktop d{nullptr, nullptr, fake_move, nullptr, nullptr, fake_pointer, nullptr, fake_quit, fake_minimize};
    d.tray_available = fake_tray_available;
    return d;
}();

inline intptr_t fake_send(void*, unsigned msg, uintptr_t, intptr_t)
{
    record->posted.push_back(msg);
    return 0;
}
inline void fake_post(void*, unsigned msg, uintptr_t, intptr_t) { record->posted.push_back(msg); }
inline const WindowLoop fake_loop{fake_send, fake_post, nullptr};

inline int fake_show_file(const char* path)
{
    record->shown_files.push_back(path);
    return 1;
}

// Stands for an open item: nothing reads through it.
inline char fake_format;

class InputTest : public ::testing::Test {
public:
    void SetUp() override
    {
        rec = Record{};
        record = &rec;
        settings_reset(&settings);
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        w->desktop = &fake_desktop;
        w->work_area = WindowRect{0, 0, 1920, 1040};
        w->client_width = 960;
        w->client_height = 540;
        w->normal_rect = WindowRect{480, 250, 1440, 790};
        ctx->window_visible.store(1);
        window_bridge_install(&fake_loop);
        show_file_set_handler(fake_show_file);
    }
    void TearDown() override
    {
        ctx->format.store(nullptr);
        // A right click builds the menu and caches it; the window thread frees it at exit.
        menu_free_cached(ctx);
        window_bridge_install(nullptr);
        show_file_set_handler(nullptr);
        playlist_free(ctx);
        player_context_free(ctx);
        settings_reset(&settings);
        record = nullptr;
    }

    intptr_t send(unsigned msg, uintptr_t a = 0, intptr_t b = 0) { return window_procedure(w, msg, a, b); }
    void key(int32_t code, intptr_t modifiers = 0)
    {
        send(modifiers & KEY_MOD_ALT ? MSG_SYS_KEY_DOWN : MSG_KEY_DOWN, uintptr_t(code), modifiers);
    }
    void move(int32_t x, int32_t y) { send(MSG_MOUSE_MOVE, 0, mouse_position(x, y)); }

    // An open item of duration_ms, with or without a 25 fps video stream.
    void open_item(int32_t duration_ms, bool video, int32_t clock_ms = 0)
    {
        ctx->format.store(reinterpret_cast<AVFormatContext*>(&fake_format));
        ctx->slots[SLOT_VIDEO].stream_index.store(video ? 0 : -1);
        ctx->slots[SLOT_AUDIO].stream_index.store(video ? 1 : 0);
        ctx->frame_rate_num.store(25);
        ctx->frame_rate_den.store(1);
        ctx->video_height.store(video ? 1080 : 0);
        ctx->display_width.store(video ? 1920 : 0);
        ctx->display_height.store(video ? 1080 : 0);
        ctx->duration_ms.store(duration_ms);
        ctx->clock_ms.store(clock_ms);
        ctx->playing.store(1);
        seek_clear(ctx);
    }
    void add_entries(int count)
    {
        for (int i = 0; i < count; i++)
            playlist_add_entry(ctx, ("/media/film" + std::to_string(i) + ".mkv").c_str(), 0);
    }
    std::string notice()
    {
        char text[2048];
        notice_copy(ctx, text, sizeof text);
        return text;
    }
    void clear_notice() { ctx->notice_length.store(0); }

    Record rec;
    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
};

} // namespace input_test
