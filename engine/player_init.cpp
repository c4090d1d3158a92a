#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>

extern "C" {
#include <ass/ass.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "queue/queue.h"
#include "render/render.h"
#include "stats/stats.h"
#include "subtitle/subtitle.h"

// The OSD track's style block: three lines, 353 bytes.
static const char OSD_TRACK_HEADER[] =
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    "Style: T,Verdana,13,&HA000FF00,&HA000FF00,&H00000000,&H00000000,1,0,0,0,100,100,0,0,1,0.6,0,9,2,2,0,1\n";
static_assert(sizeof(OSD_TRACK_HEADER) - 1 == 353, "the OSD style block is 353 bytes");

constexpr size_t OSD_EVENT_TEXT_BYTES = 256;

PlayerContext* player_context_new()
{
    // The context lives behind the window header in one block. Value
    // initialisation zeroes every field, atomics included.
    AppBlock* block = new (std::nothrow) AppBlock();
    return block ? &block->player : nullptr;
}

void player_context_free(PlayerContext* ctx)
{
    if (!ctx)
        return;
    audio_release(&ctx->audio);
    display_free(&ctx->display);
    for (StreamSlot& slot : ctx->slots) {
        for (FrameEntry& e : slot.frames) {
            av_frame_free(&e.frame);
            av_free(e.audio_data);
        }
    }
    if (ctx->osd_track)
        ass_free_track(ctx->osd_track); // frees the event text too
    if (ctx->osd_renderer)
        ass_renderer_done(ctx->osd_renderer);
    release_subtitles(&ctx->subtitles); // the subtitle track, renderer, bitmap queue and font library
    if (ctx->subtitles.ass_library)
        ass_library_done(ctx->subtitles.ass_library);
    free(ctx->chapters);
    delete ctx->menu_source;
    free(ctx->subtitles.external_files);
    delete ctx->item_tags;
    stats_disable(ctx);
    delete reinterpret_cast<AppBlock*>(main_window_of(ctx));
}

static void setup_osd_libass(PlayerContext* ctx)
{
    ASS_Library* library = ctx->subtitles.ass_library;
    if (!library)
        return; // the OSD calls then fail inside libass, as they would on a machine without it
    ctx->osd_renderer = ass_renderer_init(library);
    if (ctx->osd_renderer) {
        // 50 glyphs and 20 MiB of bitmaps; libass has one limit for both of its
        // bitmap caches, so the small composite cache shares the 20 MiB.
        ass_set_cache_limits(ctx->osd_renderer, 50, 20);
    }
    ctx->osd_track = ass_new_track(library);
    if (!ctx->osd_track)
        return;
    ass_process_codec_private(ctx->osd_track, const_cast<char*>(OSD_TRACK_HEADER), sizeof(OSD_TRACK_HEADER) - 1);
    int id = ass_alloc_event(ctx->osd_track);
    if (id < 0)
        return;
    ASS_Event* event = &ctx->osd_track->events[id];
    event->Style = ctx->osd_track->n_styles - 1;
    event->Start = 0;
    event->Duration = 1;
    // libass frees the text with the track, so it comes from the C heap.
    ctx->osd_event_text = static_cast<char*>(calloc(1, OSD_EVENT_TEXT_BYTES));
    event->Text = ctx->osd_event_text;
}

void player_setup(PlayerContext* ctx)
{
    ctx->tick_ms = 2000;
    ctx->playlist.items = nullptr;
    ctx->playlist.item_capacity = 0;
    ctx->item_count.store(0, std::memory_order_relaxed);
    audio_set_volume(&ctx->audio, 110);
    ctx->subtitles.external_count.store(0, std::memory_order_relaxed);
    ctx->subtitles.bitmap_subs_head = ctx->subtitles.bitmap_subs_tail = nullptr;
    ctx->subtitles.ass_library = ass_library_init();
    // Nothing is logged: what the user needs to know is shown as a notice.
    if (ctx->subtitles.ass_library)
        ass_set_message_cb(ctx->subtitles.ass_library, [](int, const char*, va_list, void*) {}, nullptr);
    // The frame buffer's header belongs to the frame buffer itself.
    ctx->chapter_count.store(0, std::memory_order_relaxed);
    ctx->duration_ms.store(1, std::memory_order_relaxed);
    ctx->osd_font = "monospace";
    ctx->glyph_font = "Sans 20px";
    setup_osd_libass(ctx);
    for (StreamSlot& slot : ctx->slots) {
        slot.packets_head.store(nullptr, std::memory_order_relaxed);
        slot.packets_tail = nullptr;
        slot.frames_write.store(0, std::memory_order_relaxed);
        slot.frames_read.store(0, std::memory_order_relaxed);
        slot.stream_index.store(-1, std::memory_order_relaxed);
        slot.codec = nullptr;
        frame_ring_init(&slot);
    }
    ctx->ring.ring_write.store(0, std::memory_order_relaxed);
    ctx->ring.ring_read.store(0, std::memory_order_relaxed);
    // FFmpeg 5 registers its formats and codecs by itself.
    av_log_set_level(AV_LOG_QUIET);
    ctx->subtitle_choice.store(-1, std::memory_order_relaxed);
    ctx->audio_choice.store(-1, std::memory_order_relaxed);
    ctx->video_choice.store(-1, std::memory_order_relaxed);
    ctx->open_index.store(-1, std::memory_order_relaxed);

    seek_clear(ctx);
    ctx->track_switch_request.store(-1, std::memory_order_relaxed);
    ctx->subtitles.external_index.store(-1, std::memory_order_relaxed);
    ctx->window_visible.store(1, std::memory_order_relaxed);
}

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    PlayerContext* ctx;
};

void* run_thread(void* opaque)
{
    ThreadStart start = *static_cast<ThreadStart*>(opaque);
    free(opaque);
    start.routine(start.ctx);
    return nullptr;
}

} // namespace

bool start_thread(PlayerContext* ctx, ThreadRoutine routine)
{
    auto* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    if (!start)
        return false;
    *start = ThreadStart{routine, ctx};
    // Never joined: the engine threads live as long as the process.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, run_thread, start);
    pthread_attr_destroy(&attributes);
    if (failed)
        free(start);
    return failed == 0;
}

PlayerContext* player_init(PlayerContext* ctx)
{
    player_setup(ctx);
    // Publishes everything above to the threads.
    std::atomic_thread_fence(std::memory_order_release);
    if (!start_thread(ctx, media_thread) || !start_thread(ctx, decoder_thread) ||
        !start_thread(ctx, presentation_thread))
        return nullptr;
    return ctx;
}
