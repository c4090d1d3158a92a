// The subtitle group of the player context: the current libass track and
// renderer, the external subtitle files of the current item, the bitmap
// subtitle queue and the lock that guards them. The functions that work on
// it live in subtitle/.
#pragma once
#include <atomic>
#include <cstdint>

#include <ass/ass_types.h>

#include "core/spin_lock.h"

struct BitmapSubtitle;

// Bytes of one entry of the external file list: a UTF-8 path of at most 259
// UTF-16 units (3 bytes per unit at most) and its terminator.
constexpr int EXTERNAL_PATH_BYTES = 1040;
constexpr int EXTERNAL_PATH_UNITS = 259;

struct SubtitleState {
    // Written by the media thread; read under subtitle_lock.
    std::atomic<ASS_Track*> sub_track;
    ASS_Renderer* sub_renderer; // replaced only under subtitle_lock
    ASS_Library* ass_library;   // shared with the OSD
    SpinLock subtitle_lock;
    std::atomic<int32_t> renderer_ready;
    std::atomic<int32_t> external_index;
    char (*external_files)[EXTERNAL_PATH_BYTES]; // UTF-8 paths; appended and read under subtitle_lock
    std::atomic<uint32_t> external_count;
    uint32_t external_capacity;
    int32_t saved_scaled_border;
    BitmapSubtitle* bitmap_subs_head;
    BitmapSubtitle* bitmap_subs_tail;
    std::atomic<int32_t> canvas_width;  // media thread writes, presentation thread reads
    std::atomic<int32_t> canvas_height;

    // The library that holds the fonts attached to the media file, the
    // subtitle tracks and sub_renderer (media thread; created on first use).
    // It is kept apart from the OSD's ass_library: libass renderers abort
    // when the fonts of their library are cleared after they have drawn, and
    // the OSD draws while attachments come and go.
    ASS_Library* font_library;
    int32_t attached_font_count; // fonts added to font_library for this item
    // The frame size last given to sub_renderer (under subtitle_lock);
    // libass cannot be asked for it. 1 x 1 after a close or a seek.
    int32_t frame_width;
    int32_t frame_height;
    // The standard subtitle style option as the subtitle code applies it:
    // the window thread mirrors the setting here before apply_sub_style.
    std::atomic<int32_t> standard_style_on;
};
