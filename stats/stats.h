// Playback statistics for --stats, headless runs and benchmarks: what each
// item was, how many pictures were decoded, shown and dropped, how far the
// picture was from the sound, and how long seeks took. The engine reports
// through the named calls below at the points where things happen; each
// call does nothing and keeps nothing unless statistics were switched on
// with stats_enable.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "core/core.h"

struct AVCodecContext;

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
    int32_t silent; // its sound could not be played (no device for it)
    int32_t chapters;
    int32_t subtitle_source;
    char subtitle_path[1040];
    int32_t subtitle_events;
    char subtitle_first_text[256];
    // Which paths played the item's pictures: "software", "vaapi" or "cuda",
    // and "cpu" or "gl" (the last picture's; empty until one was decoded/shown).
    char decoder[12];
    char presenter[8];
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

struct Stats {
    uint32_t start_wall_ms; // now_ms() at program start
    SpinLock lock;          // guards items, seeks and the offsets
    StatsItem* items;       // media thread appends
    int32_t item_count;
    int32_t item_capacity;
    StatsSeek seeks[STATS_MAX_SEEKS];
    int32_t seek_count;
    std::atomic<int64_t> video_frames_decoded;
    std::atomic<int64_t> video_frames_presented;
    std::atomic<int64_t> video_frames_dropped;
    std::atomic<int64_t> audio_chunks_written;
    std::atomic<int64_t> first_picture_ms; // -1 until the first picture
    int64_t offset_count;
    int64_t offset_sum_ms;
    int32_t offset_max_ms;
    uint32_t offset_histogram[STATS_OFFSET_BUCKETS];
    // Seek bookkeeping between the window thread, the demux loop and presentation.
    std::atomic<uint32_t> seek_request_wall_ms; // 0: none noted
    std::atomic<int32_t> seek_origin;           // origin of the next seek the engine writes itself
    std::atomic<int32_t> open_seek;             // index of the seek awaiting its first frame, -1 none
    // The seek the demux loop is carrying out (media thread only): when it
    // was asked for (0 while none) and why.
    uint32_t current_request_wall_ms;
    int32_t current_origin;

    // Every notice shown, in order (under lock), for the state at exit.
    struct StatsNotice* notices;
    int32_t notice_count;
    int32_t notice_capacity;
    // Moves and resizes of the window by the pointer: the window thread
    // begins and ends them, the presentation thread counts the pictures
    // shown meanwhile and the longest wait between two of them.
    std::atomic<int32_t> drag_active;
    std::atomic<uint32_t> drag_start_wall_ms;
    std::atomic<uint32_t> last_picture_wall_ms; // 0 before the first picture
    std::atomic<int32_t> drag_count;
    std::atomic<int64_t> drag_total_ms;
    std::atomic<int64_t> drag_pictures;
    std::atomic<int32_t> drag_max_gap_ms;
    // The context menu as last shown, as JSON; empty while none was shown.
    // Written under lock.
    std::string menu_json;
    // How long the window thread's loop was held from its messages, as a
    // timer on that loop sees it (window thread only): the last tick, the
    // longest hold, and each hold of STATS_HOLD_LISTED_MS or more with the
    // engine's clock at its end, the processor time the window thread used
    // meanwhile and the time it waited, ready to run, for a processor busy
    // with other programs (-1 where the system does not say).
    uint32_t hold_last_tick_ms; // 0 before the first tick
    int64_t hold_last_cpu_ns, hold_last_queued_ns;
    int32_t hold_longest_ms;
    int32_t hold_count;
    struct StatsHold {
        uint32_t end_wall_ms;
        int32_t held_ms;
        int32_t cpu_ms;
        int32_t queued_ms;
    } holds[256];
};
constexpr int32_t STATS_HOLD_LISTED_MS = 20;

// Switches statistics on for this run; call before the engine starts.
// start_wall_ms is the program's start on the engine's clock. Returns the
// record (tests read it), null when memory runs out.
Stats* stats_enable(PlayerContext* ctx, uint32_t start_wall_ms);
// The record, or null when statistics are off.
Stats* stats_of(PlayerContext* ctx);
// Frees the record (tests; the program keeps it until it ends).
void stats_disable(PlayerContext* ctx);
// Forgets everything counted so far (tests, between cases on one engine).
void stats_reset(PlayerContext* ctx);

