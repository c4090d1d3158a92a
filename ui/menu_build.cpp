// Building the context menu as data: the list with its groups and columns,
// the chapters, the tracks of the open item, the subtitle files, the
// options, and the finishing pass that drops empty submenus.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/menu_internal.h"

namespace {

// Entries beyond this many are grouped by 25; every 500 entries a new
// column begins.
constexpr uint32_t FLAT_LIST_MAX = 30;
constexpr uint32_t GROUP_SIZE = 25;
constexpr uint32_t COLUMN_SIZE = 500;
// Each numbered range holds this many identifiers; what lies beyond would
// run into the next range and is not listed.
constexpr int32_t RANGE_SIZE = 1001;

MenuItem command_item(int32_t id, const char* text)
{
    MenuItem item{};
    item.id = id;
    item.text = text;
    return item;
}

MenuItem check_item(int32_t id, std::string text, bool checked)
{
    MenuItem item{};
    item.id = id;
    item.text = std::move(text);
    item.checkable = true;
    item.checked = checked;
    return item;
}

MenuItem separator_item()
{
    MenuItem item{};
    item.separator = true;
    return item;
}

MenuItem submenu_item(std::string text)
{
    MenuItem item{};
    item.text = std::move(text);
    item.submenu = true;
    return item;
}

bool option_on(const std::atomic<int32_t>& option)
{
    return option.load(std::memory_order_relaxed) != 0;
}

// ---- the list ----

void add_entries(PlayerContext* ctx, MenuItem* list)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    const PlaylistEntry* entries = ctx->playlist.items;
    std::vector<MenuItem>* target = &list->items;
    for (uint32_t i = 0; i < count; i++) {
        if (count > FLAT_LIST_MAX && i % GROUP_SIZE == 0) {
            uint32_t last = std::min(i + GROUP_SIZE, count);
            char label[40];
            snprintf(label, sizeof label, "%5u - %5u", i + 1, last);
            MenuItem group = submenu_item(label);
            group.checkable = true;
            group.checked = current >= i && current < last;
            group.column_break = i != 0 && i % COLUMN_SIZE == 0;
            group.items.reserve(last - i);
            list->items.push_back(std::move(group));
            target = &list->items.back().items;
        }
        target->push_back(check_item(CMD_FIRST_ENTRY + int32_t(i), menu_entry_text(i, playlist_display_name(&entries[i])),
                                     i == current));
    }
    if (count > 0)
        list->items.push_back(separator_item());
    list->items.push_back(command_item(CMD_SHUFFLE, "随机打乱列表(&R)\tR"));
    list->items.push_back(command_item(CMD_SORT, "顺序排列列表(&S)\tS"));
    list->items.push_back(check_item(CMD_SAVE_PLAYLIST, "退出时保存列表", option_on(settings.save_playlist)));
}

// ---- the open item ----

void add_chapters(const MenuSource* source, MenuItem* chapters)
{
    int32_t count = int32_t(std::min<size_t>(source->chapters.size(), RANGE_SIZE));
    for (int32_t i = 0; i < count; i++) {
        const MenuChapter& c = source->chapters[size_t(i)];
        char times[64];
        // A chapter that begins before the item's start offset shows as 0.
        char* cursor = format_time_ms(times, std::max(c.start_ms, 0));
        cursor = stpcpy(cursor, " - ");
        format_time_ms(cursor, std::max(c.end_ms, 0));
        std::string text = times;
        if (!c.title.empty())
            text += " / " + menu_plain_text(c.title.data(), c.title.size());
        MenuItem item = check_item(CMD_FIRST_CHAPTER + i, std::move(text), false);
        item.radio = true;
        chapters->items.push_back(std::move(item));
    }
}

void add_streams(PlayerContext* ctx, const MenuSource* source, std::vector<MenuItem>* top)
{
    int32_t refs = ctx->video_refs.load(std::memory_order_relaxed);
    int32_t video_index = ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_relaxed);
    for (const MenuStream& s : source->streams) {
        if (s.index < 0 || s.index >= RANGE_SIZE)
            continue;
        MenuItem* submenu = &(*top)[size_t(MENU_VIDEO + s.kind)];
        submenu->items.push_back(
            check_item(CMD_FIRST_STREAM + s.index, menu_stream_text(&s, s.index == video_index ? refs : s.refs), false));
    }
}

