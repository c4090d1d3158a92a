#include "playlist/playlist.h"

#include <x86intrin.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"

const char PLAYLIST_VIDEO_PATTERNS[] =
    "*.asf;*.avi;*.avs;*.f4v;*.flv;*.m4v;*.mov;*.mp4;*.mkv;*.mpg;*.rm;*.rmvb;*.swf;*.vob;*.webm;*.wmv;*.3gp;*.ts";
const char PLAYLIST_AUDIO_PATTERNS[] =
    "*.aac;*.ac3;*.ape;*.dts;*.flac;*.mod;*.mpa;*.mp2;*.mp3;*.mka;*.ogg;*.opus;*.ra;*.tta;*.wav;*.wma";
const char PLAYLIST_IMAGE_PATTERNS[] = "*.bmp;*.gif;*.jpg;*.jpeg;*.pcx;*.png;*.tga;*.tif;*.tiff";
const char PLAYLIST_SUBTITLE_PATTERNS[] = "*.ass;*.ssa;*.srt;*.lrc";

namespace {

// --- duplicate check index ---

// File names on this system are case-sensitive: A.mkv and a.mkv are two
// files, so paths are compared byte for byte.
uint32_t path_hash(const char* path)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (const char* p = path; *p; p++)
        h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    // The low bits pick the slot, and FNV leaves them poorly mixed: paths
    // that differ in a digit or two would crowd into neighbouring slots.
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    return h ^ (h >> 16);
}

void index_insert(Playlist* list, char* path)
{
    uint32_t mask = list->path_slot_count - 1;
    for (uint32_t i = path_hash(path) & mask;; i = (i + 1) & mask) {
        if (!list->path_slots[i]) {
            list->path_slots[i] = path;
            list->path_slots_used++;
            return;
        }
    }
}

// Makes room for one more path; false when out of memory.
bool index_reserve(Playlist* list, uint32_t count)
{
    // At most half full, so probes stay short.
    if (list->path_slots && (uint64_t(list->path_slots_used) + 1) * 2 <= list->path_slot_count)
        return true;
    uint64_t size = 64;
    while (size < (uint64_t(count) + 1) * 2)
        size *= 2;
    if (size > 0x80000000u)
        return false;
    char** slots = static_cast<char**>(calloc(size, sizeof(char*)));
    if (!slots)
        return false;
    free(list->path_slots);
    list->path_slots = slots;
    list->path_slot_count = uint32_t(size);
    list->path_slots_used = 0;
    for (uint32_t i = 0; i < count; i++)
        index_insert(list, list->items[i].path);
    return true;
}

bool index_contains(const Playlist* list, const char* path)
{
    if (!list->path_slots)
        return false;
    uint32_t mask = list->path_slot_count - 1;
    for (uint32_t i = path_hash(path) & mask; list->path_slots[i]; i = (i + 1) & mask) {
        if (strcmp(list->path_slots[i], path) == 0)
            return true;
    }
    return false;
}

void index_rebuild(Playlist* list, uint32_t count)
{
    free(list->path_slots);
    list->path_slots = nullptr;
    list->path_slot_count = list->path_slots_used = 0;
    // Out of memory leaves no index; the next addition tries again.
    if (count > 0)
        index_reserve(list, count);
}

// Grows the entry array for one more entry. The array grows by half its
// size (at least 11 slots), so a list of 100 000 entries is not copied
// thousands of times.
bool reserve_entry(Playlist* list, uint32_t count)
{
    if (count < list->item_capacity)
        return true;
    uint64_t capacity = uint64_t(count) + 11;
    if (capacity < uint64_t(count) + count / 2)
        capacity = uint64_t(count) + count / 2;
    if (capacity > 0xFFFFFFFEu)
        return false;
    void* grown = realloc(list->items, capacity * sizeof(PlaylistEntry));
    if (!grown)
        return false;
    list->items = static_cast<PlaylistEntry*>(grown);
    list->item_capacity = uint32_t(capacity);
    return true;
}

void free_entry(PlaylistEntry* entry)
{
    free(entry->path);
    free(entry->title);
    free(entry->params);
    *entry = PlaylistEntry{};
}

bool set_text(char** field, const char* text)
{
    char* copy = nullptr;
    if (text && *text) {
        copy = strdup(text);
        if (!copy)
            return false;
    }
    free(*field);
    *field = copy;
    return true;
}

uint32_t count_of(PlayerContext* ctx)
{
    return ctx->item_count.load(std::memory_order_relaxed);
}

} // namespace

int playlist_add_entry(PlayerContext* ctx, const char* path, int check_duplicates)
{
    Playlist* list = &ctx->playlist;
    uint32_t count = count_of(ctx);
    if (!path || (check_duplicates && index_contains(list, path)))
        return 0;
    if (!reserve_entry(list, count) || !index_reserve(list, count))
        return 0;
    char* copy = strdup(path);
    if (!copy)
        return 0;
    list->items[count] = PlaylistEntry{copy, nullptr, nullptr};
    index_insert(list, copy);
    ctx->item_count.store(count + 1, std::memory_order_relaxed);
    return 1;
}

