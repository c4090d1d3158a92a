// External subtitle files: the list of files known for the current item,
// reading one into memory, converting its text to UTF-8 and parsing it with
// FFmpeg into a fresh libass track; closing the current source.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "core/core.h"
#include "subtitle/subtitle.h"

// ---- The list ------------------------------------------------------------

int add_external_file(SubtitleState* state, const char* path)
{
    size_t length = strlen(path);
    // A path cut short would name another file: refuse it whole.
    if (length + 1 > size_t(EXTERNAL_PATH_BYTES) || utf16_units(path, length) > size_t(EXTERNAL_PATH_UNITS))
        return -1;
    SpinGuard guard(&state->subtitle_lock);
    uint32_t count = state->external_count.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; i++) {
        // File names are case-sensitive here: film.SRT and film.srt are two files.
        if (strcmp(state->external_files[i], path) == 0)
            return 0;
    }
    if (count + 1 > state->external_capacity) {
        uint32_t capacity = count + 11; // ten spare entries beyond the new one
        void* grown = realloc(state->external_files, size_t(capacity) * EXTERNAL_PATH_BYTES);
        if (!grown)
            return -1;
        state->external_files = static_cast<char(*)[EXTERNAL_PATH_BYTES]>(grown);
        state->external_capacity = capacity;
    }
    memcpy(state->external_files[count], path, length + 1);
    state->external_count.store(count + 1, std::memory_order_relaxed);
    return 1;
}

bool external_file_path(SubtitleState* state, uint32_t index, char* out, size_t out_size)
{
    SpinGuard guard(&state->subtitle_lock);
    if (index >= state->external_count.load(std::memory_order_relaxed))
        return false;
    size_t length = strlen(state->external_files[index]);
    if (length + 1 > out_size)
        return false;
    memcpy(out, state->external_files[index], length + 1);
    return true;
}

// ---- Text encodings ------------------------------------------------------

static void swap_byte_pairs(uint8_t* bytes, int64_t length)
{
    for (int64_t i = 0; i + 1 < length; i += 2) {
        uint8_t t = bytes[i];
        bytes[i] = bytes[i + 1];
        bytes[i + 1] = t;
    }
}

static char* put_utf8(char* out, uint32_t cp)
{
    if (cp < 0x80) {
        *out++ = char(cp);
    } else if (cp < 0x800) {
        *out++ = char(0xC0 | (cp >> 6));
        *out++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = char(0xE0 | (cp >> 12));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    } else {
        *out++ = char(0xF0 | (cp >> 18));
        *out++ = char(0x80 | ((cp >> 12) & 0x3F));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    }
    return out;
}

