// Hardware decoding: the process-wide device (VAAPI on the first render
// node that initialises, else CUDA), the eligibility rule, and the decoder
// set-up a video stream gets when it may be decoded on the device.
#include <cstdio>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/hwcontext.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"

std::atomic<int32_t> hw_usable{1};

namespace {

// The device and its type; made and released by the media thread, and made
// by the window thread when the user switches the option on, so both hold
// device_lock around them.
SpinLock device_lock{0};
std::atomic<AVBufferRef*> device{nullptr};
std::atomic<int32_t> device_type{AV_HWDEVICE_TYPE_NONE};

constexpr int FIRST_RENDER_NODE = 128;
constexpr int RENDER_NODE_COUNT = 64;

bool render_node_exists(int n)
{
    char path[32];
    snprintf(path, sizeof path, "/dev/dri/renderD%d", n);
    FILE* f = fopen(path, "r");
    if (!f)
        return false;
    fclose(f);
    return true;
}

AVBufferRef* open_vaapi()
{
    for (int n = FIRST_RENDER_NODE; n < FIRST_RENDER_NODE + RENDER_NODE_COUNT; n++) {
        if (!render_node_exists(n))
            continue;
        char path[32];
        snprintf(path, sizeof path, "/dev/dri/renderD%d", n);
        AVBufferRef* ref = nullptr;
        if (av_hwdevice_ctx_create(&ref, AV_HWDEVICE_TYPE_VAAPI, path, nullptr, 0) == 0)
            return ref;
    }
    return nullptr;
}

bool codec_has_config(const AVCodec* codec, AVHWDeviceType type, AVPixelFormat* format)
{
    for (int i = 0;; i++) {
        const AVCodecHWConfig* config = avcodec_get_hw_config(codec, i);
        if (!config)
            return false;
        if (config->device_type == type &&
            (config->methods & (AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX | AV_CODEC_HW_CONFIG_METHOD_HW_FRAMES_CTX))) {
            if (format)
                *format = config->pix_fmt;
            return true;
        }
    }
}

// Before the device exists, a configuration for either kind of device counts.
bool any_config(const AVCodec* codec)
{
    int32_t type = device_type.load(std::memory_order_acquire);
    if (type != AV_HWDEVICE_TYPE_NONE)
        return codec_has_config(codec, AVHWDeviceType(type), nullptr);
    return codec_has_config(codec, AV_HWDEVICE_TYPE_VAAPI, nullptr) ||
           codec_has_config(codec, AV_HWDEVICE_TYPE_CUDA, nullptr);
}

} // namespace

bool hw_rule_allows(const HwCandidate& c)
{
    if (c.usable != 1 || c.media_type != AVMEDIA_TYPE_VIDEO || !c.option_on)
        return false;
    if (c.width <= 0 || c.height <= 0)
        return false;
    if (c.codec_id == AV_CODEC_ID_H264 && (c.profile & ~FF_PROFILE_H264_CONSTRAINED) > FF_PROFILE_H264_HIGH)
        return false;
    if (c.codec_id == AV_CODEC_ID_HEVC && c.profile != FF_PROFILE_HEVC_MAIN && c.profile != FF_PROFILE_HEVC_MAIN_10)
        return false;
    return c.has_config != 0;
}

int hw_device_init(PlayerContext*)
{
    if (device.load(std::memory_order_acquire))
        return 1;
    SpinGuard guard(&device_lock);
    if (device.load(std::memory_order_relaxed))
        return 1;
    AVHWDeviceType type = AV_HWDEVICE_TYPE_VAAPI;
    AVBufferRef* ref = open_vaapi();
    if (!ref) {
        type = AV_HWDEVICE_TYPE_CUDA;
        if (av_hwdevice_ctx_create(&ref, type, nullptr, nullptr, 0) != 0)
            ref = nullptr;
    }
    if (!ref)
        return 0;
    device_type.store(type, std::memory_order_release);
    device.store(ref, std::memory_order_release);
    return 1;
}

int hw_service_init(PlayerContext* ctx)
{
    int ok = hw_device_init(ctx);
    hw_usable.store(ok, std::memory_order_relaxed);
    return ok;
}

void hw_device_release(PlayerContext*)
{
    SpinGuard guard(&device_lock);
    AVBufferRef* ref = device.exchange(nullptr, std::memory_order_acq_rel);
    // Decoders and frames that still use the device hold references of their own.
    av_buffer_unref(&ref);
}

const char* hw_device_name()
{
    if (!device.load(std::memory_order_acquire))
        return nullptr;
    return device_type.load(std::memory_order_acquire) == AV_HWDEVICE_TYPE_CUDA ? "cuda" : "vaapi";
}

AVBufferRef* hw_device_ref()
{
    SpinGuard guard(&device_lock);
    AVBufferRef* ref = device.load(std::memory_order_relaxed);
    return ref ? av_buffer_ref(ref) : nullptr;
}

int32_t hw_device_format(const AVCodec* codec)
{
    int32_t type = device_type.load(std::memory_order_acquire);
    AVPixelFormat format = AV_PIX_FMT_NONE;
    if (type == AV_HWDEVICE_TYPE_NONE || !codec_has_config(codec, AVHWDeviceType(type), &format))
        return -1;
    return format;
}

bool hw_decoder_prepare(PlayerContext* ctx, const AVStream* stream, AVCodecContext* codec, int32_t option_on)
{
    const AVCodecParameters* par = stream->codecpar;
    HwCandidate c{hw_usable.load(std::memory_order_relaxed),
                  par->codec_type,
                  option_on,
                  par->width,
                  par->height,
                  par->codec_id,
                  par->profile,
                  any_config(codec->codec)};
    if (!hw_rule_allows(c))
        return false;
    if (!hw_service_init(ctx))
        return false; // hw_usable is 0 now: software until the user switches the option on
    const int32_t format = hw_device_format(codec->codec);
    if (format < 0)
        return false; // the device made is of the other kind
    auto* decoder = new (std::nothrow) HwDecoder{};
    if (!decoder)
        return false;
    decoder->ctx = ctx;
    decoder->hw_format = format;
    codec->opaque = decoder;
    codec->thread_count = 1;
    codec->get_format = hw_get_format;
    codec->get_buffer2 = hw_get_buffer;
    return true;
}

bool hw_decoder_armed(const AVCodecContext* codec)
{
    return codec && codec->get_format == hw_get_format && codec->opaque;
}

bool hw_decoder_on_device(const AVCodecContext* codec)
{
    return hw_decoder_armed(codec) && static_cast<const HwDecoder*>(codec->opaque)->state;
}

void hw_decoder_release(void* opaque)
{
    auto* decoder = static_cast<HwDecoder*>(opaque);
    if (!decoder)
        return;
    if (decoder->state)
        hw_state_unref(decoder->state);
    delete decoder;
}

bool hw_fallback_wanted(PlayerContext* ctx)
{
    const AVCodecContext* codec = ctx->slots[SLOT_VIDEO].codec;
    if (ctx->slots[SLOT_VIDEO].stream_index.load(std::memory_order_acquire) < 0 || !hw_decoder_armed(codec))
        return false;
    return static_cast<const HwDecoder*>(codec->opaque)->fallback.load(std::memory_order_acquire) != 0;
}

const char* hw_frame_decoder_name(const AVFrame* frame)
{
    if (!frame || !frame->hw_frames_ctx)
        return "software";
    const auto* frames = reinterpret_cast<const AVHWFramesContext*>(frame->hw_frames_ctx->data);
    return frames->device_ctx->type == AV_HWDEVICE_TYPE_CUDA ? "cuda" : "vaapi";
}
