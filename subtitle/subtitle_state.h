// The subtitle group of the player context: the current libass track and
// renderer, the external subtitle files of the current item, the bitmap
// subtitle queue and the lock that guards them.
#pragma once
#include <atomic>
#include <cstdint>

#include <ass/ass_types.h>

#include "engine/spin_lock.h"




struct BitmapSubtitle;

struct SubtitleState {
    std::atomic<ASS_Track*> sub_track;
    ASS_Renderer* sub_renderer;
    ASS_Library* ass_library; // shared with the OSD
    SpinLock subtitle_lock;
    std::atomic<int32_t> renderer_ready;
    std::atomic<int32_t> external_index;
    char (*external_files)[1040]; // UTF-8 paths of at most 259 UTF-16 units
    std::atomic<uint32_t> external_count;
    uint32_t external_capacity;
    int32_t saved_scaled_border;
    BitmapSubtitle* bitmap_subs_head;
    BitmapSubtitle* bitmap_subs_tail;
    int32_t canvas_width;
    int32_t canvas_height;
};
