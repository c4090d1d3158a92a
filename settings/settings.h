// The settings file: the on/off options, the window rectangle, the volume
// and, optionally, the whole playlist with the playback state. Read once
// while the window is created, written once at exit; window thread only.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct PlayerContext;

// The thirteen on/off options. One process-wide instance, owned by the
// window thread; other threads read the fields relaxed.
struct Settings {
    std::atomic<int32_t> always_on_top{0};      // "总在最前"
    std::atomic<int32_t> show_title{0};         // "标题信息"
    std::atomic<int32_t> show_progress{1};      // "显示进度"
    std::atomic<int32_t> show_play_info{1};     // "播放信息"
    std::atomic<int32_t> show_clock{1};         // "系统时间"
    std::atomic<int32_t> hotkeys_enabled{0};    // "开启热键"
    std::atomic<int32_t> cool_menu{1};          // "COOL菜单"
    std::atomic<int32_t> block_screensaver{1};  // "禁止屏保"
    std::atomic<int32_t> trim_memory{0};        // "清理内存"
    std::atomic<int32_t> hw_decode{1};          // "硬解"
    std::atomic<int32_t> subs_outside{0};       // "画面外字幕"
    std::atomic<int32_t> standard_sub_style{0}; // "字幕样式"
    std::atomic<int32_t> save_playlist{1};      // "保存列表"
};
extern Settings settings;

// Puts every option back to its default (tests; the program loads once).
void settings_reset(Settings* s);

struct SettingsRect {
    int32_t left, top, right, bottom;
};

// Steps of loading and saving that need the desktop. Each may be null: the
// step is then skipped (or, where noted, answered without the desktop).
struct SettingsHooks {
    // The work area of the screen; null: a 1920 x 1080 screen at 0, 0.
    void (*get_work_area)(PlayerContext* ctx, SettingsRect* area);
    // "总在最前" was on: the always-on-top command in its silent form.
    void (*apply_always_on_top)(PlayerContext* ctx);
    // "开启热键" was on: register the global hot keys.
    void (*register_hotkeys)(PlayerContext* ctx);
    // "COOL菜单" is on: install the custom menu drawing.
    void (*install_cool_menu)(PlayerContext* ctx);
    // Move the window to the chosen rectangle and show it.
    void (*place_window)(PlayerContext* ctx, const SettingsRect* rect);
    // At exit: the window's normal rectangle (in full screen or the work-area
    // mode, the one it had before). Null: the rectangle chosen at loading.
    void (*get_window_rect)(PlayerContext* ctx, SettingsRect* rect);
};
// Installed once before settings_load.
void settings_set_hooks(const SettingsHooks* hooks);

// Where the file lives. By default the executable's folder holds
// "<base name>.ini" when that file exists or the folder is writable (portable
// use); otherwise $XDG_CONFIG_HOME/moravista/moravista.ini (~/.config when
// unset). settings_set_path overrides that; null goes back to the default.
void settings_set_path(const char* path);
// Neither read nor write any file from now on (--no-settings): loading
// gives every default and saving writes nothing.
void settings_disable();
// The path in use; empty when disabled or when no location can be found.
std::string settings_path();
// The default location rule on its own, for the given executable path,
// $XDG_CONFIG_HOME (may be null or empty) and $HOME (may be null).
std::string settings_default_path(const char* executable_path, const char* config_home, const char* home);

// Reads the file once and applies it: options, window rectangle, volume and,
// when the list is still empty and saving is on, the saved playlist with its
// playback state; then posts the open request and places the window.
void settings_load(PlayerContext* ctx);
// Writes the whole file at exit. The text goes to a temporary file in the
// same folder, is flushed to disk and then renamed over the old file, so a
// failure at any point leaves the old file as it was. Returns 1 when the
// file was written, 0 when not (the caller exits all the same).
int settings_save(PlayerContext* ctx);
// One number of the settings file as it would be saved now, with the
// default that keeps it out of the file.
struct SettingsValue {
    const char* key;
    int32_t value;
    int32_t def;
};
constexpr size_t SETTINGS_VALUE_COUNT = 25;
// The numbers of the file in file order: the options, the window rectangle,
// the volume and, while the list is saved, the playback state. Fills up to
// capacity and returns how many there are.
size_t settings_values(PlayerContext* ctx, SettingsValue* out, size_t capacity);
// The rectangle loading chose (the centred default or the saved one).
SettingsRect settings_window_rect();

// --- the file's text, for loading and for tests ---
// The file read into memory as UTF-16 with an index of its keys.
struct SettingsFile;
// Reads and indexes a settings file; null when it cannot be read.
SettingsFile* settings_file_read(const char* path);
// Indexes file bytes already in memory (FF FE UTF-16LE, UTF-16LE without the
// mark, or UTF-8 text).
SettingsFile* settings_file_parse(const void* bytes, size_t size);
void settings_file_free(SettingsFile* file);
// The first line whose key equals key (ASCII letters without regard to
// case), read like the C library's string-to-long; def when absent (or no
// file). Values past the 32-bit range read as its ends.
int32_t settings_get_int(const SettingsFile* file, const char* key, int32_t def);
// The text of key as UTF-8, cut after 779 UTF-16 units; empty when absent.
std::string settings_get_text(const SettingsFile* file, const char* key);
