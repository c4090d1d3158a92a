// Hardware decoding: the eligibility rule, the pool's size and alignment,
// the least-recently-used hand-out of surfaces, the format negotiation, and
// the fall back to software decoding when no device exists. Paths that need
// a device run only where one exists; elsewhere they say they were skipped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/hwcontext.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"
#include "engine/engine.h"
#include "support/fixtures.h"

namespace {

struct QuietLog : ::testing::Environment {
    void SetUp() override { av_log_set_level(AV_LOG_QUIET); }
};
const auto* quiet_log = ::testing::AddGlobalTestEnvironment(new QuietLog);

TEST(HwDecoding, the_eligibility_rule_checks_usability_type_option_size_profile_and_configuration_in_order)
{
    const int V = AVMEDIA_TYPE_VIDEO;
    struct Case {
        const char* what;
        HwCandidate c;
        bool eligible;
    } cases[] = {
        {"H.264 High", {1, V, 1, 1920, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH, 1}, true},
        {"H.264 constrained baseline (flag ignored)",
         {1, V, 1, 640, 360, AV_CODEC_ID_H264, FF_PROFILE_H264_CONSTRAINED_BASELINE, 1}, true},
        {"H.264 High 10 stays in software", {1, V, 1, 1920, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH_10, 1}, false},
        {"H.264 High 4:4:4", {1, V, 1, 1920, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH_444_PREDICTIVE, 1}, false},
        {"HEVC Main", {1, V, 1, 1920, 1080, AV_CODEC_ID_HEVC, FF_PROFILE_HEVC_MAIN, 1}, true},
        {"HEVC Main 10", {1, V, 1, 3840, 2160, AV_CODEC_ID_HEVC, FF_PROFILE_HEVC_MAIN_10, 1}, true},
        {"HEVC range extensions", {1, V, 1, 1920, 1080, AV_CODEC_ID_HEVC, FF_PROFILE_HEVC_REXT, 1}, false},
        {"HEVC without a profile", {1, V, 1, 1920, 1080, AV_CODEC_ID_HEVC, FF_PROFILE_UNKNOWN, 1}, false},
        {"MPEG-2, any profile", {1, V, 1, 720, 576, AV_CODEC_ID_MPEG2VIDEO, 4, 1}, true},
        {"no hardware configuration", {1, V, 1, 720, 576, AV_CODEC_ID_MPEG4, 0, 0}, false},
        {"marked unusable", {0, V, 1, 1920, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH, 1}, false},
        {"an audio stream", {1, AVMEDIA_TYPE_AUDIO, 1, 1, 1, AV_CODEC_ID_H264, 100, 1}, false},
        {"option off", {1, V, 0, 1920, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH, 1}, false},
        {"no width", {1, V, 1, 0, 1080, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH, 1}, false},
        {"negative height", {1, V, 1, 1920, -1, AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH, 1}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hw_rule_allows(c.c), c.eligible) << c.what;
}

TEST(HwDecoding, the_pool_has_twelve_surfaces_more_than_the_references_aligned_per_codec)
{
    struct Count {
        int32_t refs, surfaces;
    } counts[] = {{1, 13}, {4, 16}, {16, 28}, {0, 28}, {17, 28}, {20, 28}, {-3, 28}};
    for (const Count& c : counts)
        EXPECT_EQ(hw_surface_count(c.refs), c.surfaces) << c.refs << " reference frames";
    struct Size {
        int32_t codec, width, height, aligned_width, aligned_height;
    } sizes[] = {
        {AV_CODEC_ID_HEVC, 1920, 1080, 1920, 1152},
        {AV_CODEC_ID_MPEG2VIDEO, 720, 576, 736, 576},
        {AV_CODEC_ID_H264, 1920, 1080, 1920, 1088},
        {AV_CODEC_ID_H264, 1280, 720, 1280, 720},
        {AV_CODEC_ID_VP9, 3840, 2160, 3840, 2160},
        {AV_CODEC_ID_HEVC, 3840, 2160, 3840, 2176},
    };
    for (const Size& s : sizes) {
        const int32_t a = hw_surface_alignment(s.codec);
        EXPECT_EQ(hw_align(s.width, a), s.aligned_width) << avcodec_get_name(AVCodecID(s.codec));
        EXPECT_EQ(hw_align(s.height, a), s.aligned_height) << avcodec_get_name(AVCodecID(s.codec));
    }
}

// A pool over a fake surface list: no device exists on the machines that
// run this, so the slots hold no surfaces; the hand-out, the reference
// counting and the release are the real ones.
struct FakePool {
    HwDecodeState* state;
    std::vector<AVFrame*> frames;
    explicit FakePool(int32_t count) : state(hw_state_new(count)) {}
    ~FakePool()
    {
        for (AVFrame*& f : frames)
            av_frame_free(&f);
        hw_state_unref(state);
    }
    // Hands out a surface; returns its slot or -1 with the error.
    int32_t take(int* error = nullptr)
    {
        AVFrame* f = av_frame_alloc();
        int ret = hw_hand_out(state, f);
        if (error)
            *error = ret;
        if (ret < 0) {
            av_frame_free(&f);
            return -1;
        }
        frames.push_back(f);
        return int32_t(reinterpret_cast<HwSurfaceSlot*>(f->buf[0]->data) - state->slots);
    }
    // Releases the frame that holds the slot.
    void give_back(int32_t slot)
    {
        for (AVFrame*& f : frames) {
            if (f && reinterpret_cast<HwSurfaceSlot*>(f->buf[0]->data) == &state->slots[slot]) {
                av_frame_free(&f);
                return;
            }
        }
        ADD_FAILURE() << "slot " << slot << " was not handed out";
    }
};

TEST(HwDecoding, surfaces_are_handed_out_least_recently_used_first_and_an_exhausted_pool_refuses)
{
    FakePool pool(4);
    ASSERT_NE(pool.state, nullptr);
    // A fresh pool hands its slots out in order.
    for (int32_t i = 0; i < 4; i++)
        EXPECT_EQ(pool.take(), i);
    EXPECT_EQ(pool.state->refs.load(), 5) << "one for the decoder, one per frame";
    int error = 0;
    EXPECT_EQ(pool.take(&error), -1);
    EXPECT_EQ(error, AVERROR(ENOMEM)) << "every surface held: out of memory (-12)";
    // Released out of order: the one handed out longest ago comes back first,
    // whatever the order of release.
    pool.give_back(2);
    pool.give_back(0);
    EXPECT_EQ(pool.state->refs.load(), 3);
    EXPECT_EQ(pool.take(), 0);
    EXPECT_EQ(pool.take(), 2);
    pool.give_back(1);
    pool.give_back(3);
    pool.give_back(0);
    // Free now: 1 (age 1), 3 (age 3), 0 (age 4).
    EXPECT_EQ(hw_pick_slot(pool.state), 1);
    EXPECT_EQ(pool.take(), 1);
    EXPECT_EQ(pool.take(), 3);
    EXPECT_EQ(pool.take(), 0);
    EXPECT_EQ(pool.take(), -1);
}

TEST(HwDecoding, frames_keep_their_pool_alive_after_the_decoder_lets_go)
{
    HwDecodeState* state = hw_state_new(2);
    ASSERT_NE(state, nullptr);
    AVFrame* a = av_frame_alloc();
    AVFrame* b = av_frame_alloc();
    ASSERT_EQ(hw_hand_out(state, a), 0);
    ASSERT_EQ(hw_hand_out(state, b), 0);
    hw_state_unref(state); // the decoder closes; two frames still hold surfaces
    AVFrame* copy = av_frame_clone(a);
    ASSERT_NE(copy, nullptr);
    av_frame_free(&a);
    av_frame_free(&b);
    EXPECT_EQ(state->refs.load(), 1) << "the clone still holds its surface";
    av_frame_free(&copy); // the last reference: the sanitizers see the pool freed here
    EXPECT_EQ(hw_state_new(0), nullptr);
    EXPECT_EQ(hw_state_new(HW_MAX_SURFACES + 1), nullptr);
}

struct Negotiation : ::testing::Test {
    AVCodecContext* codec = nullptr;
    HwDecoder decoder{};
    void SetUp() override
    {
        codec = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        ASSERT_NE(codec, nullptr);
        codec->codec_id = AV_CODEC_ID_H264;
        codec->sw_pix_fmt = AV_PIX_FMT_YUV420P;
        codec->coded_width = 1920;
        codec->coded_height = 1088;
        codec->refs = 4;
        decoder.hw_format = AV_PIX_FMT_VAAPI;
        codec->opaque = &decoder;
    }
    void TearDown() override
    {
        if (decoder.state)
            hw_state_unref(decoder.state);
        codec->opaque = nullptr;
        avcodec_free_context(&codec);
    }
};

TEST_F(Negotiation, the_first_software_format_is_taken_when_no_device_frame_can_be_had)
{
    hw_device_release(nullptr); // no device: the pool cannot be made
    struct Case {
        const char* what;
        std::vector<AVPixelFormat> offered;
        AVPixelFormat chosen;
    } cases[] = {
        {"a software format first is taken at once", {AV_PIX_FMT_YUV420P, AV_PIX_FMT_VAAPI}, AV_PIX_FMT_YUV420P},
        {"another device's format is passed over", {AV_PIX_FMT_CUDA, AV_PIX_FMT_NV12}, AV_PIX_FMT_NV12},
        {"our format without a device falls back", {AV_PIX_FMT_VAAPI, AV_PIX_FMT_YUV420P}, AV_PIX_FMT_YUV420P},
        {"only device formats: none", {AV_PIX_FMT_VAAPI, AV_PIX_FMT_CUDA}, AV_PIX_FMT_NONE},
        {"an empty list: none", {}, AV_PIX_FMT_NONE},
    };
    for (Case& c : cases) {
        c.offered.push_back(AV_PIX_FMT_NONE);
        EXPECT_EQ(hw_get_format(codec, c.offered.data()), c.chosen) << c.what;
        EXPECT_EQ(decoder.state, nullptr) << c.what;
        EXPECT_EQ(codec->hw_frames_ctx, nullptr) << c.what;
    }
}

TEST_F(Negotiation, software_frames_of_an_armed_decoder_get_ordinary_buffers)
{
    ASSERT_EQ(avcodec_open2(codec, codec->codec, nullptr), 0);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 64;
    frame->height = 48;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->width = 64;
    codec->height = 48;
    ASSERT_EQ(hw_get_buffer(codec, frame, 0), 0);
    EXPECT_NE(frame->data[0], nullptr);
    EXPECT_EQ(frame->hw_frames_ctx, nullptr);
    EXPECT_STREQ(hw_frame_decoder_name(frame), "software");
    av_frame_free(&frame);
}

// The decoder reports a picture it could not get memory for as bad data;
// both buffer hooks count it, so the run ends as short of memory.
TEST_F(Negotiation, a_picture_buffer_that_cannot_be_had_counts_as_memory_short_in_software_and_on_an_armed_decoder)
{
    for (bool armed : {false, true}) {
        PlayerContext* ctx = player_context_new();
        AVCodecContext* c = avcodec_alloc_context3(codec->codec);
        if (armed) {
            decoder.ctx = ctx;
            c->opaque = &decoder;
            c->get_buffer2 = hw_get_buffer;
        } else {
            decoder_note_memory(ctx, c);
        }
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->width = 640;
        c->height = 360;
        ASSERT_EQ(avcodec_open2(c, c->codec, nullptr), 0);
        AVFrame* frame = av_frame_alloc();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = 640;
        frame->height = 360;
        av_max_alloc(64);
        EXPECT_EQ(c->get_buffer2(c, frame, 0), AVERROR(ENOMEM)) << armed;
        av_max_alloc(INT_MAX);
        EXPECT_EQ(ctx->memory_short.load(), 1) << armed;
        EXPECT_EQ(c->get_buffer2(c, frame, 0), 0) << armed;
        EXPECT_EQ(ctx->memory_short.load(), 1) << "a buffer had is not counted " << armed;
        av_frame_free(&frame);
        avcodec_free_context(&c);
        decoder.ctx = nullptr;
        player_context_free(ctx);
    }
}

// Opens the first video stream of a fixture with the decoder armed for the
// device when the rule allows; returns whether it was armed.
struct OpenedStream {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    int index = -1;
    bool armed = false;
    ~OpenedStream()
    {
        void* hw = hw_decoder_armed(codec) ? codec->opaque : nullptr;
        avcodec_free_context(&codec);
        hw_decoder_release(hw);
        avformat_close_input(&format);
    }
    void open(PlayerContext* ctx, const std::string& path)
    {
        ASSERT_EQ(avformat_open_input(&format, path.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(format, nullptr), 0);
        index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        ASSERT_GE(index, 0);
        const AVStream* s = format->streams[index];
        const AVCodec* decoder = avcodec_find_decoder(s->codecpar->codec_id);
        codec = avcodec_alloc_context3(decoder);
        ASSERT_GE(avcodec_parameters_to_context(codec, s->codecpar), 0);
        armed = hw_decoder_prepare(ctx, s, codec, 1);
        ASSERT_EQ(avcodec_open2(codec, decoder, nullptr), 0);
    }
    // Decodes up to n pictures; returns the decoder names seen.
    std::vector<std::string> decode(int n)
    {
        std::vector<std::string> names;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        while (int(names.size()) < n && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0) {
                while (avcodec_receive_frame(codec, frame) >= 0) {
                    names.push_back(hw_frame_decoder_name(frame));
                    av_frame_unref(frame);
                }
            }
            av_packet_unref(packet);
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        return names;
    }
};

TEST(HwDecoding, without_a_device_streams_decode_in_software_and_the_device_is_not_tried_again)
{
    PlayerContext* ctx = nullptr; // the device needs no player
    hw_usable.store(1);
    if (hw_device_init(ctx)) {
        hw_device_release(ctx);
        GTEST_SKIP() << "a decoding device (" << "vaapi or cuda" << ") exists here: the fallback is not run";
    }
    OpenedStream s;
    s.open(ctx, fixture_path("h264_aac.mp4"));
    EXPECT_FALSE(s.armed);
    EXPECT_EQ(hw_usable.load(), 0) << "a device that cannot be made marks hardware decoding unusable";
    EXPECT_EQ(hw_device_name(), nullptr);
    std::vector<std::string> names = s.decode(5);
    ASSERT_FALSE(names.empty());
    for (const std::string& n : names)
        EXPECT_EQ(n, "software");
    // The user switching the option on tries the device again and records the result.
    EXPECT_EQ(hw_service_init(ctx), 0);
    EXPECT_EQ(hw_usable.load(), 0);
    hw_usable.store(1);
}

TEST(HwDecoding, with_a_device_h264_and_hevc_10_bit_decode_on_it)
{
    hw_usable.store(1);
    if (!hw_device_init(nullptr))
        GTEST_SKIP() << "not run: no decoding device (no VAAPI render node, no CUDA) on this machine";
    for (const char* name : {"h264_aac.mp4", "hevc10.mkv"}) {
        OpenedStream s;
        s.open(nullptr, fixture_path(name));
        std::vector<std::string> names = s.decode(40);
        ASSERT_FALSE(names.empty()) << name;
        if (!s.armed || !hw_decoder_on_device(s.codec)) {
            ADD_FAILURE() << name << ": the device exists but the stream was not decoded on it";
            continue;
        }
        EXPECT_EQ(names.back(), hw_device_name()) << name;
        const HwDecodeState* state = static_cast<const HwDecoder*>(s.codec->opaque)->state;
        EXPECT_EQ(state->surface_count, hw_surface_count(s.codec->refs)) << name;
    }
    hw_device_release(nullptr);
}

} // namespace
