// The picture on the GL path: a software frame's planes are uploaded as
// they are and converted to RGB by the picture shader with the frame's own
// matrix and range; a VAAPI frame is imported without a copy through
// dma-buf; other device frames are copied to memory first; formats the
// shader cannot read are converted to BGRA on the CPU.
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/hwcontext_drm.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "core/core.h"
#include "render/gl_internal.h"

namespace {

// How a format's planes map to textures.
struct PlaneFormat {
    GlPlaneLayout layout;
    int32_t planes;
    int32_t depth;      // bits of a sample
    int32_t bytes;      // bytes of one component
    int32_t shift;      // bits the sample is moved up in its container (P010: 6)
    bool full_range;    // a "J" format
};

bool describe(AVPixelFormat format, PlaneFormat* planes)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d)
        return false;
    *planes = PlaneFormat{GL_LAYOUT_BGRA, 1, 8, 1, 0, false};
    if (format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_BGR0)
        return true;
    if (format == AV_PIX_FMT_RGBA || format == AV_PIX_FMT_RGB0) {
        planes->layout = GL_LAYOUT_RGBA;
        return true;
    }
    const uint64_t unsupported = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                 AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_FLOAT |
                                 AV_PIX_FMT_FLAG_BAYER;
    if (d->flags & unsupported)
        return false;
    const AVComponentDescriptor* c = d->comp;
    planes->depth = c[0].depth;
    planes->bytes = c[0].depth > 8 ? 2 : 1;
    planes->shift = c[0].shift;
    planes->full_range = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                       format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    if (planes->depth > 16 || c[0].plane != 0 || c[0].step != planes->bytes)
        return false;
    if (d->nb_components == 1) {
        planes->layout = GL_LAYOUT_GRAY;
        planes->full_range = true;
        return true;
    }
    if (d->nb_components < 3 || c[1].depth != planes->depth || c[2].depth != planes->depth)
        return false;
    if (c[1].plane == 1 && c[2].plane == 2 && c[1].step == planes->bytes && c[2].step == planes->bytes) {
        planes->layout = GL_LAYOUT_THREE_PLANES;
        planes->planes = 3;
        return true;
    }
    if (c[1].plane == 1 && c[2].plane == 1 && c[1].offset == 0 && c[2].offset == planes->bytes &&
        c[1].step == 2 * planes->bytes) {
        planes->layout = GL_LAYOUT_LUMA_CHROMA;
        planes->planes = 2;
        return true;
    }
    return false;
}

// The colour conversion for the planes' depth and the frame's matrix and
// range: rgb = matrix * (yuv * scale + offset), yuv each 0..1 of the depth.
void set_conversion(const GlPictureProgram& p, const PlaneFormat& planes, const AVFrame* frame)
{
    const double max_value = double((1u << planes.depth) - 1);
    const float scale =
        planes.bytes == 1 ? 1.0f : float(65535.0 / (max_value * double(1u << planes.shift)));
    double kr, kb;
    colour_coefficients(picture_colorspace(frame), &kr, &kb);
    const double kg = 1.0 - kr - kb;
    const double unit = double(1u << (planes.depth - 8));
    const bool full = planes.full_range || picture_full_range(frame);
    const double y_offset = full ? 0.0 : -16.0 * unit / max_value;
    const double y_scale = full ? 1.0 : max_value / (219.0 * unit);
    const double c_offset = -128.0 * unit / max_value;
    const double c_scale = full ? max_value / (255.0 * unit) : max_value / (224.0 * unit);
    // Rows of the matrix (uploaded transposed into GLSL's column order).
    const float m[9] = {
        float(y_scale), 0.0f, float(c_scale * 2.0 * (1.0 - kr)),
        float(y_scale), float(-c_scale * 2.0 * kb * (1.0 - kb) / kg), float(-c_scale * 2.0 * kr * (1.0 - kr) / kg),
        float(y_scale), float(c_scale * 2.0 * (1.0 - kb)), 0.0f,
    };
    glUniform1i(p.layout, planes.layout);
    glUniform1f(p.sample_scale, scale);
    glUniformMatrix3fv(p.matrix, 1, GL_TRUE, m);
    glUniform3f(p.offset, float(y_offset), float(c_offset), float(c_offset));
}

void draw_planes(GlPresenter* gl, const PlaneFormat& planes, const AVFrame* frame, const OsdRect& rect)
{
    const GlPictureProgram& p = gl->picture;
    glUseProgram(p.program);
    glUniform2f(p.target_size, float(gl->client_width), float(gl->client_height));
    set_conversion(p, planes, frame);
    glDisable(GL_BLEND);
    gl_draw_quad(gl, float(rect.left), float(rect.top), float(rect.right - rect.left), float(rect.bottom - rect.top),
                 0.0f, 0.0f, 1.0f, 1.0f);
}

