// Subtitle sources: external subtitle files in any text encoding, subtitle
// streams embedded in the media file with the fonts attached to it, the
// libass track and renderer they fill, and the standard subtitle style.
//
// Locking rule. subtitle_lock (SubtitleState) guards sub_track's events,
// sub_renderer, the frame size given to it, the bitmap queue and the
// external file list. It is a plain spin lock: never take it twice, never
// hold it while taking another lock, never hold it across file reading or
// parsing. Functions below say whether they take it themselves ("takes the
// lock") or expect the caller to hold it ("caller holds the lock"); the
// rest work on objects no other thread can reach yet.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {
#include <ass/ass.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/core.h"

struct AVFormatContext;

// One node of the bitmap subtitle queue (decoder thread appends, the
// presentation path removes, close and seek empty it; all under the lock).
struct BitmapSubtitle {
    BitmapSubtitle* next; // toward the tail; null at the tail
    BitmapSubtitle* prev; // toward the head; null at the head
    // Decoded subtitle; start and end display times are absolute media
    // milliseconds, the end 0xFFFFFFFF while still open.
    AVSubtitle subtitle;
};

// The style block given to every track whose source brings none: exactly
// 360 bytes, three lines each ending in a line feed.
extern const char DEFAULT_SUB_STYLE[];
constexpr int DEFAULT_SUB_STYLE_BYTES = 360;

// libass's alignment value of bottom-centred text (numpad 2 in the file).
constexpr int SUB_ALIGN_BOTTOM_CENTRE = 2;

// Largest external subtitle file read, and the smallest.
constexpr int64_t EXTERNAL_FILE_MAX_BYTES = 0xA00000; // 10 MiB
constexpr int64_t EXTERNAL_FILE_MIN_BYTES = 6;

// ---- External files ----------------------------------------------------

// Appends path (UTF-8 or the file system's own bytes, at most 259 UTF-16
// units) to the external file list unless a path equal to it ignoring case
// is there. Takes the lock. Returns 1 when added, 0 when already present,
// -1 when the path is too long or memory runs out (nothing changes).
int add_external_file(SubtitleState* state, const char* path);
// Subtitle files beside the media file: path with its extension replaced by
// ".*" and then by "*"; every name ending in .ass, .ssa, .srt or .lrc is
// handed to found(). Returns how many were found.
int find_subtitle_files(const char* media_path, void (*found)(void* user, const char* path), void* user);
// Copies entry index of the list into out (zero-terminated). Takes the
// lock. Returns false for an index past the list or a buffer too small.
bool external_file_path(SubtitleState* state, uint32_t index, char* out, size_t out_size);

// Makes external file index the current source: reads it (at most 10 MiB,
// at least 6 bytes), converts it to UTF-8, parses it and, when that gives a
// track, closes the current source and installs the new track. Returns the
// track, or null with the current source untouched. Media thread.
ASS_Track* load_external_file(SubtitleState* state, uint32_t index);

// Converts the bytes of a subtitle file to UTF-8: byte-order marks, UTF-16
// of either order told by its zeros, strict UTF-8, otherwise the legacy
// encoding that detection names. out holds at least 3 * length + 32 bytes.
// Returns the length of the text written to out (zero-terminated); the
// text may start at out + *offset (a UTF-8 mark is skipped that way).
int64_t subtitle_text_to_utf8(uint8_t* bytes, int64_t length, char* out, int64_t* offset);

// Reader state of the memory parser: the next unread byte and the bytes left.
struct MemoryReader {
    const uint8_t* next;
    int32_t remaining;
};
// FFmpeg's read callback over a MemoryReader: copies min(size, remaining)
// bytes and returns the count, or AVERROR_EOF once the text is exhausted.
int memory_read_packet(void* reader, uint8_t* buffer, int size);
// Parses UTF-8 subtitle text with FFmpeg's demultiplexers and decoders into
// a new track holding all its events, or null when no subtitle stream in it
// decodes. The track is not current; no lock is taken. Media thread.
ASS_Track* parse_subtitle_memory(SubtitleState* state, const char* text, int32_t length);

