// Status and information lines: the progress markers, chapter ticks, the
// top information line for video and for sound, the hover-time tooltip, the
// time labels, the button tooltips and the caption buttons. Every line is
// formatted afresh from the context for each picture.
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

#include "core/core.h"
#include "render/render_internal.h"

namespace {

int32_t cursor_hidden(PlayerContext* ctx)
{
    return main_window_of(ctx)->cursor_hidden.load(std::memory_order_relaxed);
}

// The column of a progress marker for media time t: the 8-pixel marker
// travels over W - 8 columns.
int64_t marker_column(int32_t W, int32_t t, int32_t duration)
{
    int64_t x = int64_t(W - 8) * t / duration;
    return x < W - 8 ? x : W - 8;
}

const char* file_name_part(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The short form of the aspect text: from the approximate ratio when there
// is one, else the whole text.
const char* aspect_short(const char* aspect_text)
{
    const char* approx = strstr(aspect_text, "≈");
    return approx ? approx : aspect_text;
}

char picture_type_letter(int type)
{
    static const char letters[] = "NIPBS";
    return type >= 0 && type <= 4 ? letters[type] : 'U';
}

bool is_hardware_format(int format)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(format));
    return desc && (desc->flags & AV_PIX_FMT_FLAG_HWACCEL);
}

} // namespace

// ---- progress bar ----

void draw_progress_marker(PlayerContext* ctx, int32_t time_ms, uint32_t colour)
{
    const FrameDisplay* d = &ctx->display;
    const int32_t W = d->client_width, H = d->client_height;
    const int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    if (duration <= 0 || W < 8)
        return;
    int64_t x = marker_column(W, time_ms, duration);
    if (x < 0)
        x = 0; // a time before the start (negative) stays at the left end
    for (int32_t row : {H - 10, H - 6, H - 2})
        fill_rect(ctx, int32_t(x), row, 8, 2, colour);
}

void draw_progress_markers(PlayerContext* ctx, int32_t progress_ms, bool video_shown)
{
    uint32_t colour;
    if (ctx->playing.load(std::memory_order_relaxed) == 0)
        colour = bgrx(0xFF, 0x00, 0xFF, 0x00);
    else if (cursor_hidden(ctx) != 0 && video_shown)
        colour = bgrx(0x00, 0xA0, 0x00, 0xA0);
    else
        colour = bgrx(0x00, 0xFF, 0x00, 0xFF);
    draw_progress_marker(ctx, progress_ms, colour);
    const int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    const int64_t gap = int64_t(clock) - progress_ms;
    if (ctx->step_frame.load(std::memory_order_relaxed) != 0 || gap >= 600 || gap <= -600)
        draw_progress_marker(ctx, clock, bgrx(0x00, 0x00, 0xFF, 0x00));
    const int32_t target = ctx->seek_target_ms.load(std::memory_order_relaxed);
    if (target >= 0)
        draw_progress_marker(ctx, target, bgrx(0x00, 0xFF, 0xFF, 0xFF));
}

void draw_chapter_ticks(PlayerContext* ctx)
{
    const FrameDisplay* d = &ctx->display;
    const int32_t W = d->client_width, H = d->client_height;
    const int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    const uint32_t count = ctx->chapter_count.load(std::memory_order_acquire);
    if (duration <= 0 || !ctx->chapters)
        return;
    const uint32_t colour = ctx->hover_region.load(std::memory_order_relaxed) == 3 ? bgrx(0x00, 0x80, 0xFF, 0x00)
                                                                                    : bgrx(0x00, 0xFF, 0x00, 0x00);
    for (uint32_t i = 0; i < count; i++) {
        const int64_t x = int64_t(ctx->chapters[i].start_ms) * (W - 8) / duration + 4;
        if (x < 0 || x * 4 >= d->buffer_pitch)
            continue;
        fill_rect(ctx, int32_t(x), H - 7, 2, 6, colour);
    }
}

// ---- information lines ----

const char* sample_format_name(int32_t sample_format)
{
    switch (sample_format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        return "8位";
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        return "16位";
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        return "32位";
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return "32位浮点";
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return "64位浮点";
    default:
        return "";
    }
}

