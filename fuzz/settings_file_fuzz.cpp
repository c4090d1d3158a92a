// The settings file loader on any bytes: every lookup stays inside the
// text, and nothing is lost on the way round: the file loaded and saved,
// then loaded and saved again, gives the same bytes the second time (the
// first save may only clean what the loader was given).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "settings/settings_internal.h"

namespace {

PlayerContext* ctx;
std::string folder;

std::string read_all(const std::string& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    fclose(f);
    return out;
}

void write_all(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (size && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);
}

// A fresh player's state: an empty list, every option at its default.
void reset()
{
    playlist_free(ctx);
    settings_reset(&settings);
    audio_set_volume(&ctx->audio, 110);
    ctx->video_choice.store(-1);
    ctx->audio_choice.store(-1);
    ctx->subtitle_choice.store(-1);
    ctx->clock_ms.store(0);
    ctx->open_index.store(-1);
}

std::string load_and_save(const std::string& path)
{
    reset();
    settings_set_path(path.c_str());
    settings_load(ctx);
    uint32_t count = ctx->item_count.load();
    for (uint32_t i = 0; i < count; i++) {
        // Only what the intake admits is listed, and never a cut path.
        if (!playlist_path_fits(ctx->playlist.items[i].path))
            abort();
    }
    if (!settings_save(ctx))
        abort();
    return read_all(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ctx = player_context_new();
    player_setup(ctx);
    // tmpfs where there is one: the save flushes every file it writes.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder = std::string(base) + "/moravista-settings-fuzz-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The lookups on the text as given.
    SettingsFile* file = settings_file_parse(data, size);
    if (!file)
        return 0;
    for (const char* key : {"left", "音量", "列表数", "0", "0_标题", "1_参数"}) {
        settings_get_int(file, key, -7);
        std::string text = settings_get_text(file, key);
        if (utf16_units(text.data(), text.size()) > 779)
            abort();
    }
    std::vector<SettingsSavedEntry> entries;
    settings_file_saved_entries(file, 1 << 20, &entries);
    for (size_t i = 1; i < entries.size(); i++)
        if (entries[i].index <= entries[i - 1].index)
            abort();
    settings_file_free(file);

    // Round trips through the real load and save.
    std::string path = folder + "/moravista.ini";
    write_all(path, data, size);
    std::string first = load_and_save(path);
    std::string second = load_and_save(path);
    if (first != second)
        abort();
    return 0;
}