// Drops the current source: frees the track, releases the attached fonts
// (the renderer goes with them and is rebuilt at the next track), sets the
// renderer's frame size to 1 x 1 and empties the bitmap queue. Takes the
// lock. Any thread except one holding the lock.
void close_subtitles(SubtitleState* state);
// Empties the bitmap queue, freeing every node and its subtitle. Caller
// holds the lock.
void free_bitmap_subtitles(SubtitleState* state);
// Appends a decoded bitmap subtitle, or closes the open one before it when
// it has no rectangle: the queue's open tail ends 1 ms before time_ms, the
// subtitle's display times become absolute (plus time_ms), and palette
// alpha is inverted (0 opaque) as the presentation path expects. Takes
// ownership of sub in every case. Caller holds the lock. Returns false when
// memory ran out (the subtitle is then freed).
bool queue_bitmap_subtitle(SubtitleState* state, AVSubtitle* sub, int64_t time_ms);

// ---- Embedded streams, tracks and styles ---------------------------------

// Makes an embedded subtitle stream the current source: closes the current
// one, sets the canvas from the stream's decoding context (or the first
// video stream's size where it gives none), adds every font attached to the
// file, creates the track and applies the standard style. Returns 1. Media
// thread, after it has opened the stream's decoder.
int open_embedded_subtitles(SubtitleState* state, AVCodecContext* codec, AVFormatContext* format);
// Whether a stream of the file is a font attachment: type attachment, a
// "filename" tag, and a font file name or font mimetype.
bool is_font_attachment(const AVStream* stream);

// A new track with the styles of its source: an ASS or SSA stream's own
// header, DEFAULT_SUB_STYLE otherwise. Rebuilds the renderer first when the
// fonts changed. Null when libass cannot make one. Media thread.
ASS_Track* new_subtitle_track(SubtitleState* state, const AVCodecContext* codec);

// Installs a new track as the current source (null: none) and saves its
// ScaledBorderAndShadow. Takes the lock. Media thread, after close_subtitles.
void make_track_current(SubtitleState* state, ASS_Track* track);
// Rebuilds the renderer when the fonts changed since it was made, or makes
// the first one. Media thread.
void ensure_subtitle_renderer(SubtitleState* state);

// Adds the text rectangles of a decoded subtitle to track, each with its
// own timing, then frees sub. read_order_text (read_order_size bytes, may
// be null) is the packet data of an ASS stream: its leading number becomes
// the events' ReadOrder (0 without one). Strips style tags when the
// standard style is on. The decoder thread calls it holding the lock; the
// file parser on a track not yet current. Times come from sub->pts, so the
// decoding context's pkt_timebase must be set.
void add_subtitle_events(SubtitleState* state, ASS_Track* track, AVSubtitle* sub, const char* read_order_text,
                         int read_order_size);

// Applies standard_style_on to the current track and renderer: on, the
// standard style overrides bottom-centred subtitles and their font, colour,
// border, shadow, blur and position tags are removed; off, the track's own
// ScaledBorderAndShadow returns and the override goes (removed tags stay
// removed). Takes the lock. Media or window thread.
void apply_sub_style(SubtitleState* state);
// Stores the option and applies it. Window thread.
void set_standard_sub_style(SubtitleState* state, int32_t on);
// Removes font, colour, border, shadow, blur and position tags from one
// event's text in place, in one pass, when its style is bottom centre.
void strip_style_tags(ASS_Track* track, ASS_Event* event);
// The same on a zero-terminated text; returns its new length.
size_t strip_style_tags_text(char* text);

// ---- Drawing ------------------------------------------------------------

// Renders the current track at time_ms for a width x height frame; the
// frame size is given to libass only when it changed. Caller holds the lock
// and keeps it while it uses the images (they belong to the renderer).
// Null when there is no source or nothing to draw; *changed (may be null)
// as libass's detect_change.
ASS_Image* subtitles_render(SubtitleState* state, int64_t time_ms, int width, int height, int* changed);
// After a seek: frees the events of an embedded track (so packets read again
// are accepted), sets the frame size to 1 x 1 and empties the bitmap queue.
// An external file keeps its events. Takes the lock.
void reset_subtitles_for_seek(SubtitleState* state);
// Frees everything the subtitle code made (track, renderer, bitmap queue,
// font library; the external list stays with its owner). For the end of a
// context's life; no other thread may touch the state any more.
void release_subtitles(SubtitleState* state);

// ---- Fonts ----------------------------------------------------------------

// The folder of the font library's configuration and cache:
// <executable's folder>/fontconfig when it is writable, otherwise the XDG
// cache folder's moravista/fontconfig. Created when missing; the same path
// for the life of the process.
const char* font_config_dir();
// The font configuration file the subtitle renderer is given: the system's
// configuration, the cache in font_config_dir, and "SimHei" resolving to the
// installed CJK sans. Written once per process; null when it cannot be.
const char* font_config_file();
