// Loading and saving the settings file: UTF-16LE with the mark FF FE, CR LF
// line ends, "[Moravista]" first, then key=value lines.
#include "settings/settings.h"

#include <fcntl.h>
#include <limits.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "decode/decode.h"
#include "playlist/playlist.h"
#include "settings/settings_internal.h"

Settings settings;

namespace {

// The on/off options in the order they are written.
struct OptionKey {
    const char* key;
    std::atomic<int32_t> Settings::*field;
    int32_t def;
};
const OptionKey FIRST_OPTIONS[] = {
    {"总在最前", &Settings::always_on_top, 0},    {"标题信息", &Settings::show_title, 0},
    {"显示进度", &Settings::show_progress, 1},    {"播放信息", &Settings::show_play_info, 1},
    {"系统时间", &Settings::show_clock, 1},       {"开启热键", &Settings::hotkeys_enabled, 0},
    {"COOL菜单", &Settings::cool_menu, 1},        {"禁止屏保", &Settings::block_screensaver, 1},
    {"清理内存", &Settings::trim_memory, 0},      {"硬解", &Settings::hw_decode, 1},
};
const OptionKey SUBTITLE_OPTIONS[] = {
    {"画面外字幕", &Settings::subs_outside, 0},
    {"字幕样式", &Settings::standard_sub_style, 0},
};
const char KEY_VOLUME[] = "音量";
const char KEY_SAVE_PLAYLIST[] = "保存列表";
const char KEY_VIDEO_TRACK[] = "视频轨道";
const char KEY_AUDIO_TRACK[] = "音频轨道";
const char KEY_SUBTITLE_TRACK[] = "字幕轨道";
const char KEY_CURRENT_ITEM[] = "当前播放";
const char KEY_CURRENT_TIME[] = "当前时间";
const char KEY_PLAYING[] = "播放中";
const char KEY_LIST_COUNT[] = "列表数";
const char KEY_TITLE_SUFFIX[] = "_标题";
const char KEY_PARAMS_SUFFIX[] = "_参数";
constexpr int32_t DEFAULT_VOLUME = 110;
constexpr int32_t DEFAULT_WIDTH = 960;
constexpr int32_t DEFAULT_HEIGHT = 540;
// The 28-byte block that opens the file: the mark and the first line.
const char16_t FILE_HEADER[] = u"\uFEFF[Moravista]\r\n";
static_assert(sizeof(FILE_HEADER) - sizeof(char16_t) == 28, "the header block is 28 bytes");

std::atomic<const SettingsHooks*> installed_hooks{nullptr};
std::string path_override;
bool path_overridden = false;
bool disabled = false;
SettingsRect chosen_rect{};

const SettingsHooks* hooks()
{
    static const SettingsHooks none{};
    const SettingsHooks* h = installed_hooks.load(std::memory_order_acquire);
    return h ? h : &none;
}

std::string executable_path()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, size_t(n));
}

// --- loading ---

SettingsRect work_area(PlayerContext* ctx)
{
    SettingsRect area{0, 0, 1920, 1080};
    if (auto fn = hooks()->get_work_area)
        fn(ctx, &area);
    return area;
}

// Fits the rectangle into the work area: first no larger than it, then
// shifted inside, the right and bottom edges winning.
void fit_to_work_area(SettingsRect* r, const SettingsRect& w)
{
    if (int64_t(r->right) - r->left > int64_t(w.right) - w.left)
        r->right = int32_t(r->left + (int64_t(w.right) - w.left));
    if (int64_t(r->bottom) - r->top > int64_t(w.bottom) - w.top)
        r->bottom = int32_t(r->top + (int64_t(w.bottom) - w.top));
    // Shifts are taken in 64 bits: a saved edge may lie anywhere.
    int64_t dx = r->right > w.right ? int64_t(w.right) - r->right : r->left < w.left ? int64_t(w.left) - r->left : 0;
    int64_t dy = r->bottom > w.bottom ? int64_t(w.bottom) - r->bottom : r->top < w.top ? int64_t(w.top) - r->top : 0;
    r->left = int32_t(r->left + dx);
    r->right = int32_t(r->right + dx);
    r->top = int32_t(r->top + dy);
    r->bottom = int32_t(r->bottom + dy);
}

