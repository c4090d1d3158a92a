// The one record of all player state, shared by every thread. Each field is
// written by the threads named beside it; every field that more than one
// thread touches is atomic (relaxed for whole 32-bit request and state
// values, release/acquire where an entry is published).
#pragma once
#include <atomic>
#include <cstdint>

#include "core/audio_types.h"
#include "core/display_types.h"
#include "core/item_tags.h"
#include "core/playlist_types.h"
#include "core/queue_types.h"
#include "core/spin_lock.h"
#include "core/subtitle_types.h"

struct AVFormatContext;
struct AVDictionary;
struct Stats;
struct MenuSource;

constexpr int32_t OPEN_INDEX_STOP = 0x7FFFFFFF;
constexpr int MEDIA_PATH_UNITS = 780;   // UTF-16 units including the terminator
constexpr int DISPLAY_NAME_UNITS = 260; // UTF-16 units including the terminator

struct Chapter {
    int32_t start_ms;
    char title[259 * 3 + 1];
    int32_t end_ms; // chapter end in media milliseconds
};

struct PlayerContext {
    // Requests and playback state.
    std::atomic<int32_t> seek_target_ms;  // window thread, track switch, demux loop
    std::atomic<int32_t> seek_forward;
    // Target and direction of the seek asked for last, as one word
    // (core/seek_request.h); the target's high half is 0xFFFFFFFF when none.
    std::atomic<uint64_t> seek_order;
    std::atomic<AVFormatContext*> format; // media thread; others read while open
    std::atomic<void*> menu;              // cached context menu (opaque), window thread / media thread
    std::atomic<int32_t> video_choice;
    std::atomic<int32_t> audio_choice;
    std::atomic<int32_t> subtitle_choice;
    std::atomic<int32_t> clock_ms;
    std::atomic<uint32_t> clock_wall_ms; // presentation thread writes it every pass
    std::atomic<int32_t> due_wall_ms;
    std::atomic<int32_t> audio_only_position_ms;
    std::atomic<int32_t> playing;
    std::atomic<int32_t> step_frame;
    int32_t tick_ms; // presentation thread only
    std::atomic<int32_t> packets_in_flight;
    std::atomic<int32_t> end_of_file;
    std::atomic<int64_t> start_offset_ms;
    std::atomic<int32_t> track_switch_request;

    // Window and display state.
    void* window;                        // platform window handle (copy)
    char notice_text[520 * 3 + 4];       // UTF-8, at most 519 UTF-16 units
    SpinLock notice_lock;                // notices come from any thread
    std::atomic<int32_t> notice_length;  // 0 when no notice is shown
    std::atomic<int32_t> notice_ticks;
    std::atomic<int32_t> clock_shown;
    std::atomic<int32_t> clock_ticks;
    std::atomic<int32_t> hover_region;
    const char* osd_font;   // font description of the fixed-pitch OSD font
    const char* glyph_font; // font description of the caption glyph box
    ASS_Renderer* osd_renderer;
    ASS_Track* osd_track;
    char* osd_event_text;   // the clock overlay rewrites it before each rendering
    std::atomic<int32_t> copy_request;   // 0 none, 1 redraw, 2 copy, 3 copy with subtitles
    std::atomic<int32_t> window_visible; // copied into redraw_pending when a frame is taken
    std::atomic<int32_t> open_request;
    char start_offset_text[32];          // "+%d.%03d", empty when the offset is 0
    // Pointer state the window thread keeps for the OSD: -1 while the window
    // is active, else 1 paused / 0 playing; the held mouse buttons; the media
    // time under the pointer on the progress bar.
    std::atomic<int32_t> focus_state;
    std::atomic<int32_t> mouse_buttons;
    std::atomic<int32_t> hover_position_ms;
    // The frame buffer, its text context and scaler (presentation thread;
    // the client size is stored by the window thread or the headless loop).
    FrameDisplay display;

    // Playlist (window thread; the counts are read by the media thread).
    Playlist playlist;
    std::atomic<uint32_t> item_count;
    std::atomic<uint32_t> current_item;

    // Sound output.
    AudioOutput audio;

    // Subtitles.
    SubtitleState subtitles;

    // Media description (media thread; read for display).
    std::atomic<int32_t> duration_ms;
    std::atomic<int32_t> video_start_ms;
    std::atomic<uint32_t> display_width;
    std::atomic<uint32_t> display_height;
    std::atomic<int32_t> frame_rate_num;
    std::atomic<int32_t> frame_rate_den;
    char aspect_text[64];
    Chapter* chapters;
    std::atomic<uint32_t> chapter_count;
    uint32_t chapter_capacity;

    // Held by the decoder thread while it decodes a picture, so that frames
    // are not released under it.
    SpinLock video_decode_lock;

    // Video, audio and subtitle slots, in that order.
    StreamSlot slots[SLOT_COUNT];
    // Pictures the video decoder has returned since its stream was opened
    // (decoder thread; a deferred seek waits for enough of them).
    std::atomic<int64_t> video_frames_out;
    // Counts deferred seeks: the thread that waits for one ends when a newer
    // one is asked for. And how many such threads still run.
    std::atomic<uint32_t> deferred_seek_serial;
    std::atomic<int32_t> deferred_seek_waiters;

