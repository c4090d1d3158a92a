// The cache of cover pictures: embedded covers written as files, so that the
// desktop can show them. Each picture is written once, named by its
// content; a file used again counts as recently used, and past the bound the
// least recently used files go.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/murmur3.h>
}

#include "engine/engine_internal.h"

std::string cover_cache_folder(const char* cache_home, const char* home)
{
    if (cache_home && cache_home[0] == '/')
        return std::string(cache_home) + "/moravista/covers";
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/moravista/covers";
    return std::string();
}

std::string cover_cache_name(const std::string& folder, const uint8_t* data, size_t size, const char* kind)
{
    if (folder.empty())
        return std::string();
    AVMurMur3* hash = av_murmur3_alloc();
    if (!hash)
        return std::string();
    av_murmur3_init(hash);
    av_murmur3_update(hash, data, size);
    uint8_t digest[16];
    av_murmur3_final(hash, digest);
    av_free(hash);
    char name[2 * sizeof digest + 1];
    for (size_t i = 0; i < sizeof digest; i++)
        snprintf(name + 2 * i, 3, "%02x", digest[i]);
    return folder + "/" + name + "." + kind;
}

bool cover_cache_use(const std::string& path, size_t size)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size)
        return false;
    // Recently used now; a cache that cannot be touched still serves.
    utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    return true;
}

// The folder and those above it, private to the user.
static bool make_folders(const std::string& folder)
{
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static bool write_all(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool cover_cache_store(const std::string& path, const uint8_t* data, size_t size, uint64_t reserve_bytes,
                       uint64_t limit_bytes)
{
    if (cover_cache_use(path, size))
        return true;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    std::string folder = path.substr(0, slash);
    if (!make_folders(folder))
        return false;
    struct statvfs disk;
    if (statvfs(folder.c_str(), &disk) == 0 && uint64_t(disk.f_bavail) * disk.f_frsize < size + reserve_bytes)
        return false;
    // Written beside and renamed: a reader never sees half a picture, and a
    // failed write leaves nothing behind.
    std::string temporary = path + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = write_all(fd, data, size);
    // Some file systems report a full disk only when the file is closed.
    written = close(fd) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    cover_cache_prune(folder, limit_bytes, path);
    return true;
}

namespace {

struct CachedFile {
    std::string path;
    uint64_t bytes;
    timespec used;
};

bool used_earlier(const CachedFile& a, const CachedFile& b)
{
    if (a.used.tv_sec != b.used.tv_sec)
        return a.used.tv_sec < b.used.tv_sec;
    if (a.used.tv_nsec != b.used.tv_nsec)
        return a.used.tv_nsec < b.used.tv_nsec;
    return a.path < b.path;
}

} // namespace

void cover_cache_prune(const std::string& folder, uint64_t limit_bytes, const std::string& keep)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<CachedFile> files;
    uint64_t total = 0;
    while (const dirent* e = readdir(dir)) {
        std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (e->d_name[0] == '.' || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        files.push_back(CachedFile{path, uint64_t(st.st_size), st.st_mtim});
        total += uint64_t(st.st_size);
    }
    closedir(dir);
    std::sort(files.begin(), files.end(), used_earlier);
    for (const CachedFile& f : files) {
        if (total <= limit_bytes)
            break;
        if (f.path != keep && unlink(f.path.c_str()) == 0)
            total -= f.bytes;
    }
}
