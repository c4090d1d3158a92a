// The libass side of subtitles: the renderer and its fonts, tracks with
// their styles, embedded streams and their attached fonts, events from
// decoded subtitles, the standard style, drawing and closing.
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <strings.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "subtitle/subtitle.h"

const char DEFAULT_SUB_STYLE[] =
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    "Style: Default,SimHei,16,&H00FFFFFF,&H0000FFFF,&H00000000,&H90000000,1,0,0,0,100,100,0,0,1,0.8,1.2,2,5,5,8,1\n";
static_assert(sizeof(DEFAULT_SUB_STYLE) - 1 == DEFAULT_SUB_STYLE_BYTES, "the default style block is 360 bytes");

// Every override bit except alignment (bit 7) and full style (bit 9).
constexpr int STANDARD_OVERRIDE_BITS = int(0xFFFFFD7Fu);
// Renderer caches: 10000 glyphs and 20 MiB of bitmaps. libass has one byte
// limit for its glyph and composite bitmaps together, so the 512 KiB of
// composites share the 20 MiB.
constexpr int CACHE_GLYPHS = 10000;
constexpr int CACHE_BITMAP_MIB = 20;
// An event whose end is unknown stays until the end of the item.
constexpr long long OPEN_END_DURATION_MS = 24LL * 3600 * 1000;

// ---- The library, the renderer and its frame size -------------------------

static ASS_Library* font_library_of(SubtitleState* state)
{
    if (!state->font_library) {
        state->font_library = ass_library_init();
        // Nothing is logged: what the user needs to know is shown as a notice.
        if (state->font_library)
            ass_set_message_cb(state->font_library, [](int, const char*, va_list, void*) {}, nullptr);
    }
    return state->font_library;
}

// Caller holds the lock.
static void set_frame_size(SubtitleState* state, int width, int height)
{
    if (!state->sub_renderer || (state->frame_width == width && state->frame_height == height))
        return;
    ass_set_frame_size(state->sub_renderer, width, height);
    state->frame_width = width;
    state->frame_height = height;
}

// The renderer is made outside the lock (font set-up takes a while) and
// swapped in under it, so the presentation thread never sees a half-made
// one; the old one is destroyed once nobody can reach it.
static void rebuild_renderer(SubtitleState* state)
{
    ASS_Library* library = font_library_of(state);
    ASS_Renderer* renderer = library ? ass_renderer_init(library) : nullptr;
    if (renderer) {
        ass_set_cache_limits(renderer, CACHE_GLYPHS, CACHE_BITMAP_MIB);
        ass_set_fonts(renderer, nullptr, "SimHei", ASS_FONTPROVIDER_AUTODETECT, font_config_file(), 1);
        ass_set_frame_size(renderer, 1, 1);
    }
    ASS_Renderer* old;
    {
        SpinGuard guard(&state->subtitle_lock);
        old = state->sub_renderer;
        state->sub_renderer = renderer;
        state->frame_width = 1;
        state->frame_height = 1;
    }
    if (old)
        ass_renderer_done(old);
}

void ensure_subtitle_renderer(SubtitleState* state)
{
    if (state->renderer_ready.exchange(1, std::memory_order_acq_rel) == 0 || !state->sub_renderer)
        rebuild_renderer(state);
}

ASS_Track* new_subtitle_track(SubtitleState* state, const AVCodecContext* codec)
{
    // A renderer that knows the current fonts.
    ensure_subtitle_renderer(state);
    // The track.
    ASS_Library* library = font_library_of(state);
    ASS_Track* track = library ? ass_new_track(library) : nullptr;
    if (!track)
        return nullptr;
    // Its styles: an ASS or SSA stream's own header, the default block
    // otherwise (FFmpeg's made-up headers for other codecs are not used).
    bool is_ass = codec && (codec->codec_id == AV_CODEC_ID_ASS || codec->codec_id == AV_CODEC_ID_SSA);
    if (is_ass && codec->subtitle_header && codec->subtitle_header_size > 0)
        ass_process_codec_private(track, reinterpret_cast<char*>(codec->subtitle_header),
                                  codec->subtitle_header_size);
    else
        ass_process_codec_private(track, const_cast<char*>(DEFAULT_SUB_STYLE), DEFAULT_SUB_STYLE_BYTES);
    return track;
}

void make_track_current(SubtitleState* state, ASS_Track* track)
{
    // Under the lock, so that the window thread's apply_sub_style never
    // reads the saved value while it is written.
    SpinGuard guard(&state->subtitle_lock);
    if (track)
        state->saved_scaled_border = track->ScaledBorderAndShadow;
    state->sub_track.store(track, std::memory_order_release);
}

