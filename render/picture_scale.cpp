// The picture's scaling into the frame buffer, with a cached scaler.
// A 4:2:0 picture that shrinks is scaled in YUV first and converted to BGRA
// at its drawn size afterwards: the conversion at equal sizes runs the
// library's vectorised converter, which saves about a sixth of the scaling
// time of a 1080p picture shown in a smaller window.
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>

#include "core/core.h"
#include "render/render_internal.h"

namespace {

// Pictures that are RGB already (stills, animations) keep their full
// colour resolution: the scaler would otherwise halve it on the way.
int full_colour_flags(const AVFrame* frame)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    return desc && (desc->flags & AV_PIX_FMT_FLAG_RGB) ? SWS_FULL_CHR_H_INP | SWS_FULL_CHR_H_INT : 0;
}

// The scaler converts YUV with the picture's own matrix and range, as the
// GL path's shader does.
void tell_scaler_colours(FrameDisplay* d, const AVFrame* frame)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!d->scaler || !desc || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)))
        return;
    const int32_t colorspace = picture_colorspace(frame);
    const int32_t full = picture_full_range(frame) ? 1 : 0;
    const int32_t colour = colorspace << 1 | full;
    if (colour == d->scaler_colour)
        return;
    d->scaler_colour = colour;
    sws_setColorspaceDetails(d->scaler, sws_getCoefficients(colorspace), full, sws_getCoefficients(SWS_CS_DEFAULT),
                             1, 0, 1 << 16, 1 << 16);
}

bool shrinks_in_yuv(const AVFrame* frame, int32_t width, int32_t height)
{
    return frame->format == AV_PIX_FMT_YUV420P && width < frame->width && height < frame->height;
}

void drop_shrink_stage(FrameDisplay* d)
{
    sws_freeContext(d->shrink_scaler);
    d->shrink_scaler = nullptr;
    av_frame_free(&d->shrunk_frame);
}

// The YUV stage: a scaler to width x height and the frame it fills. False
// (nothing kept) when either cannot be had.
bool make_shrink_stage(FrameDisplay* d, const AVFrame* frame, int32_t width, int32_t height)
{
    d->shrunk_frame = av_frame_alloc();
    if (d->shrunk_frame) {
        d->shrunk_frame->format = AV_PIX_FMT_YUV420P;
        d->shrunk_frame->width = width;
        d->shrunk_frame->height = height;
        if (av_frame_get_buffer(d->shrunk_frame, 0) == 0)
            d->shrink_scaler = sws_getContext(frame->width, frame->height, AV_PIX_FMT_YUV420P, width, height,
                                              AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    }
    if (d->shrink_scaler)
        return true;
    drop_shrink_stage(d);
    return false;
}

void make_scalers(FrameDisplay* d, const AVFrame* frame, int32_t width, int32_t height)
{
    drop_shrink_stage(d);
    if (frame->width <= 0 || frame->height <= 0 || width <= 0 || height <= 0 ||
        !sws_isSupportedInput(AVPixelFormat(frame->format))) {
        sws_freeContext(d->scaler);
        d->scaler = nullptr;
        return;
    }
    if (shrinks_in_yuv(frame, width, height) && make_shrink_stage(d, frame, width, height)) {
        d->scaler = sws_getCachedContext(d->scaler, width, height, AV_PIX_FMT_YUV420P, width, height,
                                         AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (d->scaler)
            return;
        drop_shrink_stage(d);
    }
    d->scaler = sws_getCachedContext(d->scaler, frame->width, frame->height, AVPixelFormat(frame->format), width,
                                     height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR | full_colour_flags(frame), nullptr,
                                     nullptr, nullptr);
}

} // namespace

void scale_picture(FrameDisplay* d, const AVFrame* frame, const PictureFit& fit)
{
    // The drawn width even: the scaler writes pixel pairs.
    const int32_t width = (fit.width + 1) & ~1;
    const int32_t key[5] = {frame->width, frame->height, frame->format, fit.width, fit.height};
    if (memcmp(key, d->scaler_key, sizeof key) != 0) {
        d->scaler_colour = -1;
        memcpy(d->scaler_key, key, sizeof key);
        make_scalers(d, frame, width, fit.height);
    }
    if (!d->scaler)
        return;
    tell_scaler_colours(d, frame);
    uint8_t* planes[4] = {d->picture_origin, nullptr, nullptr, nullptr};
    int strides[4] = {int(d->buffer_pitch), 0, 0, 0};
    if (d->shrink_scaler) {
        AVFrame* shrunk = d->shrunk_frame;
        sws_scale(d->shrink_scaler, frame->data, frame->linesize, 0, frame->height, shrunk->data, shrunk->linesize);
        sws_scale(d->scaler, shrunk->data, shrunk->linesize, 0, shrunk->height, planes, strides);
        return;
    }
    sws_scale(d->scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
}

void scale_release(FrameDisplay* d)
{
    drop_shrink_stage(d);
    sws_freeContext(d->scaler);
    d->scaler = nullptr;
}
