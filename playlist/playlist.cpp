#include "playlist/playlist.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <x86intrin.h>

#include <cstdlib>
#include <cstring>
#include <set>
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

unsigned char ascii_lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Whole-string comparison that ignores ASCII letter case only, whatever the
// locale, as the wide C library comparison does in its default locale.
bool paths_equal_ignoring_case(const char* a, const char* b)
{
    for (;; a++, b++) {
        unsigned char x = ascii_lower(static_cast<unsigned char>(*a));
        if (x != ascii_lower(static_cast<unsigned char>(*b)))
            return false;
        if (x == 0)
            return true;
    }
}

uint32_t path_hash(const char* path)
{
    uint32_t h = 2166136261u; // FNV-1a over the lower-cased bytes
    for (const char* p = path; *p; p++)
        h = (h ^ ascii_lower(static_cast<unsigned char>(*p))) * 16777619u;
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
        if (paths_equal_ignoring_case(list->path_slots[i], path))
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

// --- folder scans ---

struct ScanState {
    PlayerContext* ctx;
    std::vector<std::string> patterns;
    int check_duplicates;
    // Folders entered by this scan (device, inode): a link back up the tree
    // or two links to one folder cannot make the scan loop or repeat.
    std::set<std::pair<dev_t, ino_t>> visited;
};

std::vector<std::string> split_patterns(const char* patterns)
{
    std::vector<std::string> out;
    const char* p = patterns;
    while (*p) {
        const char* end = strchr(p, ';');
        size_t n = end ? size_t(end - p) : strlen(p);
        if (n > 0)
            out.emplace_back(p, n);
        p += n + (end ? 1 : 0);
    }
    return out;
}

bool matches_any(const std::vector<std::string>& patterns, const char* name)
{
    for (const std::string& pattern : patterns) {
        if (fnmatch(pattern.c_str(), name, FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

std::string join_path(const char* folder, const char* name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

uint32_t scan(ScanState* state, const char* folder)
{
    DIR* dir = opendir(folder);
    if (!dir)
        return 0;
    struct stat st;
    if (fstat(dirfd(dir), &st) != 0 || !state->visited.insert({st.st_dev, st.st_ino}).second) {
        closedir(dir);
        return 0;
    }
    uint32_t count = 0;
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && entry->d_type == DT_DIR)
            continue;
        std::string path = join_path(folder, name);
        // Links and file systems that give no type are asked once more.
        mode_t mode = entry->d_type == DT_DIR ? S_IFDIR : entry->d_type == DT_REG ? S_IFREG : 0;
        if (mode == 0) {
            if (stat(path.c_str(), &st) != 0)
                continue;
            mode = st.st_mode;
        }
        if (S_ISDIR(mode)) {
            if (name[0] != '.')
                count += scan(state, path.c_str());
        } else if (S_ISREG(mode) && matches_any(state->patterns, name)) {
            playlist_add_entry(state->ctx, path.c_str(), state->check_duplicates);
            count++;
        }
    }
    closedir(dir);
    return count;
}

uint32_t count_of(PlayerContext* ctx)
{
    return ctx->item_count.load(std::memory_order_relaxed);
}

} // namespace

int playlist_name_matches(const char* name, const char* patterns)
{
    const char* slash = strrchr(name, '/');
    return matches_any(split_patterns(patterns), slash ? slash + 1 : name) ? 1 : 0;
}

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

uint32_t playlist_add_path(PlayerContext* ctx, const char* path, int check_duplicates)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode))
    {
        playlist_add_entry(ctx, path, check_duplicates);
        return 1;
    }
    uint32_t met = playlist_scan_folder(ctx, path, PLAYLIST_VIDEO_PATTERNS, check_duplicates);
    met += playlist_scan_folder(ctx, path, PLAYLIST_AUDIO_PATTERNS, check_duplicates);
    // Pictures only come from folders without any video or sound.
    if (met == 0)
        met = playlist_scan_folder(ctx, path, PLAYLIST_IMAGE_PATTERNS, check_duplicates);
    return met;
}

uint32_t playlist_scan_folder(PlayerContext* ctx, const char* folder, const char* patterns, int check_duplicates)
{
    ScanState state{ctx, split_patterns(patterns), check_duplicates, {}};
    return scan(&state, folder);
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
