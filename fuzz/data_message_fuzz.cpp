// Data messages from other programs on any codes and payloads, against a
// folder holding a film, a named pipe, a subfolder and a link to a device:
// an append answers -1 or the new entry's index, only files (or absolute
// paths of files not there yet), folders (the message lists no folder: it
// is appended as it is) and locations are ever listed, never the pipe or
// the device, and titles and parameters land only on entries that exist.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core.h"
#include "engine/engine.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/ui.h"

namespace {

PlayerContext* ctx;
// The seeds name these paths.
const char FOLDER[] = "/tmp/moravista-data-fuzz";

uint32_t take(const uint8_t** data, size_t* size, size_t bytes)
{
    uint32_t v = 0;
    for (size_t i = 0; i < bytes && *size; i++, (*data)++, (*size)--)
        v |= uint32_t(**data) << (8 * i);
    return v;
}

// What the message's code is made of: the three tags with an index, or any
// 64-bit value.
uint64_t message_code(const uint8_t** data, size_t* size)
{
    uint32_t kind = take(data, size, 1) % 4;
    uint32_t index = take(data, size, 2);
    switch (kind) {
    case 0: return 0x6170;
    case 1: return 0x7374ull << 16 | index;
    case 2: return 0x7370ull << 16 | index;
    default: return uint64_t(take(data, size, 4)) << 32 | take(data, size, 4);
    }
}

bool listable(const char* path)
{
    struct stat st;
    if (strstr(path, "://"))
        return true; // a location
    if (stat(path, &st) != 0)
        return path[0] == '/'; // a file not there yet is kept
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    settings_disable();
    ctx = player_context_new();
    player_setup(ctx);
    mkdir(FOLDER, 0755);
    std::string folder = FOLDER;
    if (FILE* f = fopen((folder + "/film.mkv").c_str(), "wb"))
        fclose(f);
    mkfifo((folder + "/pipe.mkv").c_str(), 0600);
    mkdir((folder + "/sub").c_str(), 0755);
    symlink("/dev/zero", (folder + "/zero.mkv").c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MainWindow* w = main_window_of(ctx);
    while (size >= 4) {
        uint64_t code = message_code(&data, &size);
        size_t length = take(&data, &size, 2) % 1200;
        if (length > size)
            length = size;
        CopyData message{code, data, length};
        data += length;
        size -= length;
        uint32_t before = ctx->item_count.load();
        intptr_t result = window_procedure(w, MSG_COPY_DATA, 0, reinterpret_cast<intptr_t>(&message));
        uint32_t after = ctx->item_count.load();
        if (code == 0x6170) {
            bool added = result == intptr_t(before) && after == before + 1;
            if (!(added || (result == -1 && after == before)))
                abort();
            if (added && !listable(ctx->playlist.items[before].path))
                abort(); // a pipe, a device or a folder got in
        } else if (result != 0 || after != before) {
            abort();
        }
    }
    for (uint32_t i = 0; i < ctx->item_count.load(); i++) {
        const PlaylistEntry& e = ctx->playlist.items[i];
        for (const char* text : {e.title, e.params})
            if (text && utf16_units(text, strlen(text)) > 779)
                abort();
    }
    playlist_free(ctx);
    return 0;
}
