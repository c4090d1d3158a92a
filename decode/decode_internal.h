// The decoder thread's three decoding paths and what they share. Internal to
// decode/: the rest of the program sees decode/decode.h.
#pragma once
#include <cstdint>

#include "decode/decode.h"

struct PlayerContext;
struct StreamSlot;
struct PacketNode;
struct AVFrame;
struct AVStream;

// What the slot step does after one decoding step.
enum DecodeOutcome {
    DECODE_AGAIN,       // decode the same packet again (more output may come)
    DECODE_NEXT_PACKET, // release the packet and take the next one
    DECODE_KEEP_PACKET, // the frame ring is full: leave the slot, continue here next pass
};

// The decoder's memory of the packet each slot is working through: whether
// it has been handed to the decoder yet, and the time the next audio frame
// from it carries.
struct PacketProgress {
    int32_t sent;
    int32_t frames_out; // frames received since the packet was sent
    int64_t last_ts;    // timestamp of the last frame received from it
    int64_t next_ts;    // predicted timestamp of the next frame
};

struct DecoderState {
    PacketProgress progress[3];
    int32_t chunk_time_ms; // time of the first frame gathered into the audio chunk
    int64_t last_video_ts; // for frames that carry no timestamp
    int64_t video_ts_step;
    const void* video_codec_seen; // the decoding context the two above belong to
    int32_t video_catching_up;    // 1 from a dropped packet until the next published picture
};

DecodeOutcome decode_video(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node);
DecodeOutcome decode_audio(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node);
DecodeOutcome decode_subtitle(PlayerContext* ctx, DecoderState* state, StreamSlot* slot, PacketNode* node);

// Hands the packet (for an end marker: the drain request) to the decoder
// once. False when the decoder refused it for good; a decoder that first
// wants its output taken gets the packet on a later call.
bool send_packet_once(PlayerContext* ctx, StreamSlot* slot, PacketProgress* progress, PacketNode* node);
// A decoder that ran out of memory is counted in memory_short.
void note_decode_result(PlayerContext* ctx, int ret);
// Publishes the entry at frames_write: RGBA pictures become premultiplied
// BGRA first. Returns whether the ring still has room for another frame.
bool publish_frame(StreamSlot* slot);
