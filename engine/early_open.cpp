// Opening the first item while the window is being made: the program hands
// over the path of the first file on its command line before it sets up the
// window, and the media thread, idle until the window asks for an item,
// opens and probes that file meanwhile. The request that follows takes the
// opened container when it names the same file without open options;
// anything else closes it, so the result is the same as without it.
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"

enum EarlyState { EARLY_NONE = 0, EARLY_ASKED = 1, EARLY_DONE = 2 };

void open_early(PlayerContext* ctx, const char* path)
{
    if (!path || strlen(path) >= sizeof ctx->early_path ||
        ctx->early_state.load(std::memory_order_relaxed) != EARLY_NONE)
        return;
    memcpy(ctx->early_path, path, strlen(path) + 1);
    ctx->early_state.store(EARLY_ASKED, std::memory_order_release);
}

void early_open_step(PlayerContext* ctx)
{
    if (ctx->early_state.load(std::memory_order_acquire) != EARLY_ASKED)
        return;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, ctx->early_path, nullptr, nullptr) >= 0 &&
        avformat_find_stream_info(format, nullptr) < 0)
        avformat_close_input(&format);
    ctx->early_format = format;
    ctx->early_state.store(EARLY_DONE, std::memory_order_relaxed);
}

AVFormatContext* take_early_open(PlayerContext* ctx, const char* path, const AVDictionary* options)
{
    if (ctx->early_state.load(std::memory_order_acquire) == EARLY_NONE)
        return nullptr;
    // Asked for but not yet begun: this request comes first.
    ctx->early_state.store(EARLY_NONE, std::memory_order_relaxed);
    AVFormatContext* format = ctx->early_format;
    ctx->early_format = nullptr;
    if (format && strcmp(path, ctx->early_path) == 0 && av_dict_count(options) == 0)
        return format;
    avformat_close_input(&format);
    return nullptr;
}
