#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "core/core.h"
#include "playlist/playlist.h"
#include "ui/ui.h"

int command_line_is_option(const char* arg)
{
    if (arg[0] != '/')
        return 0;
    const char* equals = strchr(arg, '=');
    if (!equals)
        return 0;
    // "/home/me/a=b.mkv" is a path: a key never holds a slash.
    if (memchr(arg + 1, '/', size_t(equals - arg - 1)))
        return 0;
    struct stat st;
    return stat(arg, &st) != 0;
}

static bool has_scheme(const std::string& path)
{
    size_t colon = path.find("://");
    if (colon == std::string::npos || colon == 0)
        return false;
    for (size_t i = 0; i < colon; i++) {
        char c = path[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                  c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::string command_line_absolute_path(const std::string& path, const std::string& current_folder)
{
    if (path.empty() || has_scheme(path))
        return path;
    std::string joined = path[0] == '/' ? path : current_folder + "/" + path;
    // Lexical clean-up only: ".." is kept, since it means something else
    // after a symbolic link.
    std::string out;
    out.reserve(joined.size());
    size_t i = 0;
    while (i < joined.size()) {
        size_t end = joined.find('/', i);
        if (end == std::string::npos)
            end = joined.size();
        std::string segment = joined.substr(i, end - i);
        if (!segment.empty() && segment != ".") {
            out += '/';
            out += segment;
        }
        i = end + 1;
    }
    if (out.empty())
        out = "/";
    else if (joined.back() == '/' && out != "/")
        out += '/';
    return out;
}

static std::string current_folder()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

void command_line_to_playlist(const std::vector<std::string>& items, const CommandLinePlaylist* playlist)
{
    std::string folder = current_folder();
    PlaylistRefusals refused;
    std::string options;  // each option followed by U+0001
    std::string title;
    bool title_pending = false;
    for (const std::string& item : items) {
        const char* arg = item.c_str();
        if (command_line_is_option(arg)) {
            if (strncasecmp(arg + 1, "title=", 6) == 0) {
                title = arg + 7;
                title_pending = true;
            } else {
                options += arg + 1;
                options += '\x01';
            }
            continue;
        }
        if (item.empty())
            continue;
        std::string path = command_line_absolute_path(item, folder);
        uint32_t before = playlist->count(playlist->user);
        playlist->add_path(playlist->user, path.c_str(), &refused);
        uint32_t after = playlist->count(playlist->user);
        if (after > before) {
            // The list joins pairs with U+0001 and has no separator at the end.
            std::string parameters = options.empty() ? std::string() : options.substr(0, options.size() - 1);
            // A title given alone names the path too: nobody writes one for
            // it to be thrown away.
            for (uint32_t i = before; i < after; i++)
                playlist->set_texts(playlist->user, i, options.empty() ? nullptr : parameters.c_str(),
                                    title_pending ? title.c_str() : nullptr);
            options.clear();
        }
        title.clear();
        title_pending = false;
    }
    if (playlist->report_refused)
        playlist->report_refused(playlist->user, &refused);
}

static uint32_t player_count(void* user)
{
    return static_cast<PlayerContext*>(user)->item_count.load(std::memory_order_relaxed);
}

static void player_add_path(void* user, const char* path, PlaylistRefusals* refused)
{
    playlist_add_path(static_cast<PlayerContext*>(user), path, 1, refused);
}

static void player_report_refused(void* user, const PlaylistRefusals* refused)
{
    playlist_refusals_notice(static_cast<PlayerContext*>(user), refused);
}

static void player_set_texts(void* user, uint32_t index, const char* parameters, const char* title)
{
    auto* ctx = static_cast<PlayerContext*>(user);
    if (parameters)
        playlist_set_params(ctx, index, parameters);
    if (title)
        playlist_set_title(ctx, index, title);
}

CommandLinePlaylist command_line_playlist_of(PlayerContext* ctx)
{
    return CommandLinePlaylist{ctx, player_count, player_add_path, player_set_texts, player_report_refused};
}

void command_line_to_player(PlayerContext* ctx, const std::vector<std::string>& items)
{
    CommandLinePlaylist binding = command_line_playlist_of(ctx);
    command_line_to_playlist(items, &binding);
}
