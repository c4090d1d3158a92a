// The open dialogs: files (several at once) or a folder, added to the list
// in replace mode (they become the list and the first plays) or, with Ctrl
// held, appended.
#include <string>

#include "core/core.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "ui/ui_internal.h"

namespace {

struct Adding {
    PlayerContext* ctx;
    int append_mode;
    uint32_t files_met;
};

void add_file(void* user, const char* path)
{
    auto* adding = static_cast<Adding*>(user);
    playlist_add_entry(adding->ctx, path, adding->append_mode);
}

void add_folder(void* user, const char* path)
{
    auto* adding = static_cast<Adding*>(user);
    adding->files_met += playlist_add_path(adding->ctx, path, adding->append_mode);
}

} // namespace

void open_files_dialog(MainWindow* w, int append_mode, int folder)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    if (!ctx->window)
        return;
    uint32_t old_count = ctx->item_count.load(std::memory_order_relaxed);
    Adding adding{ctx, append_mode ? 1 : 0, 0};
    if (folder) {
        int chosen = platform_choose_files(ctx->window, append_mode ? "添加目录到列表" : "打开目录", 1, nullptr, 0,
                                           playlist_name_matches, add_folder, &adding);
        if (chosen && adding.files_met == 0)
            show_notice(ctx, " 目录中没有媒体文件! ");
    } else {
        std::string media = std::string(PLAYLIST_VIDEO_PATTERNS) + ";" + PLAYLIST_AUDIO_PATTERNS + ";" +
                            PLAYLIST_IMAGE_PATTERNS;
        const PlatformFileFilter filters[] = {
            {"主流媒体格式", media.c_str()},
            {"主流视频文件", PLAYLIST_VIDEO_PATTERNS},
            {"主流音频文件", PLAYLIST_AUDIO_PATTERNS},
            {"主流图片文件", PLAYLIST_IMAGE_PATTERNS},
            {"所有文件", "*.*"},
        };
        platform_choose_files(ctx->window, append_mode ? "添加文件到列表" : "打开文件", 0, filters,
                              int(sizeof filters / sizeof filters[0]), playlist_name_matches, add_file, &adding);
    }
    playlist_commit_added(ctx, adding.append_mode, old_count);
}
