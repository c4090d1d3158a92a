// The subtitle decoding path: text subtitles become events of the current
// libass track, bitmap subtitles join the bitmap queue. A subtitle packet is
// decoded exactly once.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"
#include "queue/queue.h"
#include "subtitle/subtitle.h"

DecodeOutcome decode_subtitle(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node)
{
    AVSubtitle sub;
    int got = 0;
    if (avcodec_decode_subtitle2(slot->codec, &sub, &got, node->packet) < 0 || !got)
        return DECODE_NEXT_PACKET;
    // An ASS stream's packet begins with the event's read order.
    const AVPacket* packet = node->packet;
    bool ass = slot->codec->codec_id == AV_CODEC_ID_ASS || slot->codec->codec_id == AV_CODEC_ID_SSA;
    const char* read_order = ass && packet->data ? reinterpret_cast<const char*>(packet->data) : nullptr;
    SubtitleState* subs = &ctx->subtitles;
    SpinGuard guard(&subs->subtitle_lock);
    if (sub.num_rects > 0 && sub.rects[0]->type != SUBTITLE_BITMAP) {
        ASS_Track* track = subs->sub_track.load(std::memory_order_relaxed);
        if (track)
            add_subtitle_events(subs, track, &sub, read_order, read_order ? packet->size : 0);
        else
            avsubtitle_free(&sub);
    } else {
        // Bitmap subtitles carry absolute media times (no start offset).
        queue_bitmap_subtitle(subs, &sub, sub.pts == AV_NOPTS_VALUE ? 0 : sub.pts / 1000);
    }
    return DECODE_NEXT_PACKET;
}
