// The colours of a picture: which YUV matrix and range its samples use, for
// the CPU scaler and the GL shader alike, so both paths show the same colours.
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "core/core.h"
#include "render/render_internal.h"

int32_t picture_colorspace(const AVFrame* frame)
{
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT2020_NCL:
        return frame->colorspace;
    case AVCOL_SPC_BT2020_CL:
        return AVCOL_SPC_BT2020_NCL;
    default:
        return frame->width >= 1280 || frame->height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;
    }
}

bool picture_full_range(const AVFrame* frame)
{
    switch (frame->format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return frame->color_range == AVCOL_RANGE_JPEG;
    }
}

void colour_coefficients(int32_t colorspace, double* kr, double* kb)
{
    switch (colorspace) {
    case AVCOL_SPC_BT709:
        *kr = 0.2126;
        *kb = 0.0722;
        return;
    case AVCOL_SPC_SMPTE240M:
        *kr = 0.212;
        *kb = 0.087;
        return;
    case AVCOL_SPC_FCC:
        *kr = 0.30;
        *kb = 0.11;
        return;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        *kr = 0.2627;
        *kb = 0.0593;
        return;
    default:
        *kr = 0.299;
        *kb = 0.114;
        return;
    }
}
