// The bytes of an external subtitle file, from encoding detection through
// FFmpeg's parsing to libass events and the standard style's stripping.
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

#include "subtitle/subtitle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One state for the whole run, as in the player: the renderer and its
    // fonts are made once.
    static SubtitleState* state = [] {
        av_log_set_level(AV_LOG_QUIET);
        // Released before the leak check at exit, which runs last.
        atexit([] { release_subtitles(state); });
        return new SubtitleState();
    }();
    if (size < size_t(EXTERNAL_FILE_MIN_BYTES) || size > 1 << 20)
        return 0;
    auto* bytes = static_cast<uint8_t*>(malloc(size));
    auto* text = static_cast<char*>(malloc(size * 3 + 32));
    memcpy(bytes, data, size);
    int64_t offset = 0;
    int64_t length = subtitle_text_to_utf8(bytes, int64_t(size), text, &offset);
    if (ASS_Track* track = parse_subtitle_memory(state, text + offset, int32_t(length))) {
        for (int i = 0; i < track->n_events; i++)
            strip_style_tags(track, &track->events[i]);
        ass_free_track(track);
    }
    free(text);
    free(bytes);
    return 0;
}
