// The context menu's own business (and its tests'): building the tree from
// the player's state, its marks, and finding items in it. Window thread.
#pragma once
#include <cstdint>
#include <string>

#include "core/core.h"
#include "ui/ui_internal.h"

// Command identifiers of the menu's fixed items and the first identifier of
// each numbered range.
enum MenuCommand : int32_t {
    CMD_SHUFFLE = 1000,
    CMD_SORT = 1001,
    CMD_SAVE_PLAYLIST = 1002,
    CMD_ALWAYS_ON_TOP = 1003,
    CMD_SHOW_TITLE = 1004,
    CMD_SHOW_PROGRESS = 1005,
    CMD_STANDARD_SUB_STYLE = 1006,
    CMD_SUBS_OUTSIDE = 1007,
    CMD_EXIT = 1008,
    CMD_SHOW_CLOCK = 1009,
    CMD_SHOW_PLAY_INFO = 1010,
    CMD_HOTKEYS = 1011,
    CMD_COOL_MENU = 1012,
    CMD_HW_DECODE = 1013,
    CMD_BLOCK_SCREENSAVER = 1014,
    CMD_TRIM_MEMORY = 1015,
    CMD_COPY_SUBTITLE_TEXT = 1016,
    CMD_COPY_PICTURE = 1017,
    CMD_COPY_PICTURE_WITH_SUBTITLES = 1018,
    CMD_FIRST_STREAM = 1019,
    CMD_FIRST_SUBTITLE_FILE = 2020,
    CMD_SUBTITLES_OFF = 3021,
    CMD_FIRST_CHAPTER = 3022,
    CMD_FIRST_ENTRY = 4023,
};

// Positions of the top level's submenus before empty ones are removed.
enum MenuPosition { MENU_LIST, MENU_CHAPTERS, MENU_VIDEO, MENU_AUDIO, MENU_SUBTITLES, MENU_SETTINGS };

// The whole menu from the playlist, the open item (ctx->menu_source), the
// external subtitle files and the options, marks included.
MenuTree* menu_build(PlayerContext* ctx);
// Sets every mark from the current state: the streams and the subtitle file
// in use, subtitles off, the options, the current entry and its group, and
// the radio mark on the chapter that holds the playback position.
void menu_sync_marks(PlayerContext* ctx, MenuTree* tree);

// The first item with the identifier, depth first; null when none.
MenuItem* menu_find(std::vector<MenuItem>* items, int32_t id);

// Destroys the desktop menu made from the tree, then the tree.
void menu_free(MenuTree* tree);
// Destroys the cached menu, if any (window thread, once nothing can show it).
void menu_free_cached(PlayerContext* ctx);

// MSG_CANCEL_MODE: the dropped menu is closed if shown is non-zero, then
// destroyed with the desktop menu made from it.
intptr_t menu_cancel_mode(MainWindow* w, uintptr_t shown, intptr_t menu);

// MSG_COMMAND from a chosen item: what the menu's own items do.
intptr_t menu_command(MainWindow* w, int32_t id);