int playlist_commit_added(PlayerContext* ctx, int append_mode, uint32_t old_count)
{
    Playlist* list = &ctx->playlist;
    uint32_t count = count_of(ctx);
    if (count <= old_count)
        return 0;
    if (append_mode) {
        show_notice(ctx, " 已添加%d个文件到播放列表! ", int(count - old_count));
        cancel_menu(ctx);
        return 1;
    }
    ctx->video_choice.store(-1, std::memory_order_relaxed);
    ctx->audio_choice.store(-1, std::memory_order_relaxed);
    if (ctx->subtitle_choice.load(std::memory_order_relaxed) != -2)
        ctx->subtitle_choice.store(-1, std::memory_order_relaxed);
    for (uint32_t i = 0; i < old_count; i++)
        free_entry(&list->items[i]);
    memmove(list->items, list->items + old_count, size_t(count - old_count) * sizeof(PlaylistEntry));
    ctx->item_count.store(count - old_count, std::memory_order_relaxed);
    index_rebuild(list, count - old_count);
    // The cached menu lists the entries that are gone.
    cancel_menu(ctx);
    playlist_open_request(ctx, 0, 1, -1);
    return 1;
}

uint32_t playlist_commit_batch(PlayerContext* ctx, const std::vector<std::string>& paths, int append_mode)
{
    uint32_t old_count = count_of(ctx);
    for (const std::string& path : paths)
        playlist_add_entry(ctx, path.c_str(), append_mode);
    uint32_t added = count_of(ctx) - old_count;
    playlist_commit_added(ctx, append_mode, old_count);
    return added;
}

int playlist_set_title(PlayerContext* ctx, uint32_t index, const char* title)
{
    if (index >= count_of(ctx))
        return 0;
    return set_text(&ctx->playlist.items[index].title, title) ? 1 : 0;
}

int playlist_set_params(PlayerContext* ctx, uint32_t index, const char* params)
{
    if (index >= count_of(ctx))
        return 0;
    return set_text(&ctx->playlist.items[index].params, params) ? 1 : 0;
}

const char* playlist_display_name(const PlaylistEntry* entry)
{
    return entry->title ? entry->title : entry->path;
}

void playlist_free(PlayerContext* ctx)
{
    Playlist* list = &ctx->playlist;
    uint32_t count = count_of(ctx);
    for (uint32_t i = 0; i < count; i++)
        free_entry(&list->items[i]);
    free(list->items);
    free(list->path_slots);
    *list = Playlist{};
    ctx->item_count.store(0, std::memory_order_relaxed);
    ctx->current_item.store(0, std::memory_order_relaxed);
}

void playlist_shuffle(PlayerContext* ctx)
{
    Playlist* list = &ctx->playlist;
    uint32_t count = count_of(ctx);
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    // The time-stamp counter is the random source: no seeded generator, so
    // two shuffles in a row never repeat each other.
    for (uint32_t i = 0; i < count; i++) {
        uint32_t r = uint32_t(__rdtsc()) % count;
        if (i == current)
            current = r;
        else if (r == current)
            current = i;
        std::swap(list->items[i], list->items[r]);
    }
    ctx->current_item.store(current, std::memory_order_relaxed);
    show_notice(ctx, " 列表已被打乱! ");
    cancel_menu(ctx);
}

void playlist_open_request(PlayerContext* ctx, int32_t index, int32_t play, int32_t start_ms)
{
    ctx->open_request.store(1, std::memory_order_relaxed);
    ctx->open_play.store(play, std::memory_order_relaxed);
    ctx->open_start_ms.store(start_ms, std::memory_order_relaxed);
    // The trigger goes last: the media thread exchanges it with acquire
    // ordering and then reads the fields above.
    ctx->open_index.store(index, std::memory_order_release);
}

void playlist_request_stop(PlayerContext* ctx)
{
    ctx->open_index.store(OPEN_INDEX_STOP, std::memory_order_release);
}

int playlist_next(PlayerContext* ctx)
{
    uint32_t count = count_of(ctx);
    if (count < 2)
        return 0;
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    uint32_t next = current + 1 >= count ? 0 : current + 1;
    playlist_open_request(ctx, int32_t(next), 1, -1);
    return 1;
}

int playlist_previous(PlayerContext* ctx)
{
    uint32_t count = count_of(ctx);
    if (count < 2)
        return 0;
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    // A current index left beyond the end (a restored list that came back
    // shorter) steps to the last entry rather than asking for a stop.
    uint32_t previous = (current == 0 || current > count) ? count - 1 : current - 1;
    playlist_open_request(ctx, int32_t(previous), 1, -1);
    return 1;
}

int playlist_play_idle(PlayerContext* ctx)
{
    uint32_t count = count_of(ctx);
    if (count == 0)
        return 0;
    uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
    playlist_open_request(ctx, current < count ? int32_t(current) : 0, 1, -1);
    return 1;
}