void add_subtitle_files(PlayerContext* ctx, MenuItem* subtitles)
{
    SubtitleState* subs = &ctx->subtitles;
    // The window thread itself appends dropped files; the media thread
    // empties the list when it closes the item.
    SpinGuard guard(&subs->subtitle_lock);
    uint32_t count = std::min<uint32_t>(subs->external_count.load(std::memory_order_relaxed), RANGE_SIZE);
    for (uint32_t i = 0; i < count; i++) {
        const char* path = subs->external_files[i];
        const char* slash = strrchr(path, '/');
        const char* name = slash ? slash + 1 : path;
        subtitles->items.push_back(
            check_item(CMD_FIRST_SUBTITLE_FILE + int32_t(i), menu_plain_text(name, strlen(name)), false));
    }
}

// ---- the options and the finishing pass ----

struct OptionItem {
    int32_t id;
    const char* text;
    std::atomic<int32_t> Settings::*option;
};

const OptionItem OPTION_ITEMS[] = {
    {CMD_ALWAYS_ON_TOP, "总在最前面", &Settings::always_on_top},
    {CMD_SHOW_TITLE, "显示标题信息\tTab", &Settings::show_title},
    {CMD_SHOW_PROGRESS, "始终显示播放进度", &Settings::show_progress},
    {CMD_SHOW_PLAY_INFO, "中间显示播放信息", &Settings::show_play_info},
    {CMD_SHOW_CLOCK, "全屏时显示系统时间", &Settings::show_clock},
    {CMD_HOTKEYS, "开启全局热键", &Settings::hotkeys_enabled},
    {CMD_COOL_MENU, "启用Cool菜单", &Settings::cool_menu},
    {CMD_BLOCK_SCREENSAVER, "播放视频时禁止屏保和睡眠", &Settings::block_screensaver},
    {CMD_TRIM_MEMORY, "自动清理内存<不推荐>", &Settings::trim_memory},
    {CMD_HW_DECODE, "开启硬件解码", &Settings::hw_decode},
};

void add_options(MenuItem* options)
{
    for (const OptionItem& o : OPTION_ITEMS)
        options->items.push_back(check_item(o.id, o.text, option_on(settings.*o.option)));
}

void finish(PlayerContext* ctx, std::vector<MenuItem>* top)
{
    for (int position = MENU_SETTINGS; position >= MENU_LIST; position--) {
        MenuItem* submenu = &(*top)[size_t(position)];
        if (position == MENU_SUBTITLES) {
            if (!submenu->items.empty()) {
                submenu->items.push_back(separator_item());
                submenu->items.push_back(command_item(CMD_COPY_SUBTITLE_TEXT, "复制当前字幕到剪贴板(&C)\tC"));
            }
            bool off = ctx->subtitle_choice.load(std::memory_order_relaxed) == -2;
            submenu->items.push_back(check_item(CMD_SUBTITLES_OFF, "禁用字幕", off));
            submenu->items.push_back(check_item(CMD_SUBS_OUTSIDE, "字幕可输出在画面外", option_on(settings.subs_outside)));
            submenu->items.push_back(
                check_item(CMD_STANDARD_SUB_STYLE, "使用标准字幕样式", option_on(settings.standard_sub_style)));
            continue;
        }
        if (submenu->items.empty()) {
            top->erase(top->begin() + position);
            continue;
        }
        if (position == MENU_VIDEO) {
            submenu->items.push_back(separator_item());
            submenu->items.push_back(command_item(CMD_COPY_PICTURE, "复制当前图像到剪贴板(&C)\tCtrl+C"));
            submenu->items.push_back(
                command_item(CMD_COPY_PICTURE_WITH_SUBTITLES, "复制当前图像(字幕)到剪贴板(&S)\tAlt+C"));
        }
    }
}

// ---- marks ----

struct MarkState {
    int32_t streams[SLOT_COUNT]; // stream indices in use, -1 for none
    int32_t subtitle_file;       // the external file in use, -1 for none
    bool subtitles_off;
    uint32_t current_entry;
    int32_t chapter; // the chapter that holds the position, -1 for none
};