// ---- items (media thread) ----
void stats_item_begun(PlayerContext* ctx, const char* path);
// The item opened: its duration, codecs, picture size, sound format and chapters.
void stats_item_opened(PlayerContext* ctx);
void stats_subtitle_source(PlayerContext* ctx, int32_t source, const char* path);
// The item's sound stream, decoded by codec, could not be played (no sound
// device): it is described all the same and marked silent.
void stats_sound_silent(PlayerContext* ctx, const AVCodecContext* codec);
// Counts the events of the current subtitle track into the current item;
// the caller holds subtitle_lock or knows that no thread adds events.
void stats_item_subtitles(PlayerContext* ctx);

// ---- seeks ----
// The window thread is about to write seek_target_ms: latency counts from here.
void stats_seek_asked(PlayerContext* ctx);
// The engine is about to write a seek of its own for this reason.
void stats_engine_seek(PlayerContext* ctx, int32_t origin);
// The demux loop sees a seek waiting (called on every pass until it is done).
void stats_seek_started(PlayerContext* ctx);
// The seek could not be carried out.
void stats_seek_abandoned(PlayerContext* ctx);
// The seek to target_ms has been carried out; its first picture is awaited.
void stats_seek_done(PlayerContext* ctx, int32_t target_ms);

// ---- pictures and sound ----
void stats_picture_decoded(PlayerContext* ctx);
// A picture was not shown (late); not counted while a seek's first picture
// is awaited, when dropping is how the seek catches up.
void stats_picture_dropped(PlayerContext* ctx);
// A picture was taken from the queue to be drawn; what this returns goes to
// stats_picture_shown. A picture taken before a seek finished but drawn after
// it is not that seek's first picture.
int32_t stats_picture_taken(PlayerContext* ctx);
// A picture with this media time was drawn: counts it, closes the seek that
// awaited it when it was taken, and, given the media time heard as it was
// drawn (null: none known), counts the A/V offset.
void stats_picture_shown(PlayerContext* ctx, int32_t time_ms, int32_t taken, const int32_t* heard_ms);
// A sound chunk went to the device; without video it stands for the picture.
void stats_sound_written(PlayerContext* ctx, int32_t time_ms, bool without_video);
// One measured offset, sound minus picture: the picture's media time minus
// the media time heard as it is shown (positive: the sound comes late).
void stats_av_offset(PlayerContext* ctx, int32_t offset_ms);

// ---- notices and the state at exit ----
struct StatsNotice {
    int32_t at_ms; // since program start
    char text[520 * 3 + 4];
};
constexpr int32_t STATS_MAX_NOTICES = 4096;
// A notice was shown (any thread).
void stats_notice_shown(PlayerContext* ctx, const char* text);
// Appends the members of the state's "settings" object (no braces) to
// json: every option of the settings file under its key. Installed by the
// program, which knows the settings; without it the object stays empty.
using StatsSettingsWriter = void (*)(PlayerContext* ctx, std::string* json);
void stats_set_settings_writer(StatsSettingsWriter writer);
// A JSON string literal of text (quotes and escapes) appended to out.
void stats_append_json_string(std::string* out, const char* text);
// ---- moving and sizing the window (stats_drag.cpp) ----
// A move or resize by the pointer begins (active 1) or ends (0). Window thread.
void stats_window_drag(PlayerContext* ctx, int active);
// The picture-shown hook of the drag figures. Presentation thread.
void stats_drag_picture(Stats* s, uint32_t now_wall_ms);
// ---- the window thread's loop (stats_drag.cpp) ----
// One tick of a timer of period_ms on the window thread's loop: the time
// beyond the period since the last tick is how long the loop was held.
void stats_window_tick(PlayerContext* ctx, uint32_t period_ms);
// ---- decoding and presentation paths ----
// The decoder thread decoded a picture this way ("software", "vaapi", "cuda").
void stats_item_decoder(PlayerContext* ctx, const char* name);
// The presentation thread drew a picture of the item this way ("cpu", "gl").
void stats_item_presenter(PlayerContext* ctx, const char* name);

// ---- reading ----
struct StatsOffsets {
    int64_t count;
    double mean_ms;
    int32_t p95_ms, max_ms;
};
StatsOffsets stats_offsets(PlayerContext* ctx);
// Writes one JSON object; returns false when the file cannot be written or
// statistics are off.
bool stats_write_json(PlayerContext* ctx, const char* path, const char* exit_reason);

// ---- the context menu (window thread) ----
// The menu as it is shown now; the statistics keep the last one shown.
void stats_menu_shown(PlayerContext* ctx, const MenuTree* tree);
