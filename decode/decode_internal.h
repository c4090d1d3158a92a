// The decoder thread's three decoding paths and what they share. Internal to
// decode/: the rest of the program sees decode/decode.h.
#pragma once
#include <atomic>
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
    int32_t send_error; // the decoder's answer when it refused the packet
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

// ---- hardware decoding (hw_device.cpp, hw_surfaces.cpp) ----

struct AVBufferRef;
struct AVCodecContext;
struct AVCodec;
struct AVCodecParameters;

constexpr int32_t HW_MAX_SURFACES = 28;

// One surface of a pool: owner is the pool while a frame uses the surface,
// null while it is free. Frames are released on the presentation, media
// and decoder threads, so owner is atomic.
struct HwSurfaceSlot {
    std::atomic<HwDecodeState*> owner;
    uint64_t age;     // next_age when it was last handed out (decoder thread)
    AVFrame* surface; // the device frame this slot hands out
};

// The pool of surfaces of one negotiation: made by hw_get_format, kept by
// the decoder (one reference) and by every frame that holds one of its
// surfaces (one each); the last reference releases the surfaces.
struct HwDecodeState {
    std::atomic<int32_t> refs;
    int32_t surface_count;
    HwSurfaceSlot slots[HW_MAX_SURFACES];
    uint64_t next_age;
    AVBufferRef* frames;     // the device's frame pool the surfaces come from; null in tests
    int32_t hw_format;       // the device's pixel format
    int32_t sw_format;       // the format of the surfaces' pixels (NV12 or P010)
    int32_t width, height;   // surface size (aligned)
    int32_t exhausted_shown; // the pool-exhausted message was shown once
};

// Kept in the decoding context's opaque pointer from the open on: the
// player the decoder belongs to and the pool it hands surfaces out from.
struct HwDecoder {
    PlayerContext* ctx;
    HwDecodeState* state; // null until a negotiation made one
    int32_t hw_format;    // the pixel format of the device's frames
    // Set on the decoder thread when decoding on the device failed for good;
    // the demux loop then reopens the stream in software.
    std::atomic<int32_t> fallback;
    int32_t failure_reported; // the one line on stderr was written
};

// The eligibility rule, in its order: hardware decoding usable, a video
// stream, the option on, a positive size, H.264 at most High (the
// constrained flag ignored), HEVC Main or Main 10, and a hardware
// configuration for the codec.
struct HwCandidate {
    int32_t usable;
    int32_t media_type;
    int32_t option_on;
    int32_t width, height;
    int32_t codec_id;
    int32_t profile;
    int32_t has_config;
};
bool hw_rule_allows(const HwCandidate& c);

// Surfaces for a stream with this many reference frames: 12 more than the
// references when they are 1..16, else 28.
int32_t hw_surface_count(int32_t reference_frames);
// The surface size step: 128 for HEVC, 32 for MPEG-2, 16 otherwise.
int32_t hw_surface_alignment(int32_t codec_id);
// side raised to the next multiple of alignment.
int32_t hw_align(int32_t side, int32_t alignment);

// The free slot handed out least recently (the first on ties), -1 when
// every slot is in use.
int32_t hw_pick_slot(const HwDecodeState* state);
// Hands out the slot as a buffer of frame (buf[0], data, linesize,
// hw_frames_ctx); 0 or a negative error. -12 when every surface is held.
int hw_hand_out(HwDecodeState* state, AVFrame* frame);
// A pool of count surfaces; frames may be null (tests: no device). The
// caller holds the one reference.
HwDecodeState* hw_state_new(int32_t count);
// The decoder of hardware decoding: the pixel format of the device's
// frames for this codec, or -1 when the device cannot decode it.
int32_t hw_device_format(const AVCodec* codec);
// The current device (a new reference), null when none exists.
AVBufferRef* hw_device_ref();
// A decoding call on the device failed with error: errors of the device
// (not of the bitstream) end hardware decoding for the stream.
void hw_decode_failed(AVCodecContext* codec, int error);