SettingsRect load_window_rect(PlayerContext* ctx, const SettingsFile* file)
{
    SettingsRect area = work_area(ctx);
    SettingsRect rect;
    rect.left = area.left + (area.right - area.left - DEFAULT_WIDTH) / 2;
    rect.top = area.top + (area.bottom - area.top - DEFAULT_HEIGHT) / 2;
    rect.right = rect.left + DEFAULT_WIDTH;
    rect.bottom = rect.top + DEFAULT_HEIGHT;
    SettingsRect saved{settings_get_int(file, "left", 0), settings_get_int(file, "top", 0),
                       settings_get_int(file, "right", 0), settings_get_int(file, "bottom", 0)};
    // Far-apart values cannot overflow the width: it is taken in 64 bits.
    if (int64_t(saved.right) - saved.left >= 100 && int64_t(saved.bottom) - saved.top >= 100) {
        fit_to_work_area(&saved, area);
        rect = saved;
    }
    return rect;
}

void load_options(const SettingsFile* file, const OptionKey* keys, size_t count)
{
    for (size_t i = 0; i < count; i++)
        (settings.*(keys[i].field)).store(settings_get_int(file, keys[i].key, keys[i].def), std::memory_order_relaxed);
}

std::string numbered_key(int32_t index, const char* suffix)
{
    char key[32];
    snprintf(key, sizeof key, "%d%s", index, suffix);
    return key;
}

// Appends the saved entries. A missing or empty entry key is skipped
// without shifting the later ones, which keep their own numbered keys.
// Each path is admitted like any other: a pipe or a device saved there, or
// a path too long to open, is left out, and one notice says so. A file on a
// disk not mounted now keeps its entry.
void load_entries(PlayerContext* ctx, const SettingsFile* file, int32_t count)
{
    std::vector<SettingsSavedEntry> entries;
    settings_file_saved_entries(file, count, &entries);
    PlaylistRefusals refused;
    std::string path;
    for (const SettingsSavedEntry& e : entries) {
        if (playlist_admit(e.path.c_str(), 1, &path, &refused) < 0 || !playlist_add_entry(ctx, path.c_str(), 0))
            continue;
        uint32_t index = ctx->item_count.load(std::memory_order_relaxed) - 1;
        playlist_set_params(ctx, index, e.params.c_str());
        playlist_set_title(ctx, index, e.title.c_str());
    }
    playlist_refusals_notice(ctx, &refused);
}

struct PlaybackState {
    int32_t current;
    int32_t start_ms;
    int32_t play;
};

PlaybackState load_playback_state(PlayerContext* ctx, const SettingsFile* file)
{
    PlaybackState state{0, 0, 1};
    if (ctx->item_count.load(std::memory_order_relaxed) != 0 ||
        settings.save_playlist.load(std::memory_order_relaxed) == 0)
        return state;
    ctx->video_choice.store(settings_get_int(file, KEY_VIDEO_TRACK, -1), std::memory_order_relaxed);
    ctx->audio_choice.store(settings_get_int(file, KEY_AUDIO_TRACK, -1), std::memory_order_relaxed);
    ctx->subtitle_choice.store(settings_get_int(file, KEY_SUBTITLE_TRACK, -1), std::memory_order_relaxed);
    state.current = settings_get_int(file, KEY_CURRENT_ITEM, 0);
    ctx->current_item.store(uint32_t(state.current), std::memory_order_relaxed);
    state.start_ms = settings_get_int(file, KEY_CURRENT_TIME, 0);
    state.play = settings_get_int(file, KEY_PLAYING, 1);
    load_entries(ctx, file, settings_get_int(file, KEY_LIST_COUNT, 0));
    return state;
}