int format_video_info(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh, char* out,
                      int out_size)
{
    const int32_t W = ctx->display.client_width;
    const int v = int(ctx->audio.volume.load(std::memory_order_relaxed));
    const char* hw = is_hardware_format(frame->format) ? "硬解" : "";
    const char c = picture_type_letter(frame->pict_type);
    const int64_t num = ctx->frame_rate_num.load(std::memory_order_relaxed);
    const int64_t den = ctx->frame_rate_den.load(std::memory_order_relaxed);
    const int64_t elapsed = int64_t(time_ms) - ctx->video_start_ms.load(std::memory_order_relaxed);
    // The elapsed video time in frames, rounded; a rate that is not known
    // yet (denominator 0) shows frame 0 and 0.00 rather than dividing by 0.
    const int64_t n = den != 0 ? (num * elapsed / (den * 100) + 5) / 10 : 0;
    const uint32_t uden = uint32_t(den), unum = uint32_t(num);
    const uint32_t fps = uden != 0 ? (uden / 2 + unum * 100) / uden : 0;
    const int32_t t = time_ms;
    const int32_t dur = ctx->duration_ms.load(std::memory_order_relaxed);
    const uint32_t item = ctx->current_item.load(std::memory_order_relaxed) + 1;
    const uint32_t items = ctx->item_count.load(std::memory_order_relaxed);
#define MV_INFO_HEAD "%d %s %c.%d [ %d:%02d:%02d.%03d%s / %d:%02d:%02d.%03d ] "
#define MV_INFO_HEAD_ARGS                                                                                     \
    v, hw, c, int(n), t / 3600000, t % 3600000 / 60000, t % 60000 / 1000, t % 1000, ctx->start_offset_text, \
        dur / 3600000, dur % 3600000 / 60000, dur % 60000 / 1000, dur % 1000
    int length;
    if (W >= 1000)
        length = snprintf(out, size_t(out_size), MV_INFO_HEAD "%dx%d -> %dx%d / %s  FPS:%d.%02d  %d/%d/%s",
                          MV_INFO_HEAD_ARGS, frame->width, frame->height, dw, dh, ctx->aspect_text, int(fps / 100),
                          int(fps % 100), int(item), int(items), ctx->media_path);
    else if (W >= 620)
        length = snprintf(out, size_t(out_size), MV_INFO_HEAD "%dx%d / %s  FPS:%d.%02d  %d/%d/%s", MV_INFO_HEAD_ARGS,
                          dw, dh, aspect_short(ctx->aspect_text), int(fps / 100), int(fps % 100), int(item),
                          int(items), file_name_part(ctx->media_path));
    else
        length = snprintf(out, size_t(out_size), MV_INFO_HEAD "%dx%d  FPS:%d.%02d  %d/%d/%s", MV_INFO_HEAD_ARGS, dw,
                          dh, int(fps / 100), int(fps % 100), int(item), int(items),
                          file_name_part(ctx->media_path));
#undef MV_INFO_HEAD
#undef MV_INFO_HEAD_ARGS
    if (length < 0)
        length = 0;
    // Which presenter draws: the GL path says so at the end of the line.
    if (ctx->display.gl_drawing && length < out_size)
        length += snprintf(out + length, size_t(out_size - length), "  GL");
    return length < out_size ? length : out_size - 1;
}

void draw_video_info(PlayerContext* ctx, const AVFrame* frame, int32_t time_ms, int32_t dw, int32_t dh)
{
    char line[4096];
    int length = format_video_info(ctx, frame, time_ms, dw, dh, line, sizeof line);
    osd_text_out(ctx, 0, 0, line, length);
}

int format_audio_info(PlayerContext* ctx, char* out, int out_size)
{
    const int v = int(ctx->audio.volume.load(std::memory_order_relaxed));
    const int32_t p = ctx->audio_only_position_ms.load(std::memory_order_relaxed);
    const int32_t dur = ctx->duration_ms.load(std::memory_order_relaxed);
    const uint32_t item = ctx->current_item.load(std::memory_order_relaxed) + 1;
    const uint32_t items = ctx->item_count.load(std::memory_order_relaxed);
    int length = snprintf(out, size_t(out_size),
                          "%d [ %d:%02d:%02d.%03d%s / %d:%02d:%02d.%03d ] %d声道  %s  %dHz  %d/%d/%s", v, p / 3600000,
                          p % 3600000 / 60000, p % 60000 / 1000, p % 1000, ctx->start_offset_text, dur / 3600000,
                          dur % 3600000 / 60000, dur % 60000 / 1000, dur % 1000, ctx->audio.audio_in_channels.load(std::memory_order_relaxed),
                          sample_format_name(ctx->audio.audio_sample_format.load(std::memory_order_relaxed)),
                          ctx->audio.audio_in_rate.load(std::memory_order_relaxed), int(item),
                          int(items), ctx->media_path);
    if (length < 0)
        length = 0;
    return length < out_size ? length : out_size - 1;
}

void draw_audio_info(PlayerContext* ctx)
{
    char line[4096];
    int length = format_audio_info(ctx, line, sizeof line);
    osd_text_out(ctx, 0, 0, line, length);
}

// ---- hover display ----

