// Hardware decoding: the negotiation of device frames with FFmpeg, the pool
// of surfaces it makes (sized from the stream's reference frames, aligned
// per codec, handed out least recently used first) and their release.
#include <cstdio>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

#include "core/core.h"
#include "decode/decode_internal.h"

namespace {

const char EXHAUSTED_CAPTION[] = "解码出错";
const char EXHAUSTED_TEXT[] = "显存申请过小, 出现此问题的视频如果方便可发送给作者!\n\n"
                              "联系: https://github.com/moravista/moravista/issues";

// The surfaces hold NV12, or P010 for 10-bit 4:2:0 streams; other layouts
// are decoded in software.
AVPixelFormat surface_format(AVPixelFormat software)
{
    switch (software) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_NV12:
        return AV_PIX_FMT_NV12;
    case AV_PIX_FMT_YUV420P10LE:
    case AV_PIX_FMT_P010LE:
        return AV_PIX_FMT_P010LE;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// A pool made for an earlier negotiation still serves when the stream's
// size, bit depth and reference count fit into it.
bool pool_fits(const HwDecodeState* state, const AVCodecContext* codec, AVPixelFormat sw_format)
{
    return state->sw_format == sw_format && state->width >= codec->coded_width &&
           state->height >= codec->coded_height && hw_surface_count(codec->refs) <= state->surface_count;
}

// Makes the device's frame pool and takes every one of its surfaces into
// the slots; null on failure (the caller then decodes in software).
HwDecodeState* make_pool(HwDecoder* decoder, const AVCodecContext* codec, AVPixelFormat sw_format)
{
    AVBufferRef* device = hw_device_ref();
    if (!device)
        return nullptr;
    AVBufferRef* frames = av_hwframe_ctx_alloc(device);
    av_buffer_unref(&device);
    if (!frames)
        return nullptr;
    const int32_t count = hw_surface_count(codec->refs);
    const int32_t alignment = hw_surface_alignment(codec->codec_id);
    auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
    fc->format = AVPixelFormat(decoder->hw_format);
    fc->sw_format = sw_format;
    fc->width = hw_align(codec->coded_width, alignment);
    fc->height = hw_align(codec->coded_height, alignment);
    fc->initial_pool_size = count;
    HwDecodeState* state = av_hwframe_ctx_init(frames) == 0 ? hw_state_new(count) : nullptr;
    if (!state) {
        av_buffer_unref(&frames);
        return nullptr;
    }
    state->frames = frames;
    state->hw_format = decoder->hw_format;
    state->sw_format = sw_format;
    state->width = fc->width;
    state->height = fc->height;
    for (int32_t i = 0; i < count; i++) {
        AVFrame* surface = av_frame_alloc();
        state->slots[i].surface = surface;
        if (!surface || av_hwframe_get_buffer(frames, surface, 0) < 0) {
            hw_state_unref(state);
            return nullptr;
        }
    }
    return state;
}

// Every device failure ends hardware decoding for this stream and the
// following ones, until the user switches the option on again.
void give_up_device(HwDecoder* decoder, const char* why)
{
    if (!decoder->failure_reported) {
        decoder->failure_reported = 1;
        fprintf(stderr, "moravista: hardware decoding failed (%s); decoding in software\n", why);
    }
    hw_usable.store(0, std::memory_order_relaxed);
    decoder->fallback.store(1, std::memory_order_release);
}

void report_exhausted(HwDecoder* decoder, HwDecodeState* state)
{
    if (!state->exhausted_shown) {
        state->exhausted_shown = 1;
        window_post(MSG_ERROR_BOX, reinterpret_cast<uintptr_t>(EXHAUSTED_CAPTION),
                    reinterpret_cast<intptr_t>(EXHAUSTED_TEXT));
    }
    give_up_device(decoder, "every surface is in use");
}

} // namespace

int32_t hw_surface_count(int32_t reference_frames)
{
    return reference_frames >= 1 && reference_frames <= 16 ? reference_frames + 12 : 16 + 12;
}

int32_t hw_surface_alignment(int32_t codec_id)
{
    if (codec_id == AV_CODEC_ID_HEVC)
        return 128;
    if (codec_id == AV_CODEC_ID_MPEG2VIDEO)
        return 32;
    return 16;
}

int32_t hw_align(int32_t side, int32_t alignment)
{
    return (side + alignment - 1) / alignment * alignment;
}

HwDecodeState* hw_state_new(int32_t count)
{
    if (count < 1 || count > HW_MAX_SURFACES)
        return nullptr;
    auto* state = new (std::nothrow) HwDecodeState{};
    if (!state)
        return nullptr;
    state->refs.store(1, std::memory_order_relaxed);
    state->surface_count = count;
    return state;
}

void hw_state_unref(HwDecodeState* state)
{
    if (!state || state->refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    for (int32_t i = 0; i < state->surface_count; i++)
        av_frame_free(&state->slots[i].surface);
    av_buffer_unref(&state->frames);
    delete state;
}

int32_t hw_pick_slot(const HwDecodeState* state)
{
    int32_t best = -1;
    for (int32_t i = 0; i < state->surface_count; i++) {
        if (state->slots[i].owner.load(std::memory_order_acquire))
            continue;
        if (best < 0 || state->slots[i].age < state->slots[best].age)
            best = i;
    }
    return best;
}

void hw_surface_release(void* opaque, uint8_t*)
{
    auto* slot = static_cast<HwSurfaceSlot*>(opaque);
    HwDecodeState* state = slot->owner.exchange(nullptr, std::memory_order_acq_rel);
    hw_state_unref(state);
}

int hw_hand_out(HwDecodeState* state, AVFrame* frame)
{
    const int32_t i = hw_pick_slot(state);
    if (i < 0)
        return AVERROR(ENOMEM);
    HwSurfaceSlot* slot = &state->slots[i];
    AVBufferRef* frames = nullptr;
    if (state->frames && !(frames = av_buffer_ref(state->frames)))
        return AVERROR(ENOMEM);
    state->refs.fetch_add(1, std::memory_order_relaxed);
    slot->age = state->next_age++;
    slot->owner.store(state, std::memory_order_release);
    AVBufferRef* buffer =
        av_buffer_create(reinterpret_cast<uint8_t*>(slot), 0, hw_surface_release, slot, AV_BUFFER_FLAG_READONLY);
    if (!buffer) {
        hw_surface_release(slot, nullptr); // the caller's reference keeps the state
        av_buffer_unref(&frames);
        return AVERROR(ENOMEM);
    }
    frame->buf[0] = buffer;
    if (slot->surface) {
        for (int k = 0; k < AV_NUM_DATA_POINTERS; k++) {
            frame->data[k] = slot->surface->data[k];
            frame->linesize[k] = slot->surface->linesize[k];
        }
    }
    av_buffer_unref(&frame->hw_frames_ctx);
    frame->hw_frames_ctx = frames;
    return 0;
}

int hw_get_buffer(AVCodecContext* codec, AVFrame* frame, int flags)
{
    auto* decoder = static_cast<HwDecoder*>(codec->opaque);
    HwDecodeState* state = decoder ? decoder->state : nullptr;
    if (!state || frame->format != decoder->hw_format) {
        int ret = avcodec_default_get_buffer2(codec, frame, flags);
        if (decoder && decoder->ctx) // a device may be tried with no player
            note_decode_result(decoder->ctx, ret);
        return ret;
    }
    int ret = hw_hand_out(state, frame);
    if (ret == AVERROR(ENOMEM) && hw_pick_slot(state) < 0)
        report_exhausted(decoder, state);
    return ret;
}

// A stream the device was meant for is decoded in software after all (its
// profile or size is not offered, or the driver could not make the
// decoder, when FFmpeg asks again without the device's format): said once.
static void report_software(HwDecoder* decoder)
{
    if (!decoder || decoder->failure_reported || decoder->fallback.load(std::memory_order_relaxed))
        return;
    decoder->failure_reported = 1;
    fprintf(stderr, "moravista: the decoding device cannot decode this stream; decoding in software\n");
}

AVPixelFormat hw_get_format(AVCodecContext* codec, const AVPixelFormat* formats)
{
    auto* decoder = static_cast<HwDecoder*>(codec->opaque);
    for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; p++) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(*p);
        if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) {
            report_software(decoder);
            return *p; // the first software format: FFmpeg decodes in software
        }
        if (!decoder || *p != decoder->hw_format || decoder->fallback.load(std::memory_order_relaxed))
            continue;
        const AVPixelFormat sw_format = surface_format(codec->sw_pix_fmt);
        if (sw_format == AV_PIX_FMT_NONE)
            continue;
        if (!decoder->state || !pool_fits(decoder->state, codec, sw_format)) {
            HwDecodeState* made = make_pool(decoder, codec, sw_format);
            if (!made)
                continue;
            // Frames of the old pool keep it alive until they are released.
            hw_state_unref(decoder->state);
            decoder->state = made;
        }
        av_buffer_unref(&codec->hw_frames_ctx);
        codec->hw_frames_ctx = av_buffer_ref(decoder->state->frames);
        if (!codec->hw_frames_ctx)
            continue;
        return *p;
    }
    return AV_PIX_FMT_NONE;
}

void hw_decode_failed(AVCodecContext* codec, int error)
{
    if (!hw_decoder_on_device(codec) || error == AVERROR(EAGAIN) || error == AVERROR_EOF ||
        error == AVERROR_INVALIDDATA)
        return;
    auto* decoder = static_cast<HwDecoder*>(codec->opaque);
    if (error == AVERROR(ENOMEM) && hw_pick_slot(decoder->state) < 0)
        return; // already reported by hw_get_buffer
    char text[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(error, text, sizeof text);
    give_up_device(decoder, text);
}