// --- saving ---

void append_units(std::string* out, const char16_t* units, size_t count)
{
    size_t at = out->size();
    out->resize(at + count * 2);
    for (size_t i = 0; i < count; i++) {
        (*out)[at + 2 * i] = char(units[i] & 0xFF);
        (*out)[at + 2 * i + 1] = char(units[i] >> 8);
    }
}

void append_utf8(std::string* out, const char* text, size_t length, std::u16string* scratch)
{
    settings_utf8_to_utf16(text, length, scratch);
    append_units(out, scratch->data(), scratch->size());
}

void write_int_line(std::string* out, const char* key, int32_t value, int32_t def)
{
    if (value == def)
        return;
    char line[128];
    int n = snprintf(line, sizeof line, "%s=%d\r\n", key, value);
    std::u16string scratch;
    append_utf8(out, line, size_t(n), &scratch);
}

void write_text_line(std::string* out, const std::string& key, const std::string& text, std::u16string* scratch)
{
    std::string line = key + "=" + text + "\r\n";
    append_utf8(out, line.data(), line.size(), scratch);
}

// A path keeps every byte: a line break in a file name travels as the
// lone surrogate that stands for that byte, as other non-UTF-8 bytes do.
void write_path_line(std::string* out, const std::string& key, const char* path, std::u16string* scratch)
{
    std::string start = key + "=";
    append_utf8(out, start.data(), start.size(), scratch);
    settings_utf8_to_utf16(path, strlen(path), scratch);
    for (char16_t& unit : *scratch) {
        if (unit == u'\r' || unit == u'\n')
            unit = char16_t(0xDC00 | unit);
    }
    append_units(out, scratch->data(), scratch->size());
    append_units(out, u"\r\n", 2);
}

// A title shows on one line anyway: each line break becomes one space.
std::string title_on_one_line(const char* title)
{
    std::string out;
    for (const char* p = title; *p; p++) {
        if (*p == '\r' || *p == '\n') {
            if (*p == '\r' && p[1] == '\n')
                p++;
            out += ' ';
        } else {
            out += *p;
        }
    }
    return out;
}

// Parameters take the escapes of their own form, which give the same
// characters back when the entry is opened.
std::string params_on_one_line(const char* params)
{
    std::string out;
    for (const char* p = params; *p; p++) {
        if (*p == '\r')
            out += "\\r";
        else if (*p == '\n')
            out += "\\n";
        else
            out += *p;
    }
    return out;
}

void write_playlist_entries(std::string* out, PlayerContext* ctx)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    std::u16string scratch;
    for (uint32_t i = 0; i < count; i++) {
        const PlaylistEntry& entry = ctx->playlist.items[i];
        write_path_line(out, numbered_key(int32_t(i), ""), entry.path, &scratch);
        if (entry.title)
            write_text_line(out, numbered_key(int32_t(i), KEY_TITLE_SUFFIX), title_on_one_line(entry.title), &scratch);
        if (entry.params)
            write_text_line(out, numbered_key(int32_t(i), KEY_PARAMS_SUFFIX), params_on_one_line(entry.params),
                            &scratch);
    }
}

size_t add_value(SettingsValue* out, size_t capacity, size_t n, const char* key, int32_t value, int32_t def)
{
    if (n < capacity)
        out[n] = SettingsValue{key, value, def};
    return n + 1;
}