// Uploads the planes of a frame the shader reads as it is.
bool upload_planes(GlPresenter* gl, const PlaneFormat& planes, const AVFrame* frame)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    for (int32_t i = 0; i < planes.planes; i++) {
        const bool chroma = i > 0;
        const int32_t w = chroma ? AV_CEIL_RSHIFT(frame->width, d->log2_chroma_w) : frame->width;
        const int32_t h = chroma ? AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h) : frame->height;
        int32_t components = 1;
        GLenum internal = planes.bytes == 1 ? GL_R8 : GL_R16, format = GL_RED;
        if (planes.layout == GL_LAYOUT_BGRA || planes.layout == GL_LAYOUT_RGBA) {
            components = 4;
            internal = GL_RGBA8;
            format = GL_RGBA;
        } else if (planes.layout == GL_LAYOUT_LUMA_CHROMA && chroma) {
            components = 2;
            internal = planes.bytes == 1 ? GL_RG8 : GL_RG16;
            format = GL_RG;
        }
        const int32_t texel = components * planes.bytes;
        if (!frame->data[i] || frame->linesize[i] <= 0 || frame->linesize[i] % texel != 0)
            return false;
        glActiveTexture(GL_TEXTURE0 + GLenum(i));
        gl_texture_reserve(&gl->planes[i], w, h, internal);
        gl_texture_upload(&gl->planes[i], 0, 0, w, h, format, planes.bytes == 1 ? GL_UNSIGNED_BYTE : GL_UNSIGNED_SHORT,
                          frame->data[i], frame->linesize[i], texel);
    }
    glActiveTexture(GL_TEXTURE0);
    return glGetError() == GL_NO_ERROR;
}

// A frame in a format the shader cannot read, as BGRA of the same size.
const AVFrame* convert_on_cpu(GlPresenter* gl, const AVFrame* frame)
{
    if (!gl->converted && !(gl->converted = av_frame_alloc()))
        return nullptr;
    AVFrame* out = gl->converted;
    if (out->width != frame->width || out->height != frame->height || !out->data[0]) {
        av_frame_unref(out);
        out->width = frame->width;
        out->height = frame->height;
        out->format = AV_PIX_FMT_BGRA;
        if (av_frame_get_buffer(out, 32) < 0)
            return nullptr;
    }
    gl->converter = sws_getCachedContext(gl->converter, frame->width, frame->height, AVPixelFormat(frame->format),
                                         frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr,
                                         nullptr);
    if (!gl->converter)
        return nullptr;
    sws_scale(gl->converter, frame->data, frame->linesize, 0, frame->height, out->data, out->linesize);
    return out;
}

// ---- device frames ----

constexpr uint32_t fourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint64_t MODIFIER_INVALID = 0x00ffffffffffffffULL;

// One plane of a mapped frame as a texture backed by the dma-buf.
bool import_plane(GlPresenter* gl, const AVDRMFrameDescriptor* desc, const AVDRMPlaneDescriptor& plane, int32_t w,
                  int32_t h, uint32_t drm_format)
{
    const AVDRMObjectDescriptor& object = desc->objects[plane.object_index];
    EGLint attributes[32];
    int n = 0;
    for (EGLint v : {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_LINUX_DRM_FOURCC_EXT, EGLint(drm_format),
                     EGL_DMA_BUF_PLANE0_FD_EXT, object.fd, EGL_DMA_BUF_PLANE0_OFFSET_EXT, EGLint(plane.offset),
                     EGL_DMA_BUF_PLANE0_PITCH_EXT, EGLint(plane.pitch)})
        attributes[n++] = v;
    if (object.format_modifier != MODIFIER_INVALID &&
        epoxy_has_egl_extension(gl->display, "EGL_EXT_image_dma_buf_import_modifiers")) {
        attributes[n++] = EGL_DMA_BUF_PLANE0_MODIFIER_LO_EXT;
        attributes[n++] = EGLint(object.format_modifier & 0xFFFFFFFF);
        attributes[n++] = EGL_DMA_BUF_PLANE0_MODIFIER_HI_EXT;
        attributes[n++] = EGLint(object.format_modifier >> 32);
    }
    attributes[n] = EGL_NONE;
    EGLImageKHR image = eglCreateImageKHR(gl->display, EGL_NO_CONTEXT, EGL_LINUX_DMA_BUF_EXT, nullptr, attributes);
    if (image == EGL_NO_IMAGE_KHR)
        return false;
    GlImport* im = &gl->import;
    const int32_t k = im->count++;
    im->images[k] = image;
    glGenTextures(1, &im->textures[k]);
    glActiveTexture(GL_TEXTURE0 + GLenum(k));
    glBindTexture(GL_TEXTURE_2D, im->textures[k]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glEGLImageTargetTexture2DOES(GL_TEXTURE_2D, image);
    glActiveTexture(GL_TEXTURE0);
    return glGetError() == GL_NO_ERROR;
}

// A VAAPI frame's two planes (luma, interleaved chroma) as textures over its
// own memory; false when the driver cannot export or EGL cannot import.
bool import_frame(PlayerContext* ctx, GlPresenter* gl, const AVFrame* frame, PlaneFormat* planes)
{
    const auto* frames = reinterpret_cast<const AVHWFramesContext*>(frame->hw_frames_ctx->data);
    const bool p010 = frames->sw_format == AV_PIX_FMT_P010LE;
    if (!p010 && frames->sw_format != AV_PIX_FMT_NV12)
        return false;
    AVFrame* mapped = av_frame_alloc();
    if (!mapped)
        return false;
    mapped->format = AV_PIX_FMT_DRM_PRIME;
    int ret;
    {
        // The decoder may be writing other surfaces of the same device.
        SpinGuard guard(&ctx->video_decode_lock);
        ret = av_hwframe_map(mapped, frame, AV_HWFRAME_MAP_READ);
    }
    gl->import.mapped = mapped;
    if (ret < 0)
        return false;
    const auto* desc = reinterpret_cast<const AVDRMFrameDescriptor*>(mapped->data[0]);
    int32_t k = 0;
    for (int l = 0; l < desc->nb_layers; l++) {
        for (int p = 0; p < desc->layers[l].nb_planes && k < 2; p++, k++) {
            const int32_t w = k == 0 ? frame->width : (frame->width + 1) / 2;
            const int32_t h = k == 0 ? frame->height : (frame->height + 1) / 2;
            const uint32_t format = k == 0 ? (p010 ? fourcc('R', '1', '6', ' ') : fourcc('R', '8', ' ', ' '))
                                           : (p010 ? fourcc('G', 'R', '3', '2') : fourcc('G', 'R', '8', '8'));
            if (!import_plane(gl, desc, desc->layers[l].planes[p], w, h, format))
                return false;
        }
    }
    *planes = PlaneFormat{GL_LAYOUT_LUMA_CHROMA, 2, p010 ? 10 : 8, p010 ? 2 : 1, p010 ? 6 : 0, false};
    return k == 2;
}

const AVFrame* transfer_frame(PlayerContext* ctx, GlPresenter* gl, const AVFrame* frame)
{
    if (!gl->transferred && !(gl->transferred = av_frame_alloc()))
        return nullptr;
    av_frame_unref(gl->transferred);
    int ret;
    {
        SpinGuard guard(&ctx->video_decode_lock);
        ret = av_hwframe_transfer_data(gl->transferred, frame, 0);
    }
    if (ret < 0)
        return nullptr;
    av_frame_copy_props(gl->transferred, frame);
    return gl->transferred;
}

} // namespace