// ---- Embedded streams and attached fonts ------------------------------------

bool is_font_attachment(const AVStream* stream)
{
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT)
        return false;
    const AVDictionaryEntry* name = av_dict_get(stream->metadata, "filename", nullptr, AV_DICT_MATCH_CASE);
    if (!name || !name->value)
        return false;
    static const char* const FONT_PATTERNS[] = {"*.ttf", "*.otf", "*.ttc"};
    for (const char* pattern : FONT_PATTERNS) {
        if (fnmatch(pattern, name->value, FNM_CASEFOLD) == 0)
            return true;
    }
    const AVDictionaryEntry* mime = av_dict_get(stream->metadata, "mimetype", nullptr, 0);
    if (!mime || !mime->value)
        return false;
    static const char* const FONT_TYPES[] = {"application/x-truetype-font", "application/vnd.ms-opentype",
                                             "application/x-font-ttf"};
    for (const char* type : FONT_TYPES) {
        if (strcasecmp(mime->value, type) == 0)
            return true;
    }
    return false;
}

int open_embedded_subtitles(SubtitleState* state, AVCodecContext* codec, AVFormatContext* format)
{
    close_subtitles(state);
    state->external_index.store(-1, std::memory_order_relaxed);
    // The canvas from the decoding context.
    int32_t width = !codec ? 0 : codec->width > 0 ? codec->width : codec->coded_width;
    int32_t height = !codec ? 0 : codec->height > 0 ? codec->height : codec->coded_height;
    // Attached fonts, and the first video stream's size where the
    // subtitle stream gives none.
    for (unsigned i = 0; format && i < format->nb_streams; i++) {
        const AVStream* stream = format->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        if (is_font_attachment(stream) && par->extradata && par->extradata_size > 0) {
            ASS_Library* library = font_library_of(state);
            if (library) {
                SpinGuard guard(&state->subtitle_lock);
                const AVDictionaryEntry* name = av_dict_get(stream->metadata, "filename", nullptr, AV_DICT_MATCH_CASE);
                ass_add_font(library, name->value, reinterpret_cast<char*>(par->extradata), par->extradata_size);
                state->attached_font_count++;
                state->renderer_ready.store(0, std::memory_order_release);
            }
        } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (width <= 0)
                width = par->width;
            if (height <= 0)
                height = par->height;
        }
    }
    state->canvas_width.store(width, std::memory_order_relaxed);
    state->canvas_height.store(height, std::memory_order_relaxed);
    // The track becomes current.
    make_track_current(state, codec ? new_subtitle_track(state, codec) : nullptr);
    apply_sub_style(state);
    return 1;
}

// ---- Events ------------------------------------------------------------------

// The decimal number at the start of a read-order text, as strtol reads it
// (white space, a sign, digits), limited to size bytes; 0 without one.
static int read_order_number(const char* text, int size)
{
    if (!text || size <= 0)
        return 0;
    int i = 0;
    while (i < size && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        i++;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9'; i++) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX)
            value = INT32_MAX; // saturates like strtol into an int
    }
    return int(negative ? -value : value);
}

void add_subtitle_events(SubtitleState* state, ASS_Track* track, AVSubtitle* sub, const char* read_order_text,
                         int read_order_size)
{
    if (!track) {
        avsubtitle_free(sub);
        return;
    }
    int first_new = track->n_events;
    // Each text rectangle is one event with the subtitle's timing.
    long long start = sub->pts == AV_NOPTS_VALUE ? 0 : sub->pts / 1000;
    start += sub->start_display_time;
    long long duration = OPEN_END_DURATION_MS;
    if (sub->end_display_time != UINT32_MAX && sub->end_display_time > sub->start_display_time)
        duration = (long long)sub->end_display_time - sub->start_display_time;
    for (unsigned r = 0; r < sub->num_rects; r++) {
        const AVSubtitleRect* rect = sub->rects[r];
        if (!rect || !rect->ass)
            continue;
        size_t length = strlen(rect->ass);
        if (length > size_t(INT32_MAX))
            continue;
        ass_process_chunk(track, rect->ass, int(length), start, duration);
    }
    int read_order = read_order_number(read_order_text, read_order_size);
    bool strip = state->standard_style_on.load(std::memory_order_relaxed) != 0;
    for (int i = first_new; i < track->n_events; i++) {
        track->events[i].ReadOrder = read_order;
        if (strip)
            strip_style_tags(track, &track->events[i]);
    }
    avsubtitle_free(sub);
}

