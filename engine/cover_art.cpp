// The open item's cover picture: the one embedded in the file, as a file in
// the cover cache, else a cover.jpg or folder.jpg beside the file. Writing
// a new picture into the cache is left to a writer thread of its own, so
// that a large cover or a slow disk never holds up the item.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"

struct CoverJob {
    int32_t item;         // the item it was found in (ItemTags::item)
    AVBufferRef* picture; // the embedded picture's bytes, shared with no one who changes them
    std::string path;     // its file in the cache
    std::string beside;   // what the item shows when the cache cannot have it
};

const char* picture_kind(const uint8_t* data, size_t size)
{
    const struct {
        const char* kind;
        const char* magic;
        size_t length;
        size_t at;
    } kinds[] = {
        {"jpg", "\xFF\xD8\xFF", 3, 0}, {"png", "\x89PNG\r\n\x1A\n", 8, 0}, {"gif", "GIF87a", 6, 0},
        {"gif", "GIF89a", 6, 0},       {"bmp", "BM", 2, 0},                {"webp", "WEBP", 4, 8},
    };
    // Shorter than any header worth decoding.
    if (!data || size < 16)
        return nullptr;
    for (const auto& k : kinds)
        if (memcmp(data + k.at, k.magic, k.length) == 0 && (k.at == 0 || memcmp(data, "RIFF", 4) == 0))
            return k.kind;
    return nullptr;
}

// A picture file of at most COVER_LARGEST_BYTES that begins like a picture.
static bool is_picture_file(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    uint8_t head[16];
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= COVER_LARGEST_BYTES &&
              read(fd, head, sizeof head) == ssize_t(sizeof head) && picture_kind(head, sizeof head);
    close(fd);
    return ok;
}

std::string cover_beside(const char* media_path)
{
    // Local files only: a location with a scheme has no folder to look in.
    if (!media_path || media_path[0] != '/')
        return std::string();
    const char* slash = strrchr(media_path, '/');
    std::string folder(media_path, size_t(slash - media_path) + 1);
    for (const char* name : {"cover.jpg", "folder.jpg", "Cover.jpg", "Folder.jpg", "cover.png", "folder.png"}) {
        std::string path = folder + name;
        if (is_picture_file(path))
            return path;
    }
    return std::string();
}

// The first attached picture of the container that is a picture.
static const AVPacket* embedded_cover(AVFormatContext* format, const char** kind)
{
    for (unsigned i = 0; i < format->nb_streams; i++) {
        const AVStream* s = format->streams[i];
        const AVPacket* p = &s->attached_pic;
        if (!(s->disposition & AV_DISPOSITION_ATTACHED_PIC) || p->size <= 0 || size_t(p->size) > COVER_LARGEST_BYTES)
            continue;
        if ((*kind = picture_kind(p->data, size_t(p->size))))
            return p;
    }
    return nullptr;
}

static void job_free(CoverJob* job)
{
    if (!job)
        return;
    av_buffer_unref(&job->picture);
    delete job;
}

void cover_art_find(PlayerContext* ctx, AVFormatContext* format, ItemTags* tags, CoverJob** job)
{
    *job = nullptr;
    if (!ctx->covers_wanted.load(std::memory_order_relaxed))
        return;
    const char* kind = nullptr;
    const AVPacket* cover = format ? embedded_cover(format, &kind) : nullptr;
    std::string path;
    if (cover)
        path = cover_cache_name(cover_cache_folder(getenv("XDG_CACHE_HOME"), getenv("HOME")), cover->data,
                                size_t(cover->size), kind);
    if (!path.empty() && cover_cache_use(path, size_t(cover->size))) {
        tags->art_path = path;
        return;
    }
    std::string beside = cover_beside(ctx->media_path);
    AVBufferRef* picture = nullptr;
    if (!path.empty()) {
        // The packet's bytes live as long as the container; the writer may
        // outlive it, so it holds a reference (or a copy) of its own. A
        // reference may span more than the picture: it keeps the bounds.
        if (cover->buf && (picture = av_buffer_ref(cover->buf))) {
            picture->data = cover->data;
            picture->size = size_t(cover->size);
        } else if (!cover->buf && (picture = av_buffer_alloc(size_t(cover->size)))) {
            memcpy(picture->data, cover->data, size_t(cover->size));
        }
    }
    if (!picture) {
        tags->art_path = beside;
        return;
    }
    *job = new CoverJob{tags->item, picture, path, beside};
}

// Gives the item its cover file, unless another item has opened meanwhile.
static void hand_over(PlayerContext* ctx, const CoverJob& job, const std::string& art)
{
    bool changed = false;
    {
        SpinGuard guard(&ctx->item_tags_lock);
        ItemTags* tags = ctx->item_tags;
        if (tags && tags->item == job.item && tags->art_path != art) {
            tags->art_path = art;
            changed = true;
        }
    }
    if (changed)
        window_post(MSG_ITEM_TAGS, 0, 0);
}

static void cover_writer(PlayerContext* ctx)
{
    for (;;) {
        CoverJob* job = ctx->cover_job.exchange(nullptr, std::memory_order_acq_rel);
        if (!job) {
            ctx->cover_writer_running.store(0, std::memory_order_release);
            // A job put after the exchange found this writer still running:
            // it is taken here, unless a new writer has taken it already.
            if (!ctx->cover_job.load(std::memory_order_acquire) ||
                ctx->cover_writer_running.exchange(1, std::memory_order_acq_rel))
                return;
            continue;
        }
        bool stored = cover_cache_store(job->path, job->picture->data, job->picture->size,
                                        COVER_CACHE_RESERVE_BYTES, COVER_CACHE_LIMIT_BYTES);
        hand_over(ctx, *job, stored ? job->path : job->beside);
        job_free(job);
    }
}

void cover_art_write_later(PlayerContext* ctx, CoverJob* job)
{
    // Only the newest item's cover is wanted: one still waiting is dropped.
    job_free(ctx->cover_job.exchange(job, std::memory_order_acq_rel));
    if (ctx->cover_writer_running.exchange(1, std::memory_order_acq_rel))
        return;
    if (!start_thread(ctx, cover_writer)) {
        ctx->cover_writer_running.store(0, std::memory_order_release);
        // No thread to be had: the item shows what is beside it.
        if (CoverJob* left = ctx->cover_job.exchange(nullptr, std::memory_order_acq_rel)) {
            hand_over(ctx, *left, left->beside);
            job_free(left);
        }
    }
}