void gl_release_import(GlPresenter* gl)
{
    GlImport* im = &gl->import;
    for (int32_t k = 0; k < im->count; k++) {
        glDeleteTextures(1, &im->textures[k]);
        eglDestroyImageKHR(gl->display, im->images[k]);
    }
    im->count = 0;
    av_frame_free(&im->mapped);
}

void gl_release_converter(GlPresenter* gl)
{
    sws_freeContext(gl->converter);
    gl->converter = nullptr;
    av_frame_free(&gl->converted);
    av_frame_free(&gl->transferred);
}

bool gl_draw_picture(PlayerContext* ctx, GlPresenter* gl, AVFrame* frame, const OsdRect& rect)
{
    gl_release_import(gl);
    PlaneFormat planes;
    const AVFrame* source = frame;
    if (frame->hw_frames_ctx) {
        const auto* frames = reinterpret_cast<const AVHWFramesContext*>(frame->hw_frames_ctx->data);
        if (gl->dma_buf && !gl->dma_buf_failed && frames->device_ctx->type == AV_HWDEVICE_TYPE_VAAPI) {
            if (import_frame(ctx, gl, frame, &planes)) {
                for (int32_t k = 0; k < 2; k++) {
                    glActiveTexture(GL_TEXTURE0 + GLenum(k));
                    glBindTexture(GL_TEXTURE_2D, gl->import.textures[k]);
                }
                glActiveTexture(GL_TEXTURE0);
                draw_planes(gl, planes, frame, rect);
                return true;
            }
            gl_release_import(gl);
            gl->dma_buf_failed = true;
            fprintf(stderr, "moravista: device frames cannot be imported without a copy; they are copied\n");
        }
        source = transfer_frame(ctx, gl, frame);
        if (!source)
            return false;
    }
    if (source->width <= 0 || source->height <= 0)
        return false;
    if (!describe(AVPixelFormat(source->format), &planes) || !upload_planes(gl, planes, source)) {
        source = convert_on_cpu(gl, source);
        if (!source || !describe(AVPixelFormat(source->format), &planes) || !upload_planes(gl, planes, source))
            return false;
    }
    // A picture drawn smaller than it is samples averaged levels, not two
    // taps of the full one (which would alias).
    const bool shrunk = rect.right - rect.left < source->width || rect.bottom - rect.top < source->height;
    for (int32_t i = 0; i < planes.planes; i++) {
        glActiveTexture(GL_TEXTURE0 + GLenum(i));
        glBindTexture(GL_TEXTURE_2D, gl->planes[i].id);
        if (shrunk)
            glGenerateMipmap(GL_TEXTURE_2D);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, shrunk ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    }
    glActiveTexture(GL_TEXTURE0);
    draw_planes(gl, planes, frame, rect);
    return true;
}
