// What the files of the engine share among themselves (and with its tests):
// opening items and streams, the demux loop and its seek and track switch.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "engine/engine.h"

struct PlayerContext;
struct PacketNode;
struct AVFormatContext;
struct AVDictionary;
struct AVStream;
struct AVCodecContext;
struct AVCodec;
struct AVCodecParameters;
struct ItemTags;
struct CoverJob;

// The open container, and the stream a slot plays (null when none).
AVFormatContext* format_of(PlayerContext* ctx);
AVStream* slot_stream(PlayerContext* ctx, int kind);
// The slot that plays the stream, or -1.
int slot_of_stream(PlayerContext* ctx, int stream);

// ---- opening (media thread) ----

// Opens playlist entry i (its path is in media_path; the previous item is
// closed). Non-zero when a video stream, or an audio stream with a working
// sound device, could be opened. Holds presentation only while it writes
// what frame presentation draws, never across the open itself.
int open_item(PlayerContext* ctx, int32_t i);
// The media thread while it waits for a request: the early open, if one
// was asked for and has not been done.
void early_open_step(PlayerContext* ctx);
// The container opened early, when it is of this path and no open options
// are given; else null (an early container is closed then). Media thread.
AVFormatContext* take_early_open(PlayerContext* ctx, const char* path, const AVDictionary* options);
// Closes what the item plays: every slot's stream, the container, the
// external subtitle list and the chapters.
void close_item(PlayerContext* ctx);
// Picks and opens one stream of the FFmpeg media type; returns the stream
// index or -1. The decoding context goes into *codec.
int open_stream(PlayerContext* ctx, int32_t choice, int type, AVCodecContext** codec);
// Closes what the slot plays and opens the chosen stream of the type in it.
bool open_slot(PlayerContext* ctx, int kind, int32_t choice, int type);
// open_slot for the video slot, then the frame rate, display size and aspect text.
bool open_video(PlayerContext* ctx, int32_t choice);
// Closes the slot's stream: decoder flushed and freed, index -1.
void close_slot(PlayerContext* ctx, int kind);

// The decoding threads for a stream of these parameters and frame rate on
// this many cores: 1 for small pictures, else frame threads capped by the
// picture rate and the cores; 0 (the decoder's own choice) for sound and
// subtitles.
constexpr int MAX_FRAME_THREADS = 16;
int decoder_thread_count(const AVCodecParameters* par, AVRational frame_rate, int cores);

// A video decoder that failed on the device is reopened in software at
// the current position (demux loop).
void handle_hw_fallback(PlayerContext* ctx);

// "16:9<1>", "720:409≈16:9<1.422>": the display aspect, its approximation
// by small numbers when the exact one has large terms, and the sample aspect.
void format_aspect_text(char* out, size_t out_size, uint32_t display_width, uint32_t display_height, int sar_num,
                        int sar_den);

// ---- the presentation thread ----

// What one pass hands from the frame steps to the drawing step.
struct PassState {
    uint32_t now;       // the millisecond timer at the start of the pass
    bool new_picture;   // a picture was taken to be shown
    int32_t picture_ms; // its media time
    int32_t picture_seek; // the seek awaiting a picture when it was taken (stats)
    // Following the sound: the clock before this pass advanced it, whether
    // the last pass knew what is heard, the start of the sound (a count of
    // the output's sound_starts) last heard, the start waited for and since
    // when the clock waits.
    int32_t clock_before_ms;
    bool sound_known;
    uint32_t heard_start;
    uint32_t waited_start;
    uint32_t wait_since_ms;
};
// The clock follows the sound heard (heard_ms, when known is true): it is
// set to it when the sound has just begun to be heard or is SOUND_JUMP_MS
// or more away, and else pulled toward it by a quarter of the difference,
// at most 10 ms, on every pass; a difference of 500 ms or more is left to
// the frame rules. While sound is
// queued but none is heard, the clock does not pass the first queued
// sample: for at most SOUND_START_WAIT_MS when the sound starts afresh (an
// item, a seek, a restart), SOUND_GAP_WAIT_MS when it ran dry in play.
void clock_follow_sound(PlayerContext* ctx, PassState* pass, bool known, int32_t heard_ms);
constexpr int32_t SOUND_JUMP_MS = 40;
constexpr uint32_t SOUND_START_WAIT_MS = 300;
constexpr uint32_t SOUND_GAP_WAIT_MS = 150;
// One pass's rules at pass->now: the clock advanced and pulled toward the
// sound, the pointer-hide and notice countdowns, pictures taken or dropped,
// sound handed to the device. Drawing follows separately.
void presentation_rules(PlayerContext* ctx, PassState* pass);

// ---- the demux loop (media thread) ----