size_t playback_values(PlayerContext* ctx, SettingsValue* out, size_t capacity, size_t n)
{
    n = add_value(out, capacity, n, KEY_VIDEO_TRACK, ctx->video_choice.load(std::memory_order_relaxed), -1);
    n = add_value(out, capacity, n, KEY_AUDIO_TRACK, ctx->audio_choice.load(std::memory_order_relaxed), -1);
    n = add_value(out, capacity, n, KEY_SUBTITLE_TRACK, ctx->subtitle_choice.load(std::memory_order_relaxed), -1);
    n = add_value(out, capacity, n, KEY_CURRENT_ITEM, int32_t(ctx->current_item.load(std::memory_order_relaxed)), 0);
    n = add_value(out, capacity, n, KEY_CURRENT_TIME, ctx->clock_ms.load(std::memory_order_relaxed), 0);
    bool item_open = ctx->format.load(std::memory_order_acquire) != nullptr;
    n = add_value(out, capacity, n, KEY_PLAYING, item_open ? ctx->playing.load(std::memory_order_relaxed) : -1, 1);
    return add_value(out, capacity, n, KEY_LIST_COUNT, int32_t(ctx->item_count.load(std::memory_order_relaxed)), 0);
}

std::string file_text(PlayerContext* ctx)
{
    std::string out;
    append_units(&out, FILE_HEADER, 14);
    SettingsValue values[SETTINGS_VALUE_COUNT];
    size_t count = settings_values(ctx, values, SETTINGS_VALUE_COUNT);
    for (size_t i = 0; i < count && i < SETTINGS_VALUE_COUNT; i++)
        write_int_line(&out, values[i].key, values[i].value, values[i].def);
    if (settings.save_playlist.load(std::memory_order_relaxed) != 0)
        write_playlist_entries(&out, ctx);
    return out;
}

// Creates the folders above path (the configuration folder may not exist).
void make_parent_folders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

bool write_all(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Writes the complete text beside the target, flushes it to disk and only
// then renames it over the target: a crash, a kill or a full disk at any
// point leaves either the old file or the new one, never a part of either.
bool replace_file(const std::string& path, const std::string& bytes)
{
    std::string target = path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved))
        target = resolved; // a linked settings file stays linked
    make_parent_folders(target);
    struct stat old;
    bool had_old = stat(target.c_str(), &old) == 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
        temp = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = write_all(fd, bytes);
    if (ok && had_old)
        fchmod(fd, old.st_mode & 07777);
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

} // namespace

void settings_reset(Settings* s)
{
    for (const OptionKey& o : FIRST_OPTIONS)
        (s->*(o.field)).store(o.def, std::memory_order_relaxed);
    for (const OptionKey& o : SUBTITLE_OPTIONS)
        (s->*(o.field)).store(o.def, std::memory_order_relaxed);
    s->save_playlist.store(1, std::memory_order_relaxed);
}

void settings_set_hooks(const SettingsHooks* h)
{
    installed_hooks.store(h, std::memory_order_release);
}

void settings_set_path(const char* path)
{
    path_overridden = path != nullptr;
    path_override = path ? path : "";
    disabled = false;
}

void settings_disable()
{
    disabled = true;
}

