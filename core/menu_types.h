// The context menu as plain data: the window shell builds the tree, the
// platform layer shows it, statistics record it. And what the media thread
// tells the menu about the open item (its streams and chapters), so that the
// window thread never reads the container the media thread is demuxing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One menu item. Texts are UTF-8; "&X" makes X the mnemonic ("&&" is a
// plain "&") and the text after a tab is shown right-aligned as the
// accelerator. A submenu has id 0 and its items in `items`.
struct MenuItem {
    int32_t id;
    std::string text;
    bool checked;
    bool radio;        // the mark is drawn as a bullet (chapters)
    bool separator;
    bool column_break; // starts a new column of its menu
    bool checkable;    // the item may carry a mark at all
    bool submenu;
    std::vector<MenuItem> items;
};

// The top level of a built menu and, once it has been shown on a desktop,
// the platform's own menu made from it (window thread only).
struct MenuTree {
    std::vector<MenuItem> items;
    void* native;
};

// Stream kinds the menu lists, in the order of its submenus.
enum MenuStreamKind { MENU_STREAM_VIDEO = 0, MENU_STREAM_AUDIO = 1, MENU_STREAM_SUBTITLE = 2 };

// What the menu shows of one stream; absent numbers are 0, absent texts empty.
struct MenuStream {
    int32_t index; // the stream's index in the container
    int32_t kind;  // MenuStreamKind
    std::string title;
    std::string language;
    int32_t width, height;
    int32_t refs; // reference frames the decoder reported
    int32_t channels, sample_rate;
    int32_t bits_per_raw_sample;
    int64_t bit_rate;
    std::string codec;
    std::string profile;
    bool attached_picture, forced, default_track;
};

struct MenuChapter {
    int32_t start_ms, end_ms;
    std::string title;
};

// The open item as the menu sees it. Published by the media thread when an
// item has opened and withdrawn when it closes, under menu_source_lock.
struct MenuSource {
    std::vector<MenuStream> streams;
    std::vector<MenuChapter> chapters;
};