// UTF-16LE units to UTF-8; a lone surrogate becomes U+FFFD. At most 3 bytes
// of output per unit.
static int64_t utf16le_to_utf8(const uint8_t* units, int64_t count, char* out)
{
    char* o = out;
    for (int64_t i = 0; i < count; i++) {
        uint32_t u = units[2 * i] | uint32_t(units[2 * i + 1]) << 8;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            uint32_t v = units[2 * i + 2] | uint32_t(units[2 * i + 3]) << 8;
            if (v >= 0xDC00 && v <= 0xDFFF) {
                o = put_utf8(o, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                i++;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;
        o = put_utf8(o, u);
    }
    *o = 0;
    return o - out;
}

int64_t subtitle_text_to_utf8(uint8_t* bytes, int64_t length, char* out, int64_t* offset)
{
    *offset = 0;
    if (length < 4) {
        out[0] = 0;
        return 0;
    }
    // A byte-order mark of either order; it decides the order when present.
    bool le_mark = bytes[0] == 0xFF && bytes[1] == 0xFE;
    bool be_mark = bytes[0] == 0xFE && bytes[1] == 0xFF;
    int64_t start = (le_mark || be_mark) && length >= 6 ? 2 : 0;
    const uint8_t* p = bytes + start;
    // Two big-endian characters below 256 (or a big-endian mark): swap
    // every pair, mark included, to little-endian.
    bool be = be_mark || (!le_mark && p[0] == 0 && p[2] == 0 && p[1] != 0 && p[3] != 0);
    if (be)
        swap_byte_pairs(bytes, length);
    // UTF-16LE: a mark, or two little-endian characters below 256.
    if (be || le_mark || (p[1] == 0 && p[3] == 0 && p[0] != 0 && p[2] != 0))
        return utf16le_to_utf8(p, (length - start) / 2, out);
    // 8-bit text: UTF-8 with or without its mark, else a legacy encoding.
    if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        memcpy(out, bytes + 3, size_t(length - 3));
        out[length - 3] = 0;
        return length - 3;
    }
    long n = legacy_to_utf8(reinterpret_cast<const char*>(bytes), size_t(length), out, size_t(3 * length + 32));
    if (n < 0) {
        out[0] = 0;
        return 0;
    }
    return n;
}

// ---- Reading and parsing ---------------------------------------------------

int memory_read_packet(void* opaque, uint8_t* buffer, int size)
{
    auto* reader = static_cast<MemoryReader*>(opaque);
    int count = size < reader->remaining ? size : reader->remaining;
    if (count <= 0)
        return AVERROR_EOF; // FFmpeg 5 takes a 0 for a read error, not for the end
    memcpy(buffer, reader->next, size_t(count));
    reader->next += count;
    reader->remaining -= count;
    return count;
}

// Decodes every packet of stream index of an opened input into a new track.
static ASS_Track* read_stream_events(SubtitleState* state, AVFormatContext* format, int index)
{
    AVStream* stream = format->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return nullptr;
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    if (!codec)
        return nullptr;
    ASS_Track* track = nullptr;
    AVPacket* packet = av_packet_alloc();
    if (packet && avcodec_parameters_to_context(codec, stream->codecpar) >= 0) {
        codec->pkt_timebase = stream->time_base;
        if (avcodec_open2(codec, decoder, nullptr) >= 0)
            track = new_subtitle_track(state, codec);
    }
    bool is_ass = codec->codec_id == AV_CODEC_ID_ASS || codec->codec_id == AV_CODEC_ID_SSA;
    while (track && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            AVSubtitle sub;
            int got = 0;
            if (avcodec_decode_subtitle2(codec, &sub, &got, packet) >= 0 && got) {
                if (sub.num_rects > 0)
                    add_subtitle_events(state, track, &sub, is_ass ? reinterpret_cast<const char*>(packet->data) : nullptr,
                                        is_ass ? packet->size : 0);
                else
                    avsubtitle_free(&sub);
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    return track;
}

// FFmpeg's demultiplexers of text subtitle files.
static const char TEXT_SUBTITLE_FORMATS[] = "ass,srt,lrc,webvtt,microdvd,subviewer,subviewer1,sami,realtext,mpl2,pjs,"
                                            "jacosub,vplayer,stl,aqtitle,mpsub";

ASS_Track* parse_subtitle_memory(SubtitleState* state, const char* text, int32_t length)
{
    if (!text || length <= 0)
        return nullptr;
    // The reader over the text and a format context that reads through it.
    MemoryReader reader = {reinterpret_cast<const uint8_t*>(text), length};
    constexpr int READ_BUFFER_BYTES = 4096;
    auto* buffer = static_cast<uint8_t*>(av_malloc(READ_BUFFER_BYTES));
    AVFormatContext* format = avformat_alloc_context();
    AVIOContext* io = buffer ? avio_alloc_context(buffer, READ_BUFFER_BYTES, 0, &reader, memory_read_packet, nullptr,
                                                  nullptr)
                             : nullptr;
    if (!buffer || !format || !io) {
        if (io)
            avio_context_free(&io); // the buffer goes separately below
        av_free(buffer);
        avformat_free_context(format);
        return nullptr;
    }
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only text subtitle formats, and no protocol at all: a file that
    // probes as a playlist or another container must not make FFmpeg open
    // further files or addresses named inside it.
    format->format_whitelist = av_strdup(TEXT_SUBTITLE_FORMATS);
    format->protocol_whitelist = av_strdup("");
    ASS_Track* track = nullptr;
    // FFmpeg probes the content; no name, no format hint.
    if (avformat_open_input(&format, nullptr, nullptr, nullptr) >= 0) {
        if (avformat_find_stream_info(format, nullptr) >= 0) {
            // The first subtitle stream whose decoder opens.
            for (unsigned i = 0; i < format->nb_streams && !track; i++) {
                if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
                    track = read_stream_events(state, format, int(i));
            }
        }
        avformat_close_input(&format);
    } else {
        format = nullptr; // avformat_open_input freed it
    }
    // Avio may have replaced its buffer; free the one it holds now.
    av_freep(&io->buffer);
    avio_context_free(&io);
    avformat_free_context(format);
    return track;
}

// Reads a whole regular file of 6 bytes to 10 MiB into a fresh buffer with
// room for the conversions after it. Returns the byte count, or -1.
static int64_t read_subtitle_file(const char* path, uint8_t** bytes_out)
{
    // Non-blocking: opening a named pipe must not wait for a writer.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > EXTERNAL_FILE_MAX_BYTES ||
        st.st_size < EXTERNAL_FILE_MIN_BYTES) {
        close(fd);
        return -1;
    }
    // Room for the whole file even if it grew since fstat: one byte more
    // than the limit is read to tell.
    int64_t capacity = st.st_size + 1;
    auto* bytes = static_cast<uint8_t*>(malloc(size_t(capacity) + 32));
    if (!bytes) {
        close(fd);
        return -1;
    }
    int64_t got = 0;
    while (got < capacity) {
        ssize_t n = read(fd, bytes + got, size_t(capacity - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    close(fd);
    if (got < EXTERNAL_FILE_MIN_BYTES || got > st.st_size) {
        free(bytes);
        return -1;
    }
    *bytes_out = bytes;
    return got;
}

ASS_Track* load_external_file(SubtitleState* state, uint32_t index)
{
    // The path, copied under the lock: the window thread may grow the list.
    char path[EXTERNAL_PATH_BYTES];
    if (!external_file_path(state, index, path, sizeof path))
        return nullptr;
    // The file's bytes, within the size limits.
    uint8_t* bytes = nullptr;
    int64_t length = read_subtitle_file(path, &bytes);
    if (length < 0)
        return nullptr;
    // UTF-8 text. Three output bytes per input byte cover every
    // conversion: a Windows-1252 byte can become a 3-byte character.
    auto* text = static_cast<char*>(malloc(size_t(length) * 3 + 32));
    if (!text) {
        free(bytes);
        return nullptr;
    }
    int64_t offset = 0;
    int64_t text_length = subtitle_text_to_utf8(bytes, length, text, &offset);
    free(bytes);
    // Parsing; a file that gives no track leaves the current source.
    ASS_Track* track = parse_subtitle_memory(state, text + offset, int32_t(text_length));
    free(text);
    if (!track)
        return nullptr;
    // The new track becomes current. Closing an embedded source released
    // its fonts and the renderer with them: a new renderer comes first.
    close_subtitles(state);
    ensure_subtitle_renderer(state);
    state->external_index.store(int32_t(index), std::memory_order_relaxed);
    make_track_current(state, track);
    apply_sub_style(state);
    return track;
}

// ---- Closing -----------------------------------------------------------------

void free_bitmap_subtitles(SubtitleState* state)
{
    BitmapSubtitle* node = state->bitmap_subs_head;
    state->bitmap_subs_head = nullptr;
    state->bitmap_subs_tail = nullptr;
    while (node) {
        BitmapSubtitle* next = node->next;
        avsubtitle_free(&node->subtitle);
        free(node);
        node = next;
    }
}

bool queue_bitmap_subtitle(SubtitleState* state, AVSubtitle* sub, int64_t time_ms)
{
    BitmapSubtitle* tail = state->bitmap_subs_tail;
    if (tail && tail->subtitle.end_display_time == UINT32_MAX)
        tail->subtitle.end_display_time = uint32_t(time_ms - 1);
    if (sub->num_rects == 0) {
        avsubtitle_free(sub);
        return true;
    }
    auto* node = static_cast<BitmapSubtitle*>(calloc(1, sizeof(BitmapSubtitle)));
    if (!node) {
        avsubtitle_free(sub);
        return false;
    }
    sub->start_display_time += uint32_t(time_ms);
    if (sub->end_display_time != UINT32_MAX)
        sub->end_display_time += uint32_t(time_ms);
    for (unsigned r = 0; r < sub->num_rects; r++) {
        AVSubtitleRect* rect = sub->rects[r];
        if (rect->type != SUBTITLE_BITMAP || !rect->data[1])
            continue;
        auto* palette = rect->data[1];
        for (int c = 0; c < rect->nb_colors && c < 256; c++)
            palette[4 * c + 3] = uint8_t(255 - palette[4 * c + 3]);
    }
    node->subtitle = *sub;
    node->prev = tail;
    if (tail)
        tail->next = node;
    else
        state->bitmap_subs_head = node;
    state->bitmap_subs_tail = node;
    return true;
}