// Runs until a new item is requested or the item has ended as a still
// picture; leaves the pipeline drained.
void demux_loop(PlayerContext* ctx);
// What one pass of the demux loop asks of the next.
enum PassResult { PASS_SLEEP, PASS_AT_ONCE, PASS_GO_ON, PASS_EXIT };

// The demux loop's own state across passes.
struct DemuxState {
    PacketNode* spare;      // the node the next read fills
    PacketNode* accepted;   // nodes read since a seek, in reading order
    AVStream* seek_stream;
    int64_t seek_ts;        // in the seek stream's time base
    int backward;           // the backward flag of the current seek
    int32_t forward;        // seek_forward as the current seek found it
    int32_t keyframes_only; // -1 unknown, else whether the index holds only key frames
    int32_t seek_deferred;  // a seek of this item went round the window thread
};

// A seek waiting in seek_target_ms: carried out when the decoder has let go
// of every packet. PASS_GO_ON when there is none or it is done.
PassResult handle_seek(PlayerContext* ctx, DemuxState* st);
// Frees the packets read since a seek that were not handed over.
void release_accepted(PlayerContext* ctx, DemuxState* st);
// Waits for room in the ring, then hands the node over.
void push_node(PlayerContext* ctx, PacketNode* node);

// While "清理内存" is on: asks the window thread to trim the memory a second
// from now (after an item opened or a seek, when the old pictures are gone).
void ask_for_trim_soon();

// Track switches asked for through track_switch_request (demux loop).
void handle_track_switch(PlayerContext* ctx);
// Unloads the subtitle source and closes the subtitle stream.
void close_subtitle_stream(PlayerContext* ctx);

// ---- what the context menu lists (media thread) ----
// Describes the open item's streams and chapters for the menu and hands the
// description over under menu_source_lock; null format withdraws it.
void menu_source_publish(PlayerContext* ctx, AVFormatContext* format);
// Metadata text: UTF-8, or the legacy encoding when it is not, at most 259
// UTF-16 units; empty when the key is absent or nothing usable came out.
std::string metadata_text(AVDictionary* metadata, const char* key);

// ---- what the desktop shows of the open item (media thread) ----
// Describes the item that has just opened (its tags, its cover) and hands
// the description over under item_tags_lock; an embedded cover that the
// cache does not hold yet goes to the cover's writer. Null withdraws it.
void item_tags_publish(PlayerContext* ctx, AVFormatContext* format);
// The demux loop, after a read: tags that changed while the item plays (a
// chained stream's next part) are handed over and announced.
void item_tags_follow(PlayerContext* ctx, AVFormatContext* format);

// The cover picture of the item (engine/cover_art.cpp). What a picture file
// of this kind is called ("jpg", "png", "gif", "bmp", "webp") by its first
// bytes; null when the bytes are no picture of a kind desktops show.
const char* picture_kind(const uint8_t* data, size_t size);
// A cover.jpg, folder.jpg (or .png, or capitalised) beside a local file
// that holds a picture; empty when there is none.
std::string cover_beside(const char* media_path);
// Sets tags->art_path for the item's cover, while covers_wanted: the
// embedded picture when the cache holds it already, else (while a writer
// puts it there) nothing yet, else the cover beside the file. A job for the
// writer comes back in *job.
void cover_art_find(PlayerContext* ctx, AVFormatContext* format, ItemTags* tags, CoverJob** job);
// Hands the job to the cover's writer thread, starting it when none runs.
void cover_art_write_later(PlayerContext* ctx, CoverJob* job);

// The cache of cover files (engine/cover_cache.cpp): $XDG_CACHE_HOME (else
// ~/.cache) /moravista/covers; empty when neither is an absolute path.
constexpr uint64_t COVER_CACHE_LIMIT_BYTES = 50ull << 20;
// Room left on the disk after a cover is written, so that the cache never
// takes the last of it from what other programs (and the settings) write.
constexpr uint64_t COVER_CACHE_RESERVE_BYTES = 64ull << 20;
// A bigger picture is not cached: it would take half the cache.
constexpr size_t COVER_LARGEST_BYTES = 25u << 20;
std::string cover_cache_folder(const char* cache_home, const char* home);
// The file in folder that holds this picture: named by its content.
std::string cover_cache_name(const std::string& folder, const uint8_t* data, size_t size, const char* kind);
// Whether the file is there with this size; if so it counts as used now.
bool cover_cache_use(const std::string& path, size_t size);
// Writes the picture to path (whole or not at all) unless it is there, then
// removes the least recently used files of its folder past limit_bytes.
// False when it could not be written: no folder, no room, a write failed.
bool cover_cache_store(const std::string& path, const uint8_t* data, size_t size, uint64_t reserve_bytes,
                       uint64_t limit_bytes);
// Removes the least recently used files of the folder until the rest take
// at most limit_bytes; keep is never removed.
void cover_cache_prune(const std::string& folder, uint64_t limit_bytes, const std::string& keep);
