// C and command 1016: the text of the subtitles showing now goes to the
// clipboard.
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "render/render.h"
#include "ui/input_internal.h"

namespace {

// The clipboard block holds 1 MiB of UTF-16: 0x80000 units with the terminator.
constexpr size_t CLIPBOARD_UNITS = 0x80000 - 1;

bool append(char* out, size_t out_size, size_t* length, size_t* units, const char* text, size_t limit_units)
{
    size_t text_length = strlen(text);
    size_t copied = utf8_copy_units(out + *length, out_size - *length, text, text_length, limit_units - *units);
    *units += utf16_units(out + *length, copied);
    *length += copied;
    return copied == text_length;
}

} // namespace

size_t subtitle_text_at(const ASS_Track* track, int32_t clock_ms, char* out, size_t out_size, size_t limit_units)
{
    if (!out_size)
        return 0;
    out[0] = 0;
    if (!track)
        return 0;
    size_t length = 0, units = 0;
    for (int i = 0; i < track->n_events; i++) {
        const ASS_Event* e = &track->events[i];
        if (!e->Text || !e->Text[0] || e->Start > clock_ms || clock_ms > e->Start + e->Duration)
            continue;
        if (length && !append(out, out_size, &length, &units, "\r\n", limit_units))
            break;
        if (!append(out, out_size, &length, &units, e->Text, limit_units))
            break;
    }
    out[length] = 0;
    return length;
}

int copy_subtitle_text(PlayerContext* ctx)
{
    // At most 3 bytes of UTF-8 for each unit of the block.
    size_t size = CLIPBOARD_UNITS * 3 + 1;
    char* text = static_cast<char*>(malloc(size));
    size_t length = 0;
    if (text) {
        SpinGuard guard(&ctx->subtitles.subtitle_lock);
        const ASS_Track* track = ctx->subtitles.sub_track.load(std::memory_order_acquire);
        length = subtitle_text_at(track, ctx->clock_ms.load(std::memory_order_relaxed), text, size, CLIPBOARD_UNITS);
    }
    // The clipboard is given the text after the lock is let go: the
    // renderer never waits on the desktop.
    int copied = length && set_clipboard_data(ctx, CLIPBOARD_TEXT, text) ? 1 : 0;
    free(text);
    show_notice(ctx, copied ? " 当前字幕已复制到剪贴板! " : " 没有字幕! ");
    return copied;
}
