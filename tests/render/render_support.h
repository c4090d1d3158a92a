// Shared set-up of the render tests: a context with a frame buffer of a
// given client size, solid frames and pixel access.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include <ass/ass.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "render/render_internal.h"
#include "settings/settings.h"

// The three settings a picture reads.
inline void set_display_options(int32_t subs_outside, int32_t show_title, int32_t show_progress)
{
    settings.subs_outside = subs_outside;
    settings.show_title = show_title;
    settings.show_progress = show_progress;
}

struct RenderFixture : ::testing::Test {
    PlayerContext* ctx = nullptr;
    void SetUp() override
    {
        ctx = player_context_new();
        ASSERT_NE(ctx, nullptr);
        player_setup(ctx);
        set_display_options(0, 0, 1);
        render_set_blit_hook(nullptr, nullptr);
        render_set_clipboard_hook(nullptr, nullptr);
    }
    void TearDown() override
    {
        render_set_blit_hook(nullptr, nullptr);
        render_set_clipboard_hook(nullptr, nullptr);
        settings_reset(&settings);
        display_free(&ctx->display);
        player_context_free(ctx);
    }
    // Sizes the buffer for W x H as a picture would, without drawing.
    void size_buffer(int32_t W, int32_t H)
    {
        render_set_client_size(ctx, W, H);
        ctx->display.client_width = W;
        ctx->display.client_height = H;
        ASSERT_TRUE(frame_buffer_ensure(&ctx->display));
        osd_select_font(ctx, osd_font_of(ctx, FONT_OSD));
        osd_set_text_colour(ctx, OSD_GREEN);
    }
    uint32_t pixel(int32_t x, int32_t y) const
    {
        uint32_t v;
        memcpy(&v, ctx->display.buffer_bits + int64_t(y) * ctx->display.buffer_pitch + int64_t(x) * 4, 4);
        return v;
    }
    void fill_all(uint32_t pattern)
    {
        fill_rows(ctx, 0, ctx->display.buffer_height, pattern);
    }
    void set_cursor_hidden(int32_t hidden)
    {
        main_window_of(ctx)->cursor_hidden.store(hidden, std::memory_order_relaxed);
    }
};

// A packed BGRA frame of one colour (pattern as in the frame buffer).
inline AVFrame* solid_bgra_frame(int w, int h, uint32_t pattern)
{
    AVFrame* f = av_frame_alloc();
    f->width = w;
    f->height = h;
    f->format = AV_PIX_FMT_BGRA;
    if (av_frame_get_buffer(f, 0) < 0) {
        av_frame_free(&f);
        return nullptr;
    }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            memcpy(f->data[0] + y * f->linesize[0] + x * 4, &pattern, 4);
    return f;
}

// Colour bytes close to the expected ones (the fast bilinear scaler may
// round a solid colour by a few steps at the edges).
inline bool near_colour(uint32_t got, uint32_t want, int tolerance = 8)
{
    for (int i = 0; i < 3; i++) {
        int a = int((got >> (8 * i)) & 0xFF), b = int((want >> (8 * i)) & 0xFF);
        if (a - b > tolerance || b - a > tolerance)
            return false;
    }
    return true;
}

// A libass track with one white, bottom-centred line for the whole time.
struct SubtitleTrack {
    ASS_Track* track = nullptr;
    ASS_Renderer* renderer = nullptr;
};

inline SubtitleTrack add_subtitles(PlayerContext* ctx, const char* text = "HHHH")
{
    SubtitleTrack s;
    ASS_Library* library = ctx->subtitles.ass_library;
    s.renderer = ass_renderer_init(library);
    ass_set_fonts(s.renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    s.track = ass_new_track(library);
    static const char header[] =
        "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
        "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, "
        "MarginL, MarginR, MarginV, Encoding\n"
        "Style: Default,sans-serif,40,&H00FFFFFF,&H00FFFFFF,&H00FFFFFF,&H00FFFFFF,0,0,0,0,100,100,0,0,1,0,0,2,"
        "10,10,10,1\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    std::string script = std::string(header) + "Dialogue: 0,0:00:00.00,0:01:00.00,Default,,0,0,0,," + text + "\n";
    ass_process_data(s.track, script.data(), int(script.size()));
    ctx->subtitles.sub_renderer = s.renderer;
    ctx->subtitles.sub_track.store(s.track);
    // A track read from a file: it keeps its events across seeks.
    ctx->subtitles.external_index.store(0);
    return s;
}

inline void remove_subtitles(PlayerContext* ctx, SubtitleTrack& s)
{
    ctx->subtitles.sub_track.store(nullptr);
    ctx->subtitles.sub_renderer = nullptr;
    ass_free_track(s.track);
    ass_renderer_done(s.renderer);
}

