// Subtitle files beside a media file.
#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/core.h"
#include "subtitle/subtitle.h"

static bool is_subtitle_name(const char* name)
{
    static const char* const patterns[] = {"*.ass", "*.ssa", "*.srt", "*.lrc"};
    for (const char* p : patterns) {
        if (fnmatch(p, name, FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

// The film's name taken literally in a pattern: "[1080p]" names itself, not
// a set of characters.
static std::string escape_pattern(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

int find_subtitle_files(const char* media_path, void (*found)(void* user, const char* path), void* user)
{
    // The file part, and its stem without the extension.
    const char* slash = strrchr(media_path, '/');
    const char* name = slash ? slash + 1 : media_path;
    std::string_view stem(name);
    if (const char* dot = strrchr(name, '.'))
        stem = std::string_view(name, size_t(dot - name));
    std::string folder = slash ? std::string(media_path, size_t(slash - media_path + 1)) : std::string("./");
    std::string prefix = slash ? folder : std::string();
    int count = 0;
    for (const char* tail : {".*", "*"}) {
        std::string pattern = escape_pattern(stem) + tail;
        DIR* dir = opendir(folder.c_str());
        if (!dir)
            return count;
        std::vector<std::pair<std::string, std::string>> names; // order key, name
        while (dirent* entry = readdir(dir)) {
            // Letter case does not tell files apart here: film.srt belongs to Film.mkv.
            if (fnmatch(pattern.c_str(), entry->d_name, FNM_PERIOD | FNM_CASEFOLD) != 0 ||
                !is_subtitle_name(entry->d_name))
                continue;
            names.emplace_back(name_order_key(entry->d_name, strlen(entry->d_name)), entry->d_name);
        }
        closedir(dir);
        // In the order a folder is listed (readdir's own order is arbitrary):
        // the first that loads is the one shown.
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            std::string path = prefix + name.second;
            found(user, path.c_str());
            count++;
        }
    }
    return count;
}
