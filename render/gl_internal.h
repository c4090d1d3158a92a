// What the files of the GL presentation path share: the presenter record
// the presentation thread owns (its EGL context and target, programs,
// textures and scratch memory) and the steps of drawing one picture.
#pragma once
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cstdint>

#include "render/render_internal.h"

struct AVFrame;
struct SwsContext;

// How a picture's planes are laid out in the textures the shader reads.
enum GlPlaneLayout {
    GL_LAYOUT_THREE_PLANES = 0, // Y, U, V
    GL_LAYOUT_LUMA_CHROMA = 1,  // Y and interleaved U, V
    GL_LAYOUT_BGRA = 2,         // packed B, G, R, X
    GL_LAYOUT_GRAY = 3,         // Y only
    GL_LAYOUT_RGBA = 4,         // packed R, G, B, X
};

// One texture of the presenter with the size its storage was made for.
struct GlTexture {
    GLuint id;
    int32_t width, height;
    GLenum internal_format;
};

// The picture program's uniforms.
struct GlPictureProgram {
    GLuint program;
    GLint target_size, layout, sample_scale, matrix, offset, planes[3];
};

struct GlOverlayProgram {
    GLuint program;
    GLint target_size, image;
};

struct GlFillProgram {
    GLuint program;
    GLint target_size, colour;
};

// A device frame imported through dma-buf, kept until the next picture has
// been drawn (the GPU may still read it).
struct GlImport {
    AVFrame* mapped; // the DRM frame the images come from
    EGLImageKHR images[4];
    GLuint textures[4];
    int32_t count;
};

struct GlPresenter {
    EGLDisplay display;
    EGLContext context;
    EGLSurface surface; // EGL_NO_SURFACE when drawing off-screen
    bool offscreen;
    bool software_renderer; // llvmpipe and the like
    bool dma_buf;           // device frames can be imported without a copy
    bool dma_buf_failed;    // an import failed: device frames are copied from then on
    char renderer[128];

    // The off-screen target, W x H.
    GLuint framebuffer, colour_buffer;
    int32_t target_width, target_height;
    int32_t surface_height; // height of what is drawn into (y runs upward in GL)

    GLuint vertex_array, vertex_buffer;
    GlPictureProgram picture;
    GlOverlayProgram overlay;
    GlFillProgram fill;

    int32_t client_width, client_height; // the picture being drawn

    GlTexture planes[3];
    GlTexture layer;    // the OSD layer, uploaded by the rectangles it covers
    OsdLayer osd;       // what the overlays drew into the frame buffer
    GlTexture subtitle; // libass images and bitmap subtitles
    GlImport import;

    // Formats the shader cannot read are converted to BGRA on the CPU first.
    SwsContext* converter;
    AVFrame* converted;
    AVFrame* transferred; // device frames copied to memory

    uint8_t* scratch; // subtitle images, read-back rows
    size_t scratch_bytes;
    GLsync fence; // the previous picture's commands, off-screen
};

// ---- context and target (gl_context.cpp) ----
// Makes the presenter: on the native window of the display when
// native_display is not null (an Xlib display the presentation thread
// owns), else off-screen. Null, after one line on stderr, when EGL or
// OpenGL 3.3 cannot be had or the programs do not build.
GlPresenter* gl_presenter_new(void* native_display, unsigned long native_window);
// Whether a GPU device node lies in dev_folder ("/dev" when null): without
// one, OpenGL can only run in software. always_software is the value of
// LIBGL_ALWAYS_SOFTWARE (null when unset): set and not "0", it says no.
bool gpu_device_present(const char* dev_folder, const char* always_software);
void gl_presenter_free(GlPresenter* gl);
// Makes the context current and the target W x H; false when lost.
bool gl_target_begin(GlPresenter* gl, int32_t W, int32_t H);
// Shows what was drawn (window) or lets the GPU get on with it (off-screen);
// false when the context was lost.
bool gl_target_finish(GlPresenter* gl);
// Reads W x H pixels of what was drawn into a BGRX buffer, top row first.
bool gl_read_pixels(GlPresenter* gl, int32_t W, int32_t H, uint8_t* bgrx, int64_t pitch);
// Scratch memory of at least bytes, kept and grown.
uint8_t* gl_scratch(GlPresenter* gl, size_t bytes);

// ---- programs and quads (gl_programs.cpp) ----
bool gl_programs_build(GlPresenter* gl);
void gl_programs_free(GlPresenter* gl);
// Draws the rectangle (x, y, w, h) of the client area (top-left origin) with
// texture coordinates u0, v0 .. u1, v1 through the program in use.
void gl_draw_quad(GlPresenter* gl, float x, float y, float w, float h, float u0, float v0, float u1, float v1);
// Makes sure the texture has storage for w x h of the format.
void gl_texture_reserve(GlTexture* t, int32_t w, int32_t h, GLenum internal_format);
// Uploads w x h pixels from rows pitch bytes apart to (x, y) of the texture.
void gl_texture_upload(GlTexture* t, int32_t x, int32_t y, int32_t w, int32_t h, GLenum format, GLenum type,
                       const uint8_t* data, int64_t pitch, int32_t bytes_per_pixel);
// Test hook: the next programs built fail to compile.
void gl_break_shaders_for_test(bool broken);

// ---- the picture (gl_picture.cpp) ----
// Draws the frame into the rectangle with the shader; false when the frame
// cannot be shown on this path.
bool gl_draw_picture(PlayerContext* ctx, GlPresenter* gl, AVFrame* frame, const OsdRect& rect);
// Lets go of what the previous picture imported.
void gl_release_import(GlPresenter* gl);
// Frees the CPU converter and the frames it and the device copies use.
void gl_release_converter(GlPresenter* gl);

// ---- overlays (gl_overlay.cpp) ----
// Text subtitles at time_ms laid out for the area (x, y, w, h).
void gl_draw_text_subtitles(PlayerContext* ctx, GlPresenter* gl, int32_t time_ms, int32_t x, int32_t y, int32_t w,
                            int32_t h);
// The bitmap subtitles due at time_ms over the picture rectangle.
void gl_draw_bitmap_subtitles(PlayerContext* ctx, GlPresenter* gl, int32_t time_ms, const OsdRect& picture);
// The OSD layer drawn this picture: its darkenings, then its pixels.
void gl_draw_layer(PlayerContext* ctx, GlPresenter* gl);
