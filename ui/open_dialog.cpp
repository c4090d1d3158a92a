// The open dialogs: files (several at once) or a folder, added to the list
// in replace mode (they become the list and the first plays) or, with Ctrl
// held, appended.
#include <string>

#include "core/core.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "ui/ui_internal.h"

namespace {

// The dialog runs a loop of its own: what is chosen is gathered here and
// committed after it has closed, against the list as it is then (entries
// may have come in meanwhile, or the list been replaced).
void add_chosen(void* user, const char* path)
{
    intake_admit(static_cast<IntakeRequest*>(user), path);
}

} // namespace

void open_files_dialog(MainWindow* w, int append_mode, int folder)
{
    PlayerContext* ctx = &reinterpret_cast<AppBlock*>(w)->player;
    if (!ctx->window)
        return;
    IntakeRequest request;
    request.append_mode = append_mode ? 1 : 0;
    if (folder) {
        request.after = INTAKE_THEN_FOLDER_NOTICE;
        platform_choose_files(ctx->window, append_mode ? "添加目录到列表" : "打开目录", 1, nullptr, 0,
                              playlist_name_matches, add_chosen, &request);
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
                              int(sizeof filters / sizeof filters[0]), playlist_name_matches, add_chosen, &request);
        // Files chosen are files: a folder picked in the file dialog is not listed.
        request.is_folder.assign(request.paths.size(), 0);
    }
    if (request.paths.empty() && !request.refused.count)
        return; // cancelled
    intake_submit(w, std::move(request));
}
