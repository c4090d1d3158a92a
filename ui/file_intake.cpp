// Files that arrive from outside while the player runs: dropped on the
// window, or handed over by another program's data message.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "core/core.h"
#include "playlist/playlist.h"
#include "subtitle/subtitle.h"
#include "ui/ui_internal.h"

namespace {

constexpr uint64_t COPY_DATA_APPEND = 0x6170;
constexpr uint64_t COPY_DATA_SET_TITLE = 0x7374;
constexpr uint64_t COPY_DATA_SET_PARAMS = 0x7370;
// A text longer than this could not be stored with the list (the settings
// file cuts values there) and a longer path could not be opened.
constexpr size_t ENTRY_TEXT_UNITS = 779;

PlayerContext* context_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

// Only what can be played or scanned: a file or a folder that exists. A
// named pipe or a device would block the player that opens it.
bool droppable(const char* path, bool* is_folder)
{
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0)
        return false;
    *is_folder = S_ISDIR(st.st_mode);
    return S_ISREG(st.st_mode) || *is_folder;
}

// The payload's text: up to its first zero byte, or all of it.
std::string payload_text(const CopyData* data)
{
    if (!data->payload || data->size == 0)
        return std::string();
    const void* zero = memchr(data->payload, 0, data->size);
    size_t length = zero ? size_t(static_cast<const uint8_t*>(zero) - data->payload) : data->size;
    return std::string(reinterpret_cast<const char*>(data->payload), length);
}

bool fits_an_entry(const std::string& text)
{
    // Every UTF-16 unit takes at least one byte: a longer text is too long
    // before it is counted.
    return text.size() <= ENTRY_TEXT_UNITS * 3 && utf16_units(text.data(), text.size()) <= ENTRY_TEXT_UNITS;
}

intptr_t append_entry(PlayerContext* ctx, const std::string& path)
{
    if (path.empty() || !fits_an_entry(path))
        return -1;
    // The next menu shown must list the new entry. One being shown stays
    // under the user's pointer and is built anew at its next showing.
    if (ctx->menu_depth.load(std::memory_order_acquire) == 0)
        cancel_menu(ctx);
    else
        ctx->menu_stale = true;
    if (!playlist_add_entry(ctx, path.c_str(), 0))
        return -1;
    return intptr_t(ctx->item_count.load(std::memory_order_relaxed)) - 1;
}

void set_entry_text(PlayerContext* ctx, uint64_t code, const std::string& text, bool title)
{
    uint32_t index = uint32_t(code & 0xFFFF);
    if (index >= ctx->item_count.load(std::memory_order_relaxed) || !fits_an_entry(text))
        return;
    if (title)
        playlist_set_title(ctx, index, text.c_str());
    else
        playlist_set_params(ctx, index, text.c_str());
}

} // namespace

void window_drop_files(MainWindow* w, const DroppedFiles* drop)
{
    PlayerContext* ctx = context_of(w);
    if (!drop || !drop->paths)
        return;
    int append_mode = drop->append_mode ? 1 : 0;
    uint32_t old_count = ctx->item_count.load(std::memory_order_relaxed);
    uint32_t old_subtitles = ctx->subtitles.external_count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < drop->count; i++) {
        const char* path = drop->paths[i];
        bool is_folder = false;
        if (!droppable(path, &is_folder))
            continue;
        if (!is_folder && playlist_name_matches(path, PLAYLIST_SUBTITLE_PATTERNS))
            add_external_file(&ctx->subtitles, path);
        else
            playlist_add_path(ctx, path, append_mode);
    }
    if (playlist_commit_added(ctx, append_mode, old_count))
        return;
    bool item_open = ctx->format.load(std::memory_order_acquire) != nullptr;
    if (item_open && ctx->subtitles.external_count.load(std::memory_order_acquire) > old_subtitles) {
        // The cached menu lists the old subtitle files.
        cancel_menu(ctx);
        ctx->track_switch_request.store(int32_t(2020 + old_subtitles), std::memory_order_release);
    }
}

intptr_t window_copy_data(MainWindow* w, const CopyData* data)
{
    PlayerContext* ctx = context_of(w);
    if (!data)
        return 0;
    // The index has 16 bits: the code's other bits must be exactly the tag.
    uint64_t tag = data->code >> 16;
    if (data->code == COPY_DATA_APPEND)
        return append_entry(ctx, payload_text(data));
    if (tag == COPY_DATA_SET_TITLE)
        set_entry_text(ctx, data->code, payload_text(data), true);
    else if (tag == COPY_DATA_SET_PARAMS)
        set_entry_text(ctx, data->code, payload_text(data), false);
    return 0;
}
