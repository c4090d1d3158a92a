// Files that arrive from outside while the player runs: dropped on the
// window, or handed over by another program's data message.
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
// A title or parameters longer than this could not be stored with the list
// (the settings file cuts them there).
constexpr size_t ENTRY_TEXT_UNITS = 779;

PlayerContext* context_of(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
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

// Appended as it is: a folder is not listed. The path is admitted like any
// other: a pipe, a device or a path too long to open is refused, with its
// notice; a file that is not there yet is kept (the sender may be making it),
// as the command line keeps one.
intptr_t append_entry(PlayerContext* ctx, const std::string& payload)
{
    PlaylistRefusals refused;
    std::string path;
    if (payload.empty() || playlist_admit(payload.c_str(), 1, &path, &refused) < 0) {
        playlist_refusals_notice(ctx, &refused);
        return -1;
    }
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
    IntakeRequest request;
    request.append_mode = drop->append_mode ? 1 : 0;
    request.after = INTAKE_THEN_SUBTITLES;
    request.old_subtitles = ctx->subtitles.external_count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < drop->count; i++) {
        const char* path = drop->paths[i];
        if (!path || !*path)
            continue;
        size_t before = request.paths.size();
        int kind = intake_admit(&request, path);
        // A subtitle file joins the item's subtitle list, not the playlist.
        if (kind == PLAYLIST_INTAKE_FILE && playlist_name_matches(path, PLAYLIST_SUBTITLE_PATTERNS)) {
            add_external_file(&ctx->subtitles, request.paths.back().c_str());
            request.paths.resize(before);
            request.is_folder.resize(before);
        }
    }
    intake_submit(w, std::move(request));
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
