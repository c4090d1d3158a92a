// The playback engine's door: opening items and streams, the demux loop and
// the small helpers the media, decoder and presentation threads share.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlayerContext;
struct AVStream;
struct AVCodecContext;
struct AVCodec;

// ---- opening (media thread) ----

// Opens playlist entry i (its path is in media_path). Non-zero when a video
// stream, or an audio stream with a working sound device, could be opened.
int open_item(PlayerContext* ctx, int32_t i);
// Picks and opens one stream of the FFmpeg media type; returns the stream
// index or -1. The decoding context goes into *codec.
int open_stream(PlayerContext* ctx, int32_t choice, int type, AVCodecContext** codec);
// Closes what the slot plays and opens the chosen stream of the type in it.
bool open_slot(PlayerContext* ctx, int kind, int32_t choice, int type);
// open_slot for the video slot, then the frame rate, display size and aspect text.
bool open_video(PlayerContext* ctx, int32_t choice);
// Closes the slot's stream: menu tick, decoder flushed and freed, index -1.
void close_slot(PlayerContext* ctx, int kind);

// Hardware decoding is not built yet: no stream is eligible.
bool hardware_decoding_eligible(PlayerContext* ctx, const AVStream* stream, const AVCodec* decoder);

// "16:9<1>", "720:409≈16:9<1.422>": the display aspect, its approximation
// by small numbers when the exact one has large terms, and the sample aspect.
void format_aspect_text(char* out, size_t out_size, uint32_t display_width, uint32_t display_height, int sar_num,
                        int sar_den);

// Subtitle files beside the media file: path with its extension replaced by
// ".*" and then by "*"; every name ending in .ass, .ssa, .srt or .lrc is
// handed to found(). Returns how many were found.
int find_subtitle_files(const char* media_path, void (*found)(void* user, const char* path), void* user);

// The item's description texts are plain text that frame presentation reads
// while it draws. The media thread holds presentation while it rewrites them:
// the hold returns once no drawing pass that could have missed it is still
// running, and drawing resumes (with what was asked meanwhile) at the release.
void hold_presentation(PlayerContext* ctx);
void release_presentation(PlayerContext* ctx);
// Waits until no drawing is in progress (at most about 1 s).
void wait_for_drawing(PlayerContext* ctx);

// The idle poll of the engine threads: 10 ms, but 1 ms while a seek waits,
// so that it starts as soon as the other threads have let go.
void engine_poll_sleep(const PlayerContext* ctx);

// ---- the demux loop (media thread) ----

// Runs until a new item is requested or the item has ended as a still
// picture; leaves the pipeline drained.
void demux_loop(PlayerContext* ctx);
void close_subtitle_stream(PlayerContext* ctx);

// ts x num x 1000 / den in 64-bit arithmetic, truncating; a product that
// would overflow (a broken timestamp) saturates instead.
int64_t timestamp_to_ms(int64_t ts, int num, int den);
// Media time conversions with the item's start offset (64-bit, truncating);
// results outside the 32-bit range saturate.
int32_t stream_to_media_ms(const PlayerContext* ctx, const AVStream* stream, int64_t ts);
int64_t media_ms_to_stream(const PlayerContext* ctx, const AVStream* stream, int64_t ms);
