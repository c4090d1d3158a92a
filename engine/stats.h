// Playback statistics for headless runs and benchmarks: what each item was,
// how many pictures were decoded, shown and dropped, how far the picture was
// from the sound, and how long seeks took. Written by the engine threads,
// read once at exit by the window thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/spin_lock.h"

struct PlayerContext;

// Where the subtitles of an item came from.
enum StatsSubtitleSource { STATS_SUB_NONE = 0, STATS_SUB_EMBEDDED = 1, STATS_SUB_EXTERNAL = 2 };

struct StatsItem {
    char path[780 * 3];
    int32_t opened;
    int32_t duration_ms;
    char video_codec[32];
    int32_t width, height;
    char audio_codec[32];
    int32_t sample_rate, channels;
    int32_t chapters;
    int32_t subtitle_source;
    char subtitle_path[1040];
    int32_t subtitle_events;
    char subtitle_first_text[256];
};

// Why a seek was carried out: the engine's own seeks are marked so that a
// reader can tell them from the user's.
enum StatsSeekOrigin { SEEK_BY_USER = 0, SEEK_BY_SWITCH = 1, SEEK_BY_LOOP = 2, SEEK_BY_START = 3 };

struct StatsSeek {
    int32_t target_ms;
    int32_t origin;
    uint32_t request_wall_ms;
    int32_t first_frame_ms; // -1 until a frame has been presented after it
    int32_t latency_ms;
};

constexpr int32_t STATS_MAX_SEEKS = 4096;
// |offset| histogram in whole milliseconds; the last bucket holds the rest.
constexpr int32_t STATS_OFFSET_BUCKETS = 2048;

struct EngineStats {
    std::atomic<uint32_t> start_wall_ms; // now_ms() at program start (set by main)
    SpinLock lock;                       // guards items and seeks
    StatsItem* items;                    // media thread appends
    int32_t item_count;
    int32_t item_capacity;
    StatsSeek seeks[STATS_MAX_SEEKS];
    int32_t seek_count;
    std::atomic<int64_t> video_frames_decoded;
    std::atomic<int64_t> video_frames_presented;
    std::atomic<int64_t> video_frames_dropped;
    std::atomic<int64_t> audio_chunks_written;
    std::atomic<int64_t> first_picture_ms; // -1 until the first picture
    // A/V offsets (presentation thread only while playing; read at exit).
    int64_t offset_count;
    int64_t offset_sum_ms;
    int32_t offset_max_ms;
    uint32_t offset_histogram[STATS_OFFSET_BUCKETS];
    // Seek bookkeeping between the window thread, the demux loop and presentation.
    std::atomic<uint32_t> seek_request_wall_ms; // 0: none noted
    std::atomic<int32_t> seek_origin;           // origin of the next seek the engine writes itself
    std::atomic<int32_t> open_seek;             // index of the seek awaiting its first frame, -1 none
    // now_ms() just after the media thread last reset or reopened the sound
    // device: reports heard before it are not used for the A/V figures.
    std::atomic<uint32_t> audio_reset_wall_ms;
};

void engine_stats_reset(PlayerContext* ctx);
// The window-thread side calls this just before it writes seek_target_ms, so
// that the latency counts from the request.
void engine_stats_note_seek_request(PlayerContext* ctx);
// Media thread.
void engine_stats_begin_item(PlayerContext* ctx, const char* path);
void engine_stats_item_opened(PlayerContext* ctx);
void engine_stats_subtitle_source(PlayerContext* ctx, int32_t source, const char* path);
// Counts the events of the current subtitle track into the current item;
// the caller holds subtitle_lock or knows that no thread adds events.
void engine_stats_item_subtitles(PlayerContext* ctx);
void engine_stats_seek_done(PlayerContext* ctx, int32_t target_ms, int32_t origin, uint32_t request_wall_ms);
// Presentation thread: a picture (or, without video, a sound chunk) was
// handed out with this media time.
void engine_stats_presented(PlayerContext* ctx, int32_t time_ms, bool picture);
void engine_stats_av_offset(PlayerContext* ctx, int32_t offset_ms);
// Whether any entry of this run has opened (the exit code of a run that
// ends with its list).
bool engine_stats_any_opened(PlayerContext* ctx);
// Copies of the figures for tests.
struct StatsOffsets {
    int64_t count;
    double mean_ms;
    int32_t p95_ms, max_ms;
};
StatsOffsets engine_stats_offsets(PlayerContext* ctx);
// Writes one JSON object; returns false when the file cannot be written.
bool engine_stats_write_json(PlayerContext* ctx, const char* path, const char* exit_reason);
