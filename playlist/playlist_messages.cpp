#include <glib.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "playlist/playlist.h"

namespace {

const PlaylistEntry* entry_at(PlayerContext* ctx, intptr_t index)
{
    if (index < 0 || uint64_t(index) >= ctx->item_count.load(std::memory_order_relaxed))
        return nullptr;
    return &ctx->playlist.items[index];
}

// A deferred seek waits for the decoder at most this long, so a decoder
// that stalls cannot freeze the window for good.
constexpr int DEFERRED_SEEK_MAX_WAIT_MS = 10000;

// Copies one parameter value, turning backslash-r into CR, backslash-n into
// LF and dropping the backslash before any other character.
void unescape_value(const char* value, std::string* out)
{
    out->clear();
    for (const char* p = value; *p; p++) {
        if (*p != '\\') {
            *out += *p;
            continue;
        }
        p++;
        if (*p == 0)
            break;
        *out += *p == 'r' ? '\r' : *p == 'n' ? '\n' : *p;
    }
}

} // namespace

void playlist_item_ended(PlayerContext* ctx)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    bool quit = ctx->quit_at_end.load(std::memory_order_relaxed) == 1;
    if (count >= 2) {
        uint32_t next = ctx->current_item.load(std::memory_order_relaxed) + 1;
        if (next >= count) {
            if (quit) {
                window_post(MSG_CLOSE, 0, 0);
                return;
            }
            next = 0;
        }
        playlist_open_request(ctx, int32_t(next), 1, -1);
        return;
    }
    if (quit) {
        window_post(MSG_CLOSE, 0, 0);
        return;
    }
    request_seek(ctx, 0, SEEK_KEEP_FORWARD);
    ctx->playing.store(1, std::memory_order_relaxed);
}

int playlist_fill_path(PlayerContext* ctx, intptr_t index)
{
    const PlaylistEntry* entry = entry_at(ctx, index);
    if (!entry)
        return 0;
    // The display name is shown, so it must be UTF-8 even when the path is
    // not: such names are read in the legacy encoding. It is filled for an
    // entry that cannot be opened too: the notice that says so names it.
    const char* name = playlist_display_name(entry);
    size_t name_length = strlen(name);
    char converted[sizeof ctx->media_path * 2];
    gchar* repaired = nullptr;
    if (!utf8_is_valid(name, name_length)) {
        long n = legacy_to_utf8(name, name_length, converted, sizeof converted);
        if (n >= 0) {
            name = converted;
            name_length = size_t(n);
        } else {
            repaired = g_utf8_make_valid(name, gssize(name_length)); // undecodable bytes become U+FFFD
            name = repaired;
            name_length = strlen(repaired);
        }
    }
    utf8_copy_units(ctx->display_name, sizeof ctx->display_name, name, name_length, DISPLAY_NAME_UNITS - 1);
    g_free(repaired);
    // A path cut short would name another file: such an entry is invalid.
    if (!playlist_path_fits(entry->path))
        return 0;
    memcpy(ctx->media_path, entry->path, strlen(entry->path) + 1);
    return 1;
}

intptr_t playlist_build_options(PlayerContext* ctx, intptr_t index)
{
    av_dict_free(&ctx->open_options);
    const PlaylistEntry* entry = entry_at(ctx, index);
    if (!entry || !entry->params)
        return 0;
    AVDictionary* options = nullptr;
    std::string piece, value;
    for (const char* p = entry->params;;) {
        const char* end = strchr(p, '\x01');
        piece.assign(p, end ? size_t(end - p) : strlen(p));
        size_t equals = piece.find('=');
        if (equals != std::string::npos) {
            unescape_value(piece.c_str() + equals + 1, &value);
            piece.resize(equals);
            av_dict_set(&options, piece.c_str(), value.c_str(), 0);
        }
        if (!end)
            break;
        p = end + 1;
    }
    if (av_dict_count(options) == 0) {
        av_dict_free(&options);
        return 0;
    }
    ctx->open_options = options;
    return reinterpret_cast<intptr_t>(&ctx->open_options);
}

namespace {

struct DeferredSeek {
    PlayerContext* ctx;
    int32_t target_ms;
    uint32_t serial;
    AVFormatContext* item;
};

// The seek is still wanted: no newer deferred seek, the same item open, and
// no seek asked for meanwhile (the user's, asked later, wins).
bool still_wanted(const DeferredSeek* d)
{
    PlayerContext* ctx = d->ctx;
    return ctx->deferred_seek_serial.load(std::memory_order_acquire) == d->serial &&
           ctx->format.load(std::memory_order_acquire) == d->item &&
           ctx->seek_target_ms.load(std::memory_order_relaxed) < 0;
}

void* wait_then_seek(void* arg)
{
    auto* d = static_cast<DeferredSeek*>(arg);
    PlayerContext* ctx = d->ctx;
    for (int waited = 0; waited < DEFERRED_SEEK_MAX_WAIT_MS && still_wanted(d) &&
                         ctx->video_frames_out.load(std::memory_order_relaxed) < 128;
         waited++) {
        ctx->clock_ms.store(OPEN_INDEX_STOP, std::memory_order_relaxed);
        delay_100ns(SLEEP_1MS);
        if (ctx->end_of_file.load(std::memory_order_acquire) &&
            ctx->packets_in_flight.load(std::memory_order_acquire) == 0)
            break;
    }
    if (still_wanted(d))
        request_seek(ctx, d->target_ms, SEEK_KEEP_FORWARD);
    delete d;
    ctx->deferred_seek_waiters.fetch_sub(1, std::memory_order_release); // the last touch of the context
    return nullptr;
}

} // namespace

void playlist_deferred_seek(PlayerContext* ctx, int32_t target_ms)
{
    // The wait for the decoder runs on a thread of its own: the window
    // thread, which asked for nothing, goes on with its messages.
    auto* d = new DeferredSeek{ctx, target_ms, ctx->deferred_seek_serial.fetch_add(1, std::memory_order_acq_rel) + 1,
                               ctx->format.load(std::memory_order_acquire)};
    ctx->clock_ms.store(OPEN_INDEX_STOP, std::memory_order_relaxed);
    pthread_t thread;
    ctx->deferred_seek_waiters.fetch_add(1, std::memory_order_relaxed);
    if (pthread_create(&thread, nullptr, wait_then_seek, d) == 0) {
        pthread_detach(thread);
        return;
    }
    // No thread to wait on: the seek is carried out at once.
    ctx->deferred_seek_waiters.fetch_sub(1, std::memory_order_relaxed);
    delete d;
    request_seek(ctx, target_ms, SEEK_KEEP_FORWARD);
}

intptr_t playlist_handle_message(PlayerContext* ctx, uint32_t sub_code, intptr_t param)
{
    switch (sub_code) {
    case PLAYLIST_ITEM_ENDED:
        playlist_item_ended(ctx);
        return 0;
    case PLAYLIST_GET_PATH:
        return playlist_fill_path(ctx, param);
    case PLAYLIST_GET_OPTIONS:
        return playlist_build_options(ctx, param);
    case PLAYLIST_DEFERRED_SEEK:
        playlist_deferred_seek(ctx, int32_t(param));
        return 0;
    default:
        return 0;
    }
}
