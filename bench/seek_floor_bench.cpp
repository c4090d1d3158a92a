// The floor under a seek's latency: for each target, the wall time FFmpeg
// alone needs to seek to the key frame before it and decode up to the
// picture a progress-bar seek shows (the first one at most 30 ms before the
// target), with the decoder set up as the player sets it up (automatic
// thread count) and pictures that nothing refers to skipped on the way, as
// the player skips them. No queues, no clock, no drawing.
// Usage: seek_floor_bench CLIP TARGET_MS...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Decodes from the current read position until a picture at or after
// landing_ms comes out; false at the end of the file.
bool decode_to(AVFormatContext* format, AVCodecContext* codec, int stream, int64_t landing_ms, AVPacket* packet,
               AVFrame* frame)
{
    const AVRational ms{1, 1000};
    AVRational tb = format->streams[stream]->time_base;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index != stream) {
            av_packet_unref(packet);
            continue;
        }
        bool late = packet->pts != AV_NOPTS_VALUE && av_rescale_q(packet->pts, tb, ms) < landing_ms;
        codec->skip_frame = late && !(packet->flags & AV_PKT_FLAG_KEY) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        int sent = avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        if (sent < 0 && sent != AVERROR(EAGAIN))
            continue;
        while (avcodec_receive_frame(codec, frame) >= 0) {
            int64_t t = av_rescale_q(frame->best_effort_timestamp, tb, ms);
            av_frame_unref(frame);
            if (t >= landing_ms)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s CLIP TARGET_MS...\n", argv[0]);
        return 2;
    }
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, argv[1], nullptr, nullptr) < 0 || avformat_find_stream_info(format, nullptr) < 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) {
        fprintf(stderr, "%s has no video\n", argv[1]);
        return 1;
    }
    const AVCodec* decoder = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
    codec->pkt_timebase = format->streams[stream]->time_base;
    codec->thread_count = 0;
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        fprintf(stderr, "cannot open the decoder\n");
        return 1;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<double> times;
    for (int i = 2; i < argc; i++) {
        int64_t target = atoll(argv[i]);
        AVRational tb = format->streams[stream]->time_base;
        double start = now_ms();
        av_seek_frame(format, stream, av_rescale_q(target, AVRational{1, 1000}, tb), AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
        if (!decode_to(format, codec, stream, target - 30, packet, frame))
            continue;
        times.push_back(now_ms() - start);
        printf("seek to %lld ms: %.1f ms\n", static_cast<long long>(target), times.back());
    }
    if (times.empty())
        return 1;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    size_t p95 = (sorted.size() * 95 + 99) / 100 - 1;
    printf("decode floor over %zu seeks: median %.1f ms, p95 %.1f ms, max %.1f ms\n", sorted.size(),
           sorted[sorted.size() / 2], sorted[p95], sorted.back());
    return 0;
}
