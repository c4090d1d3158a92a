// What may become an entry, and the media of a folder. Every way a path
// comes in (the command line, a drop, the open dialogs, the media-player
// interface, another program's data message, the saved list) asks
// playlist_admit first: only a regular file, a folder or a network location
// gets in. A named pipe or a device would hold the media thread in its open
// for good.
#include <dirent.h>
#include <fnmatch.h>
#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"
#include "playlist/playlist.h"

namespace {

// "name://" with a scheme name before it: handed to the demuxer as it is.
bool is_location(const char* path)
{
    const char* colon = strstr(path, "://");
    if (!colon || colon == path)
        return false;
    for (const char* p = path; p < colon; p++) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                  c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

// A "file://" location names a path like any other: the demuxer's file
// protocol would open a pipe behind it just the same.
bool file_location_path(const char* location, std::string* path)
{
    if (g_ascii_strncasecmp(location, "file://", 7) != 0)
        return false;
    gchar* host = nullptr;
    gchar* name = g_filename_from_uri(location, &host, nullptr);
    bool local = name && (!host || !*host || g_ascii_strcasecmp(host, "localhost") == 0);
    if (local)
        *path = name;
    g_free(host);
    g_free(name);
    // An undecodable one is taken as the demuxer would: the text after "file:".
    if (!local)
        *path = location + 5;
    return true;
}

void refuse(PlaylistRefusals* refusals, const std::string& path, int reason)
{
    if (!refusals)
        return;
    if (refusals->count++ == 0) {
        refusals->first_path = path;
        refusals->first_reason = reason;
    }
}

const char* reason_text(int reason)
{
    switch (reason) {
    case PLAYLIST_INTAKE_MISSING: return "不存在";
    case PLAYLIST_INTAKE_TOO_LONG: return "路径过长";
    default: return "不是文件或目录";
    }
}

// --- folders ---

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

std::string join_path(const std::string& folder, const char* name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// One walk over a folder tree, sorting the files it meets into one list
// per pattern set.
struct Walk {
    std::vector<std::vector<std::string>> sets;
    std::vector<PlaylistFolderFiles>* out;
    const std::atomic<int>* cancel;
    // Folders entered (device, inode): a link back up the tree or two links
    // to one folder cannot make the walk loop or repeat.
    std::set<std::pair<dev_t, ino_t>> visited;
};

struct FolderEntry {
    std::string key;
    std::string name;
    unsigned char type;
};

bool cancelled(const Walk* walk)
{
    return walk->cancel && walk->cancel->load(std::memory_order_relaxed) != 0;
}

// The names of one folder in the order the player lists them: by name,
// case folded, compared ordinally (readdir's own order is arbitrary).
bool read_folder(Walk* walk, const std::string& folder, std::vector<FolderEntry>* entries)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false; // unreadable, or gone meanwhile: it contributes nothing
    struct stat st;
    if (fstat(dirfd(dir), &st) != 0 || !walk->visited.insert({st.st_dev, st.st_ino}).second) {
        closedir(dir);
        return false;
    }
    while (struct dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        entries->push_back(FolderEntry{name_order_key(name, strlen(name)), name, e->d_type});
    }
    // Closed before the subfolders are entered: a deep tree holds no
    // descriptor per level.
    closedir(dir);
    std::sort(entries->begin(), entries->end(), [](const FolderEntry& a, const FolderEntry& b) {
        int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return true;
}

void walk_folder(Walk* walk, const std::string& folder)
{
    std::vector<FolderEntry> entries;
    if (cancelled(walk) || !read_folder(walk, folder, &entries))
        return;
    for (const FolderEntry& entry : entries) {
        if (cancelled(walk))
            return;
        const char* name = entry.name.c_str();
        if (name[0] == '.' && entry.type == DT_DIR)
            continue;
        std::string path = join_path(folder, name);
        // Links and file systems that give no type are asked once more.
        mode_t mode = entry.type == DT_DIR ? S_IFDIR : entry.type == DT_REG ? S_IFREG : 0;
        struct stat st;
        if (mode == 0) {
            if (stat(path.c_str(), &st) != 0)
                continue;
            mode = st.st_mode;
        }
        if (S_ISDIR(mode)) {
            if (name[0] != '.')
                walk_folder(walk, path);
            continue;
        }
        for (size_t k = 0; k < walk->sets.size(); k++) {
            if (!matches_any(walk->sets[k], name))
                continue;
            PlaylistFolderFiles& files = (*walk->out)[k];
            if (!S_ISREG(mode))
                refuse(&files.refused, path, PLAYLIST_INTAKE_NOT_A_FILE);
            else if (!playlist_path_fits(path.c_str()))
                refuse(&files.refused, path, PLAYLIST_INTAKE_TOO_LONG);
            else
                files.paths.push_back(std::move(path));
            break;
        }
    }
}

void walk_tree(const char* folder, const std::vector<const char*>& pattern_lists, std::vector<PlaylistFolderFiles>* out,
               const std::atomic<int>* cancel)
{
    Walk walk{{}, out, cancel, {}};
    for (const char* patterns : pattern_lists)
        walk.sets.push_back(split_patterns(patterns));
    out->assign(pattern_lists.size(), PlaylistFolderFiles{});
    walk_folder(&walk, folder);
}

} // namespace

int playlist_name_matches(const char* name, const char* patterns)
{
    const char* slash = strrchr(name, '/');
    return matches_any(split_patterns(patterns), slash ? slash + 1 : name) ? 1 : 0;
}

void playlist_refusals_merge(PlaylistRefusals* into, const PlaylistRefusals& from)
{
    if (!into || from.count == 0)
        return;
    if (into->count == 0) {
        into->first_path = from.first_path;
        into->first_reason = from.first_reason;
    }
    into->count += from.count;
}

int playlist_path_fits(const char* path)
{
    size_t length = strlen(path);
    return length < size_t(MEDIA_PATH_UNITS) * 3 && utf16_units(path, length) <= size_t(MEDIA_PATH_UNITS - 1);
}

int playlist_intake_kind(const char* path, std::string* entry_path)
{
    *entry_path = path ? path : "";
    if (entry_path->empty())
        return PLAYLIST_INTAKE_MISSING;
    if (is_location(path) && !file_location_path(path, entry_path))
        return playlist_path_fits(path) ? PLAYLIST_INTAKE_LOCATION : PLAYLIST_INTAKE_TOO_LONG;
    if (!playlist_path_fits(entry_path->c_str()))
        return PLAYLIST_INTAKE_TOO_LONG;
    struct stat st;
    if (stat(entry_path->c_str(), &st) != 0)
        return PLAYLIST_INTAKE_MISSING;
    if (S_ISDIR(st.st_mode))
        return PLAYLIST_INTAKE_FOLDER;
    return S_ISREG(st.st_mode) ? PLAYLIST_INTAKE_FILE : PLAYLIST_INTAKE_NOT_A_FILE;
}

int playlist_admit(const char* path, int keep_missing, std::string* entry_path, PlaylistRefusals* refusals)
{
    int kind = playlist_intake_kind(path, entry_path);
    // A film on a disk not mounted yet keeps its place; a relative name
    // that names nothing would be read by the demuxer as a protocol.
    bool kept = kind == PLAYLIST_INTAKE_MISSING && keep_missing && (*entry_path)[0] == '/';
    if (kind <= PLAYLIST_INTAKE_LOCATION || kept)
        return kind;
    refuse(refusals, *entry_path, kind);
    return -1;
}

void playlist_refusals_notice(PlayerContext* ctx, const PlaylistRefusals* refusals)
{
    if (!refusals || refusals->count == 0)
        return;
    // The name as the notice can show it: a path in another encoding is
    // converted, what cannot be is replaced.
    const std::string& path = refusals->first_path;
    std::string shown(path.size() * 4 + 16, '\0');
    long n = utf8_is_valid(path.data(), path.size())
                 ? -2
                 : legacy_to_utf8(path.data(), path.size(), shown.data(), shown.size());
    if (n == -2) {
        shown = path;
    } else if (n >= 0 && utf8_is_valid(shown.data(), size_t(n))) {
        shown.resize(size_t(n));
    } else {
        gchar* valid = g_utf8_make_valid(path.data(), gssize(path.size()));
        shown = valid;
        g_free(valid);
    }
    const char* reason = reason_text(refusals->first_reason);
    // The reason first: a long path is cut at the notice's end.
    if (refusals->count == 1)
        show_notice(ctx, " 未添加 (%s): %s ", reason, shown.c_str());
    else
        show_notice(ctx, " 未添加%u项 (%s): %s 等 ", refusals->count, reason, shown.c_str());
}

void playlist_collect_folder(const char* folder, const char* patterns, PlaylistFolderFiles* out,
                             const std::atomic<int>* cancel)
{
    std::vector<PlaylistFolderFiles> lists;
    walk_tree(folder, {patterns}, &lists, cancel);
    *out = std::move(lists[0]);
}

void playlist_collect_media(const char* folder, PlaylistFolderFiles* out, const std::atomic<int>* cancel)
{
    std::vector<PlaylistFolderFiles> lists;
    walk_tree(folder, {PLAYLIST_VIDEO_PATTERNS, PLAYLIST_AUDIO_PATTERNS, PLAYLIST_IMAGE_PATTERNS}, &lists, cancel);
    *out = PlaylistFolderFiles{};
    // Videos from every subfolder first, then sounds; pictures only from a
    // tree without any video or sound.
    size_t used = lists[0].paths.empty() && lists[1].paths.empty() ? 3 : 2;
    for (size_t k = 0; k < used; k++) {
        for (std::string& path : lists[k].paths)
            out->paths.push_back(std::move(path));
        playlist_refusals_merge(&out->refused, lists[k].refused);
    }
}

uint32_t playlist_scan_folder(PlayerContext* ctx, const char* folder, const char* patterns, int check_duplicates)
{
    PlaylistFolderFiles files;
    playlist_collect_folder(folder, patterns, &files, nullptr);
    for (const std::string& path : files.paths)
        playlist_add_entry(ctx, path.c_str(), check_duplicates);
    return uint32_t(files.paths.size());
}

uint32_t playlist_add_path(PlayerContext* ctx, const char* path, int check_duplicates, PlaylistRefusals* refusals)
{
    std::string entry;
    int kind = playlist_admit(path, 1, &entry, refusals);
    if (kind < 0)
        return 0;
    if (kind != PLAYLIST_INTAKE_FOLDER) {
        playlist_add_entry(ctx, entry.c_str(), check_duplicates);
        return 1;
    }
    PlaylistFolderFiles files;
    playlist_collect_media(entry.c_str(), &files, nullptr);
    for (const std::string& file : files.paths)
        playlist_add_entry(ctx, file.c_str(), check_duplicates);
    playlist_refusals_merge(refusals, files.refused);
    return uint32_t(files.paths.size());
}