// ---- The standard style --------------------------------------------------------

static void install_standard_override(ASS_Renderer* renderer)
{
    ASS_Style style = {};
    style.Name = const_cast<char*>("");
    style.FontName = const_cast<char*>("SimHei"); // libass keeps its own copy
    style.FontSize = 16.0;
    style.PrimaryColour = 0xFFFFFF00;
    style.SecondaryColour = 0xFFFF0000;
    style.OutlineColour = 0x00000000;
    style.BackColour = 0x00000090;
    style.Bold = 1;
    style.ScaleX = 1.0;
    style.ScaleY = 1.0;
    style.BorderStyle = 1;
    style.Outline = 0.8;
    style.Shadow = 1.2;
    style.Alignment = SUB_ALIGN_BOTTOM_CENTRE;
    style.MarginL = 5;
    style.MarginR = 5;
    style.MarginV = 8;
    ass_set_selective_style_override(renderer, &style);
}

void apply_sub_style(SubtitleState* state)
{
    SpinGuard guard(&state->subtitle_lock);
    ASS_Track* track = state->sub_track.load(std::memory_order_acquire);
    if (!track)
        return;
    ASS_Renderer* renderer = state->sub_renderer;
    if (state->standard_style_on.load(std::memory_order_relaxed)) {
        track->ScaledBorderAndShadow = 1;
        if (renderer) {
            install_standard_override(renderer);
            ass_set_selective_style_override_enabled(renderer, STANDARD_OVERRIDE_BITS);
        }
        for (int i = 0; i < track->n_events; i++)
            strip_style_tags(track, &track->events[i]);
    } else {
        track->ScaledBorderAndShadow = state->saved_scaled_border;
        if (renderer)
            ass_set_selective_style_override_enabled(renderer, 0);
    }
}

void set_standard_sub_style(SubtitleState* state, int32_t on)
{
    state->standard_style_on.store(on ? 1 : 0, std::memory_order_relaxed);
    apply_sub_style(state);
}

// ---- Drawing, seeking, closing ---------------------------------------------------

ASS_Image* subtitles_render(SubtitleState* state, int64_t time_ms, int width, int height, int* changed)
{
    if (changed)
        *changed = 0;
    ASS_Track* track = state->sub_track.load(std::memory_order_acquire);
    if (!track || !state->sub_renderer || width <= 0 || height <= 0)
        return nullptr;
    set_frame_size(state, width, height);
    return ass_render_frame(state->sub_renderer, track, time_ms, changed);
}

void reset_subtitles_for_seek(SubtitleState* state)
{
    SpinGuard guard(&state->subtitle_lock);
    ASS_Track* track = state->sub_track.load(std::memory_order_acquire);
    if (track && state->external_index.load(std::memory_order_relaxed) < 0)
        ass_flush_events(track);
    set_frame_size(state, 1, 1);
    free_bitmap_subtitles(state);
}

void close_subtitles(SubtitleState* state)
{
    SpinGuard guard(&state->subtitle_lock);
    // The track, then the fonts attached to its file (even when no track
    // was made for them).
    ASS_Track* track = state->sub_track.exchange(nullptr, std::memory_order_acq_rel);
    if (track) {
        ass_free_track(track);
        set_frame_size(state, 1, 1);
    }
    // No file is in use any more: a stale choice would keep the embedded
    // events of the next source from being flushed after a seek.
    state->external_index.store(-1, std::memory_order_relaxed);
    if (state->attached_font_count > 0) {
        // A renderer that has drawn with fonts of its library must not draw
        // again once they are cleared (libass aborts): it goes first, and
        // the next track makes a new one.
        if (state->sub_renderer) {
            ass_renderer_done(state->sub_renderer);
            state->sub_renderer = nullptr;
        }
        ass_clear_fonts(state->font_library);
        state->attached_font_count = 0;
        state->renderer_ready.store(0, std::memory_order_release);
    }
    free_bitmap_subtitles(state);
}

void release_subtitles(SubtitleState* state)
{
    close_subtitles(state);
    if (state->sub_renderer)
        ass_renderer_done(state->sub_renderer);
    state->sub_renderer = nullptr;
    if (state->font_library)
        ass_library_done(state->font_library);
    state->font_library = nullptr;
    state->renderer_ready.store(0, std::memory_order_relaxed);
}