    // Item request: open_index is the trigger and is written last.
    std::atomic<int32_t> open_index;
    std::atomic<int32_t> open_play;
    std::atomic<int32_t> open_start_ms;
    char media_path[MEDIA_PATH_UNITS * 3];     // UTF-8, at most 779 UTF-16 units
    char display_name[DISPLAY_NAME_UNITS * 3]; // UTF-8, at most 259 UTF-16 units
    AVDictionary* open_options;                // from MSG_PLAYLIST sub-code 4

    // Packet hand-over ring and the decoder's unpublished audio.
    PacketRing ring;
    std::atomic<int32_t> decoder_busy;

    // Presentation bookkeeping.
    std::atomic<int32_t> frame_taken;
    std::atomic<int32_t> redraw_pending;
    std::atomic<uint32_t> last_audio_redraw_ms;

    // Depth of the context menu being shown (0: none); the window thread
    // writes it, the engine waits for 0 before an item ends.
    std::atomic<int32_t> menu_depth;

    // Run options of the program (set before the threads start).
    // 1: instead of wrapping around, repeating, looping or keeping a still
    // picture, the program ends (MSG_CLOSE) when the list has played.
    std::atomic<int32_t> quit_at_end;

    // Playback statistics for --stats: null unless they were asked for, so
    // that a run without them neither counts nor keeps anything (stats/).
    std::atomic<Stats*> stats;
    // Items opened in this run (media thread): a run that ends with its list
    // exits with 0 only when something played.
    std::atomic<int32_t> items_opened;
    // Pictures drawn (presentation thread): the end of a run waits for the
    // last one.
    std::atomic<uint32_t> pictures_shown;
    // Non-zero while the media thread rewrites the item's description texts
    // (display_name, title, aspect and start-offset texts, chapters): the
    // presentation thread draws nothing meanwhile.
    std::atomic<int32_t> presentation_hold;
    // Non-zero while the presentation thread draws; the hold waits for 0.
    std::atomic<int32_t> presentation_drawing;

    // ---- waiting spent around the engine ----
    // Wall time at which the last seek was carried out (demux loop) or an
    // item started (media thread), until presentation takes the first
    // picture after it (or, without video, the first sound): 0 otherwise.
    // Meanwhile every engine thread keeps its 1 ms poll, so the picture the
    // user waits for is not held up by naps.
    std::atomic<uint32_t> seek_settle_wall_ms;
    // The OSD renderer's fonts: set up after the first picture in a window,
    // on first need elsewhere (engine/deferred_setup.cpp). state 0 not yet,
    // 1 being set up, 2 done (osd_fonts_ready follows).
    std::atomic<int32_t> osd_fonts_state;
    // The first file of the command line, opened while the window is made
    // (engine/early_open.cpp): the path is written before the state is
    // published; the container belongs to the media thread.
    std::atomic<int32_t> early_state;
    char early_path[MEDIA_PATH_UNITS * 3];
    AVFormatContext* early_format;
    // Allocations that failed while playing (any thread counts them): the
    // media thread stops the item with a notice, and a run that ends
    // because of it says so.
    std::atomic<int32_t> memory_short;
    // Input and commands: the picture height of the chosen video stream
    // (media thread; the size keys read it), 0 without video.
    std::atomic<int32_t> video_height;
    // ---- the context menu ----
    // The open item's streams and chapters as the menu lists them (null
    // while nothing is open). The media thread replaces it under the lock;
    // the window thread reads it under the lock while it builds the menu.
    SpinLock menu_source_lock;
    MenuSource* menu_source;
    // Counts the drops of the cached menu (any thread): a menu built while
    // one came may describe an item that is gone.
    std::atomic<uint32_t> menu_drops;
    // An entry came from another program while a menu was shown (window
    // thread only): the cached menu lacks it and is built anew at its next
    // showing.
    bool menu_stale;
    // Reference frames the video decoder reports for the stream it decodes
    // (decoder thread; 0 until its first picture).
    std::atomic<int32_t> video_refs;
    // ---- the clock overlay ----
    // Where the last update put the time: client_width minus the left edge of
    // its box, and the box's top (presentation thread; the window reads them).
    std::atomic<int32_t> clock_right;
    std::atomic<int32_t> clock_top;
    // Set by the media thread once the OSD renderer has its fonts; the clock
    // renders nothing before.
    std::atomic<int32_t> osd_fonts_ready;
    // ---- what the desktop shows of the open item ----
    // The open item's tags and cover (null while nothing is open). The media
    // thread replaces the record, the cover's writer fills in its file, both
    // under the lock; the window thread copies it out under the lock.
    SpinLock item_tags_lock;
    ItemTags* item_tags;
    // The embedded cover waiting to be written into the cache (media thread
    // puts, the writer takes), and whether a writer thread runs.
    std::atomic<CoverJob*> cover_job;
    std::atomic<int32_t> cover_writer_running;
    // Set before the first item by whoever shows covers (the desktop's
    // media-player interface); without it no cover is looked for or written.
    std::atomic<int32_t> covers_wanted;
};