std::string settings_default_path(const char* executable_path, const char* config_home, const char* home)
{
    std::string exe = executable_path ? executable_path : "";
    size_t slash = exe.rfind('/');
    if (slash != std::string::npos && slash + 1 < exe.size()) {
        std::string folder = slash == 0 ? "/" : exe.substr(0, slash);
        std::string base = exe.substr(slash + 1);
        size_t dot = base.rfind('.');
        if (dot != std::string::npos && dot > 0)
            base.resize(dot);
        std::string beside = exe.substr(0, slash + 1) + base + ".ini";
        // Portable use: the file beside the program, but only where this
        // user can write it (the save replaces it through the folder).
        // Another user's file there would be read and never saved. A program
        // installed among the system's own is never portable, even for root,
        // who could write there.
        bool system_folder = exe.rfind("/usr/", 0) == 0 || exe.rfind("/bin/", 0) == 0 || exe.rfind("/sbin/", 0) == 0;
        bool file_ours = faccessat(AT_FDCWD, beside.c_str(), F_OK, AT_EACCESS) != 0 ||
                         faccessat(AT_FDCWD, beside.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
        if (!system_folder && file_ours && faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
            return beside;
    }
    if (config_home && config_home[0] == '/')
        return std::string(config_home) + "/moravista/moravista.ini";
    if (home && home[0] == '/')
        return std::string(home) + "/.config/moravista/moravista.ini";
    return std::string();
}

std::string settings_path()
{
    if (disabled)
        return std::string();
    if (path_overridden)
        return path_override;
    static const std::string default_path =
        settings_default_path(executable_path().c_str(), getenv("XDG_CONFIG_HOME"), getenv("HOME"));
    return default_path;
}

size_t settings_values(PlayerContext* ctx, SettingsValue* out, size_t capacity)
{
    size_t n = 0;
    for (const OptionKey& o : FIRST_OPTIONS)
        n = add_value(out, capacity, n, o.key, (settings.*(o.field)).load(std::memory_order_relaxed), o.def);
    SettingsRect rect = chosen_rect;
    if (auto fn = hooks()->get_window_rect)
        fn(ctx, &rect);
    n = add_value(out, capacity, n, "left", rect.left, 0);
    n = add_value(out, capacity, n, "right", rect.right, 0);
    n = add_value(out, capacity, n, "top", rect.top, 0);
    n = add_value(out, capacity, n, "bottom", rect.bottom, 0);
    for (const OptionKey& o : SUBTITLE_OPTIONS)
        n = add_value(out, capacity, n, o.key, (settings.*(o.field)).load(std::memory_order_relaxed), o.def);
    n = add_value(out, capacity, n, KEY_VOLUME, int32_t(ctx->audio.volume.load(std::memory_order_relaxed)),
                  DEFAULT_VOLUME);
    n = add_value(out, capacity, n, KEY_SAVE_PLAYLIST, settings.save_playlist.load(std::memory_order_relaxed), 1);
    if (settings.save_playlist.load(std::memory_order_relaxed) != 0)
        n = playback_values(ctx, out, capacity, n);
    return n;
}

SettingsRect settings_window_rect()
{
    return chosen_rect;
}

void settings_load(PlayerContext* ctx)
{
    const SettingsHooks* h = hooks();
    std::string path = settings_path();
    SettingsFile* file = path.empty() ? nullptr : settings_file_read(path.c_str());
    if (settings_get_int(file, FIRST_OPTIONS[0].key, 0) != 0) {
        settings.always_on_top.store(1, std::memory_order_relaxed);
        if (h->apply_always_on_top)
            h->apply_always_on_top(ctx);
    }
    load_options(file, FIRST_OPTIONS + 1, 4);
    load_options(file, FIRST_OPTIONS + 5, 1);
    if (settings.hotkeys_enabled.load(std::memory_order_relaxed) != 0 && h->register_hotkeys)
        h->register_hotkeys(ctx);
    load_options(file, FIRST_OPTIONS + 6, 4);
    chosen_rect = load_window_rect(ctx, file);
    load_options(file, SUBTITLE_OPTIONS, 2);
    int32_t volume = settings_get_int(file, KEY_VOLUME, DEFAULT_VOLUME);
    if (uint32_t(volume) <= 300) // negative values fail as large unsigned ones
        audio_set_volume(&ctx->audio, uint32_t(volume));
    settings.save_playlist.store(settings_get_int(file, KEY_SAVE_PLAYLIST, 1), std::memory_order_relaxed);
    PlaybackState state = load_playback_state(ctx, file);
    settings_file_free(file);
    if (settings.cool_menu.load(std::memory_order_relaxed) != 0 && h->install_cool_menu)
        h->install_cool_menu(ctx);
    // A play state of -1: nothing was open at exit, so nothing opens now.
    if (state.play >= 0)
        playlist_open_request(ctx, state.current, state.play > 0 ? 1 : 0, state.start_ms);
    if (h->place_window)
        h->place_window(ctx, &chosen_rect);
    if (settings.trim_memory.load(std::memory_order_relaxed) != 0)
        malloc_trim(0);
}

int settings_save(PlayerContext* ctx)
{
    std::string path = settings_path();
    if (path.empty())
        return 0;
    return replace_file(path, file_text(ctx)) ? 1 : 0;
}
