// What keeps the player lean and quick to start: how many frame threads a
// stream gets, the first item opened while the window is made, and how long
// the engine threads keep polling fast around a seek.
#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "engine/engine.h"
#include "engine/engine_internal.h"
#include "support/fixtures.h"

namespace {

TEST(FrameThreads, the_count_follows_picture_size_rate_and_cores)
{
    struct Case {
        AVMediaType type;
        int width, height, bits;
        AVRational rate;
        int cores;
        int threads;
    } cases[] = {
        {AVMEDIA_TYPE_AUDIO, 0, 0, 0, {0, 1}, 16, 0},           // the decoder's own choice
        {AVMEDIA_TYPE_VIDEO, 640, 360, 8, {30, 1}, 16, 1},      // small: one thread
        {AVMEDIA_TYPE_VIDEO, 1280, 720, 8, {60, 1}, 16, 1},     // 8-bit below full HD
        {AVMEDIA_TYPE_VIDEO, 1280, 720, 10, {60, 1}, 16, 2},    // deeper pictures get frame threads
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {30, 1}, 2, 2},     // the usual film on two cores
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {30, 1}, 16, 2},    // more cores add only memory
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {120, 1}, 16, 4},   // a faster stream needs more
        {AVMEDIA_TYPE_VIDEO, 3840, 2160, 8, {30, 1}, 16, 4},    // four times the pixels
        {AVMEDIA_TYPE_VIDEO, 3840, 2160, 8, {60, 1}, 16, 8},
        {AVMEDIA_TYPE_VIDEO, 3840, 2160, 8, {60, 1}, 2, 2},     // never more than the cores
        {AVMEDIA_TYPE_VIDEO, 7680, 4320, 8, {120, 1}, 64, 16},  // capped
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {0, 0}, 16, 2},     // unknown rate: counted as 60
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {100000, 1}, 16, 2}, // implausible rate: the same
        {AVMEDIA_TYPE_VIDEO, 1920, 1080, 8, {30, 1}, 0, 1},     // a broken core count
    };
    for (const Case& c : cases) {
        AVCodecParameters* par = avcodec_parameters_alloc();
        par->codec_type = c.type;
        par->width = c.width;
        par->height = c.height;
        par->bits_per_coded_sample = c.bits;
        EXPECT_EQ(decoder_thread_count(par, c.rate, c.cores), c.threads)
            << c.width << "x" << c.height << " at " << c.rate.num << "/" << c.rate.den << " on " << c.cores;
        avcodec_parameters_free(&par);
    }
}

TEST(EarlyOpen, the_first_request_takes_the_container_only_for_the_same_file_without_options)
{
    const std::string clip = fixture_path("h264_aac.mp4");
    const std::string other = fixture_path("h264_1080p.mp4");
    struct Case {
        const char* name;
        std::string early;     // the file opened early
        bool stepped;          // the media thread got to it before the request
        std::string requested; // the file the request names
        bool with_options;
        bool taken;
    } cases[] = {
        {"same file", clip, true, clip, false, true},
        {"another file", clip, true, other, false, false},
        {"open options", clip, true, clip, true, false},
        {"request first", clip, false, clip, false, false},
        {"missing file", "/nonexistent/clip.mp4", true, "/nonexistent/clip.mp4", false, false},
    };
    for (const Case& c : cases) {
        PlayerContext* ctx = player_context_new();
        open_early(ctx, c.early.c_str());
        open_early(ctx, other.c_str()); // only the first is taken
        if (c.stepped)
            early_open_step(ctx);
        AVDictionary* options = nullptr;
        if (c.with_options)
            av_dict_set(&options, "probesize", "32", 0);
        AVFormatContext* format = take_early_open(ctx, c.requested.c_str(), options);
        EXPECT_EQ(format != nullptr, c.taken) << c.name;
        if (format) {
            EXPECT_GE(format->nb_streams, 2u) << c.name << ": the container is probed";
            EXPECT_GT(format->duration, 0) << c.name;
        }
        // Whatever happened, a later request opens as usual.
        EXPECT_EQ(take_early_open(ctx, c.requested.c_str(), nullptr), nullptr) << c.name;
        avformat_close_input(&format);
        av_dict_free(&options);
        player_context_free(ctx);
    }
}

TEST(SeekPolling, fast_while_a_seek_waits_and_until_its_picture_but_not_for_ever)
{
    PlayerContext* ctx = player_context_new();
    struct Case {
        int32_t target;
        int64_t settled_ago_ms; // -1: no seek was carried out
        bool fast;
    } cases[] = {
        {-1, -1, false},
        {5000, -1, true},
        {-1, 0, true},
        {-1, SEEK_SETTLE_LIMIT_MS / 2, true},
        {-1, SEEK_SETTLE_LIMIT_MS + 200, false},
    };
    for (const Case& c : cases) {
        ctx->seek_target_ms.store(c.target);
        uint32_t at = c.settled_ago_ms < 0 ? 0 : now_ms() - uint32_t(c.settled_ago_ms);
        ctx->seek_settle_wall_ms.store(c.settled_ago_ms < 0 ? 0 : (at ? at : 1));
        EXPECT_EQ(seek_in_progress(ctx), c.fast) << c.target << " " << c.settled_ago_ms;
    }
    seek_clear(ctx);
    EXPECT_FALSE(seek_in_progress(ctx)) << "a cleared seek leaves nothing to wait for";
    player_context_free(ctx);
}

} // namespace