MarkState current_marks(PlayerContext* ctx)
{
    MarkState m{};
    for (int kind = 0; kind < SLOT_COUNT; kind++)
        m.streams[kind] = ctx->slots[kind].stream_index.load(std::memory_order_relaxed);
    SubtitleState* subs = &ctx->subtitles;
    bool file_loaded = subs->sub_track.load(std::memory_order_acquire) != nullptr;
    m.subtitle_file = file_loaded ? subs->external_index.load(std::memory_order_relaxed) : -1;
    m.subtitles_off = ctx->subtitle_choice.load(std::memory_order_relaxed) == -2;
    m.current_entry = ctx->current_item.load(std::memory_order_relaxed);
    m.chapter = -1;
    int32_t clock = ctx->clock_ms.load(std::memory_order_relaxed);
    SpinGuard guard(&ctx->menu_source_lock);
    if (const MenuSource* source = ctx->menu_source) {
        for (size_t i = 0; i < source->chapters.size() && i < size_t(RANGE_SIZE); i++) {
            const MenuChapter& c = source->chapters[i];
            if (c.start_ms <= clock && clock < c.end_ms) {
                m.chapter = int32_t(i);
                break;
            }
        }
    }
    return m;
}

bool wanted_mark(const MarkState& m, int32_t id)
{
    for (const OptionItem& o : OPTION_ITEMS)
        if (o.id == id)
            return option_on(settings.*o.option);
    if (id == CMD_SAVE_PLAYLIST)
        return option_on(settings.save_playlist);
    if (id == CMD_SUBS_OUTSIDE)
        return option_on(settings.subs_outside);
    if (id == CMD_STANDARD_SUB_STYLE)
        return option_on(settings.standard_sub_style);
    if (id >= CMD_FIRST_ENTRY)
        return uint32_t(id - CMD_FIRST_ENTRY) == m.current_entry;
    if (id >= CMD_FIRST_CHAPTER)
        return id - CMD_FIRST_CHAPTER == m.chapter;
    if (id == CMD_SUBTITLES_OFF)
        return m.subtitles_off;
    if (id >= CMD_FIRST_SUBTITLE_FILE)
        return id - CMD_FIRST_SUBTITLE_FILE == m.subtitle_file;
    if (id >= CMD_FIRST_STREAM) {
        int32_t index = id - CMD_FIRST_STREAM;
        return index == m.streams[SLOT_VIDEO] || index == m.streams[SLOT_AUDIO] || index == m.streams[SLOT_SUBTITLE];
    }
    return false;
}

// Returns whether any item of the list carries a mark (a group is marked
// when the current entry lies in it).
bool sync_items(const MarkState& m, std::vector<MenuItem>* items)
{
    bool any = false;
    for (MenuItem& item : *items) {
        if (item.submenu) {
            bool inside = sync_items(m, &item.items);
            if (item.checkable)
                item.checked = inside;
        } else if (item.checkable) {
            item.checked = wanted_mark(m, item.id);
        }
        any = any || (item.checkable && item.checked);
    }
    return any;
}

} // namespace

void menu_sync_marks(PlayerContext* ctx, MenuTree* tree)
{
    sync_items(current_marks(ctx), &tree->items);
}

MenuTree* menu_build(PlayerContext* ctx)
{
    auto* tree = new MenuTree();
    std::vector<MenuItem>* top = &tree->items;
    for (const char* text : {"列表", "章节", "视频", "音频", "字幕", "设置"})
        top->push_back(submenu_item(text));
    add_entries(ctx, &(*top)[MENU_LIST]);
    bool item_open = false;
    {
        // The media thread replaces the description when it opens or
        // closes an item; it is read only while the lock is held.
        SpinGuard guard(&ctx->menu_source_lock);
        if (const MenuSource* source = ctx->menu_source) {
            item_open = true;
            add_chapters(source, &(*top)[MENU_CHAPTERS]);
            add_streams(ctx, source, top);
        }
    }
    if (item_open)
        add_subtitle_files(ctx, &(*top)[MENU_SUBTITLES]);
    add_options(&(*top)[MENU_SETTINGS]);
    top->push_back(command_item(CMD_EXIT, "退出(&X)"));
    finish(ctx, top);
    menu_sync_marks(ctx, tree);
    return tree;
}

MenuItem* menu_find(std::vector<MenuItem>* items, int32_t id)
{
    for (MenuItem& item : *items) {
        if (item.id == id && !item.separator && !item.submenu)
            return &item;
        if (item.submenu)
            if (MenuItem* found = menu_find(&item.items, id))
                return found;
    }
    return nullptr;
}

void menu_free(MenuTree* tree)
{
    if (!tree)
        return;
    if (tree->native)
        platform_menu_destroy(tree->native);
    delete tree;
}

void menu_free_cached(PlayerContext* ctx)
{
    if (auto* tree = static_cast<MenuTree*>(ctx->menu.exchange(nullptr, std::memory_order_acq_rel)))
        menu_free(tree);
}
