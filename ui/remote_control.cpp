// The window's side of the desktop media-player interface: the state it
// reports, and each of its calls as the named action a key or a click would
// run, notices included. Window thread only.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/services_internal.h"

// The name part of the item label "%d/%d.%s".
static void item_title(PlayerContext* ctx, char* out, size_t out_size)
{
    char label[270 * 3 + 1];
    item_label_copy(ctx, label, sizeof label);
    const char* p = label;
    while (*p >= '0' && *p <= '9')
        p++;
    if (*p == '/') {
        p++;
        while (*p >= '0' && *p <= '9')
            p++;
        if (*p == '.')
            p++;
        else
            p = label;
    } else {
        p = label;
    }
    utf8_copy_units(out, out_size, p, strlen(p), DISPLAY_NAME_UNITS - 1);
}

void remote_read_state(MainWindow* w, MprisState* s)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    *s = MprisState{};
    bool open = ctx->format.load(std::memory_order_acquire) != nullptr;
    bool playing = ctx->playing.load(std::memory_order_relaxed) != 0;
    s->status = !open ? MPRIS_STOPPED : playing ? MPRIS_PLAYING : MPRIS_PAUSED;
    int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    s->position_us = open ? int64_t(position_ms(ctx)) * 1000 : 0;
    s->length_us = open ? int64_t(duration) * 1000 : 0;
    s->volume = int32_t(ctx->audio.volume.load(std::memory_order_relaxed));
    s->track = open ? uint32_t(ctx->items_opened.load(std::memory_order_relaxed)) : 0;
    s->seeking = ctx->seek_target_ms.load(std::memory_order_relaxed) >= 0;
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    s->can_play = count > 0;
    s->can_pause = count > 0;
    s->can_seek = open && duration > 100;
    s->can_go_next = count >= 2;
    s->can_go_previous = count >= 2;
    if (!open)
        return;
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    const PlaylistEntry* entry = current < count ? &ctx->playlist.items[current] : nullptr;
    remote_read_tags(ctx, entry, s);
    // Without a title of its own or in its tags, the item is called by its file name.
    if (!s->title[0])
        item_title(ctx, s->title, sizeof s->title);
    if (entry)
        snprintf(s->path, sizeof s->path, "%s", entry->path);
}

// Play/pause as Space or Ctrl+Alt+P run it.
static void play_pause(MainWindow* w, PlayerContext* ctx)
{
    command_play_pause(ctx, -1);
    w->idle_ticks.store(0, std::memory_order_relaxed);
    window_show_pointer(w);
    request_redraw(ctx);
}

static int seek_by(PlayerContext* ctx, int64_t offset_us)
{
    int32_t duration = ctx->duration_ms.load(std::memory_order_relaxed);
    int64_t target = int64_t(position_ms(ctx)) + offset_us / 1000;
    // Past the end is the next item; before the start is the start.
    if (target >= duration)
        return playlist_next(ctx) ? 0 : -1;
    if (target < 0)
        target = 0;
    stats_seek_asked(ctx);
    request_seek(ctx, int32_t(target), SEEK_KEEP_FORWARD);
    request_redraw(ctx);
    return 0;
}

// A file (or a folder of media) joins the list and plays; a file already in
// it plays from its entry. A folder is listed on a thread of its own, so the
// call is answered at once and its first entry plays when it is in. What is
// not a file or a folder is refused, with its notice.
static int open_path(MainWindow* w, PlayerContext* ctx, const char* path)
{
    IntakeRequest request;
    request.append_mode = 1;
    request.after = INTAKE_THEN_PLAY;
    if (!path || intake_admit(&request, path) < 0) {
        playlist_refusals_notice(ctx, &request.refused);
        return -1;
    }
    intake_submit(w, std::move(request));
    return 0;
}

int remote_act(MainWindow* w, int action, int64_t value, const char* path)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    bool open = ctx->format.load(std::memory_order_acquire) != nullptr;
    bool playing = ctx->playing.load(std::memory_order_relaxed) != 0;
    switch (action) {
    case MPRIS_RAISE:
        if (!ctx->window_visible.load(std::memory_order_relaxed))
            restore_from_tray(w);
        desktop_show(w);
        desktop_raise(w, settings.always_on_top.load(std::memory_order_relaxed));
        return 0;
    case MPRIS_QUIT:
        // After the answer has gone out.
        window_post(MSG_CLOSE, 0, 0);
        return 0;
    case MPRIS_PLAY:
        // Paused resumes, stopped starts the current entry; playing stays.
        if (!(open && playing))
            play_pause(w, ctx);
        return 0;
    case MPRIS_PAUSE:
        if (open && playing)
            play_pause(w, ctx);
        return 0;
    case MPRIS_PLAY_PAUSE:
        play_pause(w, ctx);
        return 0;
    case MPRIS_STOP:
        command_stop(ctx);
        return 0;
    case MPRIS_NEXT:
        return playlist_next(ctx) ? 0 : -1;
    case MPRIS_PREVIOUS:
        return playlist_previous(ctx) ? 0 : -1;
    case MPRIS_SEEK_BY:
        return open ? seek_by(ctx, value) : -1;
    case MPRIS_SET_POSITION:
        if (!open || value < 0 || value / 1000 >= ctx->duration_ms.load(std::memory_order_relaxed))
            return -1;
        command_seek_to(ctx, int32_t(value / 1000));
        return 0;
    case MPRIS_SET_VOLUME:
        command_set_volume(ctx, int32_t(value < 0 ? 0 : value > 300 ? 300 : value));
        request_redraw(ctx);
        return 0;
    case MPRIS_OPEN:
        return open_path(w, ctx, path);
    default:
        return -1;
    }
}