int format_hover_time(PlayerContext* ctx, char* out, int out_size)
{
    const int32_t h = ctx->hover_position_ms.load(std::memory_order_relaxed);
    char suffix[sizeof(Chapter::title) + 8] = "";
    const uint32_t count = ctx->chapter_count.load(std::memory_order_acquire);
    // Untitled chapters are passed over: the first titled chapter covering
    // the time names it.
    for (uint32_t i = 0; ctx->chapters && i < count; i++) {
        const Chapter& ch = ctx->chapters[i];
        if (ch.start_ms <= h && h <= ch.end_ms && ch.title[0]) {
            snprintf(suffix, sizeof suffix, " [%.*s]", int(sizeof ch.title), ch.title);
            break;
        }
    }
    int n = snprintf(out, size_t(out_size), "%d:%02d:%02d.%03d%s", h / 3600000, h % 3600000 / 60000,
                     h % 60000 / 1000, h % 1000, suffix);
    if (n < 0)
        n = 0;
    return n < out_size ? n : out_size - 1;
}

namespace {

void draw_hover_tooltip(PlayerContext* ctx)
{
    const int32_t W = ctx->display.client_width, H = ctx->display.client_height;
    const int32_t h = ctx->hover_position_ms.load(std::memory_order_relaxed);
    const int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    if (duration <= 0)
        return;
    char text[sizeof(Chapter::title) + 64];
    int n = format_hover_time(ctx, text, sizeof text);
    int64_t x = int64_t(h) * W / duration;
    if (x > W)
        x = W;
    draw_text_box(ctx, nullptr, int32_t(x), H - 30, 2, 1, x < W / 2 ? 0 : ANCHOR_RIGHT, text, n);
}

void draw_time_labels(PlayerContext* ctx, int32_t p)
{
    const int32_t W = ctx->display.client_width, H = ctx->display.client_height;
    const int32_t d = ctx->duration_ms.load(std::memory_order_relaxed);
    char text[64];
    int n = snprintf(text, sizeof text, "%d:%02d:%02d", p / 3600000, p % 3600000 / 60000, p % 60000 / 1000);
    draw_text_box(ctx, nullptr, 0, H, 0, 0, ANCHOR_NO_BOX | ANCHOR_BOTTOM, text, n);
    n = snprintf(text, sizeof text, "%d:%02d:%02d", d / 3600000, d % 3600000 / 60000, d % 60000 / 1000);
    draw_text_box(ctx, nullptr, W, H, 0, 0, ANCHOR_NO_BOX | ANCHOR_RIGHT | ANCHOR_BOTTOM, text, n);
}

struct ButtonTip {
    int32_t region;
    const char* text;
    int32_t flags;
};

const ButtonTip BUTTON_TIPS[] = {
    {1, "左键播放上一个 / 中键后退三十秒 / 右键后退五秒", 24},
    {2, "左键播放下一个 / 中键快进三十秒 / 右键快进五秒", 26},
    {4, "左键播放|暂停 / 中键查看文件 / 右键打开文件(按住Ctrl可添加到列表,Alt添加目录)", 6},
    {5, "左键关闭软件 / 右键停止播放", 2},
    {6, "左键最大化 / 右键全屏", 2},
    {7, "左键最小化 / 右键隐藏到任务栏", 2},
};

void draw_button_tooltip(PlayerContext* ctx, int32_t region)
{
    const int32_t W = ctx->display.client_width, H = ctx->display.client_height;
    for (const ButtonTip& tip : BUTTON_TIPS) {
        if (tip.region != region)
            continue;
        int32_t x = 0, y = 50;
        switch (region) {
        case 1: x = 0, y = H / 2; break;
        case 2: x = W, y = H / 2; break;
        case 4: x = W / 2; break;
        case 5: x = W; break;
        case 6: x = W - 25; break;
        case 7: x = W - 50; break;
        }
        draw_text_box(ctx, nullptr, x, y, 16, 12, tip.flags, tip.text, int32_t(strlen(tip.text)));
    }
}

void draw_caption_buttons(PlayerContext* ctx)
{
    const int32_t W = ctx->display.client_width;
    _PangoFontDescription* previous = osd_select_font(ctx, osd_font_of(ctx, FONT_GLYPH));
    CaptionButton button{ctx, OsdRect{W - 26, 1, W - 1, 26}, 0};
    draw_caption_button(&button, 5, 'r');
    button.rect = OsdRect{W - 50, 1, W - 25, 26};
    draw_caption_button(&button, 6, '2');
    button.rect = OsdRect{W - 74, 1, W - 49, 26};
    draw_caption_button(&button, 7, '0');
    osd_select_font(ctx, previous);
    osd_set_text_colour(ctx, OSD_GREEN);
}

} // namespace

void draw_hover_display(PlayerContext* ctx, int32_t progress_ms)
{
    const int32_t region = ctx->hover_region.load(std::memory_order_relaxed);
    const bool hidden = cursor_hidden(ctx) != 0;
    if (region == 3) {
        if (!hidden)
            draw_hover_tooltip(ctx);
        draw_time_labels(ctx, progress_ms);
        return;
    }
    if (region <= 0 || region > 7 || hidden)
        return;
    draw_button_tooltip(ctx, region);
    if (region >= 4)
        draw_caption_buttons(ctx);
}
