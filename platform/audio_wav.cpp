// The wav backend's file: what was played, written as a WAV file that is
// valid at every moment, so a run that stops at any point leaves a file
// that plays.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/audio_device_internal.h"

namespace {

void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

int write_all(int fd, const uint8_t* data, size_t bytes, off_t at)
{
    while (bytes > 0) {
        ssize_t n = at >= 0 ? pwrite(fd, data, bytes, at) : write(fd, data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        data += n;
        bytes -= size_t(n);
        if (at >= 0)
            at += n;
    }
    return 1;
}

// Rewrites the two sizes so the file is complete as it stands.
void wav_fix_sizes(WavFile* w)
{
    uint8_t v[4];
    put32(v, w->header_bytes - 8 + w->data_bytes);
    write_all(w->fd, v, 4, 4);
    put32(v, w->data_bytes);
    write_all(w->fd, v, 4, off_t(w->header_bytes) - 4);
}

// More than two channels use the extensible format, which names the speakers.
int wav_begin(WavFile* w, const char* path, int32_t rate, int32_t channels, uint32_t mask)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    const int extensible = channels > 2;
    const uint32_t block_align = uint32_t(channels) * 2;
    uint8_t h[68] = {};
    const uint32_t header_bytes = extensible ? 68 : 44;
    const uint32_t fmt_bytes = extensible ? 40 : 16;
    memcpy(h, "RIFF", 4);
    put32(h + 4, header_bytes - 8);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, fmt_bytes);
    put16(h + 20, extensible ? 0xFFFE : 1);
    put16(h + 22, uint32_t(channels));
    put32(h + 24, uint32_t(rate));
    put32(h + 28, uint32_t(rate) * block_align);
    put16(h + 32, block_align);
    put16(h + 34, 16);
    uint8_t* data_chunk = h + 36;
    if (extensible) {
        static const uint8_t pcm_subformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        put16(h + 36, 22);
        put16(h + 38, 16);
        put32(h + 40, mask);
        memcpy(h + 44, pcm_subformat, 16);
        data_chunk = h + 60;
    }
    memcpy(data_chunk, "data", 4);
    put32(data_chunk + 4, 0);
    if (!write_all(fd, h, header_bytes, 0)) {
        close(fd);
        return 0;
    }
    *w = {fd, rate, channels, mask, header_bytes, 0, nullptr};
    return 1;
}

} // namespace

// Appends played sound, then fixes the sizes: a program that stops at any
// moment leaves a valid file (at worst with a few samples past the size).
void wav_append(WavFile* w, const uint8_t* data, uint32_t bytes)
{
    if (!w || w->fd < 0 || bytes == 0)
        return;
    if (bytes > WAV_MAX_DATA_BYTES - w->data_bytes)
        bytes = WAV_MAX_DATA_BYTES - w->data_bytes;
    // Only whole sample frames, so the channels never shift.
    const uint32_t align = uint32_t(w->channels) * 2;
    bytes -= bytes % align;
    if (bytes == 0)
        return;
    if (!write_all(w->fd, data, bytes, off_t(w->header_bytes) + w->data_bytes))
        return;
    w->data_bytes += bytes;
    wav_fix_sizes(w);
}

void wav_end(WavFile* w)
{
    if (w->fd < 0)
        return;
    wav_fix_sizes(w);
    close(w->fd);
    w->fd = -1;
}

namespace {

// "out.wav" for the first file, then "out.2.wav", "out.3.wav", ...
std::string wav_numbered_path(const std::string& path, int number)
{
    if (number <= 1)
        return path;
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    std::string suffix = "." + std::to_string(number);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

} // namespace

// Under the process lock. The device continues the file while the format is
// unchanged and no other device writes it; otherwise it starts the next one.
WavFile* wav_acquire(AudioDevice* d, uint32_t mask)
{
    Process& p = process();
    WavFile* w = &p.wav;
    if (w->fd >= 0 && !w->owner && w->rate == d->rate && w->channels == d->channels && w->mask == mask) {
        w->owner = d;
        return w;
    }
    if (w->fd >= 0 && w->owner)
        return nullptr; // one file at a time; a second device cannot record
    wav_end(w);
    std::string path = wav_numbered_path(p.wav_path, p.wav_files + 1);
    if (!wav_begin(w, path.c_str(), d->rate, d->channels, mask))
        return nullptr;
    p.wav_files++;
    p.wav_current = path;
    w->owner = d;
    return w;
}
