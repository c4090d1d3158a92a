// The GL path's context and target: an OpenGL 3.3 core context through EGL,
// drawing into the picture's child window, or, without a window, into a
// frame buffer object of a context made on a GPU device (EGL device
// platform) or on no surface at all (surfaceless, Mesa).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "render/gl_internal.h"

namespace {

bool has_extension(const char* list, const char* name)
{
    if (!list)
        return false;
    const size_t n = strlen(name);
    for (const char* p = strstr(list, name); p; p = strstr(p + 1, name))
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0))
            return true;
    return false;
}

const EGLint CONTEXT_ATTRIBUTES[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};

// Initialises the display and makes an OpenGL 3.3 core context without a
// config (surfaceless) on it; false when either fails.
bool make_offscreen_context(GlPresenter* gl, EGLDisplay display)
{
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor))
        return false;
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!has_extension(extensions, "EGL_KHR_surfaceless_context") ||
        !has_extension(extensions, "EGL_KHR_no_config_context") || !eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        return false;
    }
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, CONTEXT_ATTRIBUTES);
    if (context == EGL_NO_CONTEXT) {
        eglTerminate(display);
        return false;
    }
    gl->display = display;
    gl->context = context;
    return true;
}

// A GPU first (EGL devices that are not software renderers), then Mesa's
// surfaceless platform, which may be software (llvmpipe).
bool open_offscreen(GlPresenter* gl)
{
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (has_extension(client, "EGL_EXT_device_enumeration") && has_extension(client, "EGL_EXT_platform_device")) {
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (eglQueryDevicesEXT(16, devices, &count)) {
            for (EGLint i = 0; i < count; i++) {
                const char* device_extensions = eglQueryDeviceStringEXT(devices[i], EGL_EXTENSIONS);
                if (has_extension(device_extensions, "EGL_MESA_device_software"))
                    continue;
                if (make_offscreen_context(gl, eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr)))
                    return true;
            }
        }
    }
    if (has_extension(client, "EGL_MESA_platform_surfaceless") &&
        make_offscreen_context(gl, eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)))
        return true;
    return false;
}

// A window surface on the X display the presentation thread owns.
bool open_window(GlPresenter* gl, void* native_display, unsigned long native_window)
{
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    EGLDisplay display = has_extension(client, "EGL_KHR_platform_x11") || has_extension(client, "EGL_EXT_platform_x11")
                             ? eglGetPlatformDisplayEXT(EGL_PLATFORM_X11_KHR, native_display, nullptr)
                             : eglGetDisplay(static_cast<EGLNativeDisplayType>(native_display));
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor))
        return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        return false;
    }
    const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_RED_SIZE, 8,
                             EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    eglChooseConfig(display, wanted, configs, 64, &count);
    // The first configuration the window accepts (its visual must match).
    for (EGLint i = 0; i < count; i++) {
        EGLSurface surface =
            eglCreateWindowSurface(display, configs[i], static_cast<EGLNativeWindowType>(native_window), nullptr);
        if (surface == EGL_NO_SURFACE)
            continue;
        EGLContext context = eglCreateContext(display, configs[i], EGL_NO_CONTEXT, CONTEXT_ATTRIBUTES);
        if (context != EGL_NO_CONTEXT) {
            gl->display = display;
            gl->context = context;
            gl->surface = surface;
            return true;
        }
        eglDestroySurface(display, surface);
    }
    eglTerminate(display);
    return false;
}

bool renderer_is_software(const char* renderer)
{
    return strstr(renderer, "llvmpipe") || strstr(renderer, "softpipe") || strstr(renderer, "Software") ||
           strstr(renderer, "swrast");
}

// What the context offers: the renderer's name and the dma-buf import.
void probe(GlPresenter* gl)
{
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    snprintf(gl->renderer, sizeof gl->renderer, "%s", renderer ? renderer : "?");
    gl->software_renderer = renderer_is_software(gl->renderer);
    gl->dma_buf = has_extension(eglQueryString(gl->display, EGL_EXTENSIONS), "EGL_EXT_image_dma_buf_import") &&
                  epoxy_has_gl_extension("GL_OES_EGL_image");
}

void release_target(GlPresenter* gl)
{
    if (gl->framebuffer)
        glDeleteFramebuffers(1, &gl->framebuffer);
    if (gl->colour_buffer)
        glDeleteRenderbuffers(1, &gl->colour_buffer);
    gl->framebuffer = gl->colour_buffer = 0;
    gl->target_width = gl->target_height = 0;
}

bool offscreen_target(GlPresenter* gl, int32_t W, int32_t H)
{
    if (gl->framebuffer && gl->target_width == W && gl->target_height == H)
        return true;
    release_target(gl);
    glGenFramebuffers(1, &gl->framebuffer);
    glGenRenderbuffers(1, &gl->colour_buffer);
    glBindRenderbuffer(GL_RENDERBUFFER, gl->colour_buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, W, H);
    glBindFramebuffer(GL_FRAMEBUFFER, gl->framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, gl->colour_buffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        release_target(gl);
        return false;
    }
    gl->target_width = W;
    gl->target_height = H;
    return true;
}

} // namespace

GlPresenter* gl_presenter_new(void* native_display, unsigned long native_window)
{
    auto* gl = static_cast<GlPresenter*>(calloc(1, sizeof(GlPresenter)));
    if (!gl)
        return nullptr;
    gl->display = EGL_NO_DISPLAY;
    gl->context = EGL_NO_CONTEXT;
    gl->surface = EGL_NO_SURFACE;
    gl->offscreen = native_display == nullptr;
    const char* failure = nullptr;
    if (!(gl->offscreen ? open_offscreen(gl) : open_window(gl, native_display, native_window)))
        failure = "no OpenGL 3.3 context through EGL";
    else if (!eglMakeCurrent(gl->display, gl->surface, gl->surface, gl->context))
        failure = "the OpenGL context cannot be made current";
    else if (probe(gl), !gl_programs_build(gl))
        failure = "its shaders do not build";
    if (failure) {
        fprintf(stderr, "moravista: the GPU path is not available (%s); pictures are drawn on the CPU\n", failure);
        gl_presenter_free(gl);
        return nullptr;
    }
    // Presentation waits for each picture's due time itself; the swap must
    // not wait for the screen on top of that.
    if (!gl->offscreen)
        eglSwapInterval(gl->display, 0);
    return gl;
}

void gl_presenter_free(GlPresenter* gl)
{
    if (!gl)
        return;
    if (gl->context != EGL_NO_CONTEXT && eglMakeCurrent(gl->display, gl->surface, gl->surface, gl->context)) {
        gl_release_import(gl);
        gl_programs_free(gl);
        release_target(gl);
        for (GlTexture* t : {&gl->planes[0], &gl->planes[1], &gl->planes[2], &gl->layer, &gl->subtitle})
            if (t->id)
                glDeleteTextures(1, &t->id);
        if (gl->fence)
            glDeleteSync(gl->fence);
    }
    if (gl->display != EGL_NO_DISPLAY) {
        eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (gl->context != EGL_NO_CONTEXT)
            eglDestroyContext(gl->display, gl->context);
        if (gl->surface != EGL_NO_SURFACE)
            eglDestroySurface(gl->display, gl->surface);
        // The display is shared by every context made on it in this process
        // (and, for a window, with the blit): it is left initialised.
    }
    gl_release_converter(gl);
    free(gl->scratch);
    free(gl);
}

bool gl_target_begin(GlPresenter* gl, int32_t W, int32_t H)
{
    if (!eglMakeCurrent(gl->display, gl->surface, gl->surface, gl->context))
        return false;
    if (gl->offscreen) {
        if (gl->fence) {
            // At most one picture in flight, so commands never pile up.
            glClientWaitSync(gl->fence, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000);
            glDeleteSync(gl->fence);
            gl->fence = nullptr;
        }
        if (!offscreen_target(gl, W, H))
            return false;
        gl->surface_height = H;
    } else {
        EGLint height = H;
        eglQuerySurface(gl->display, gl->surface, EGL_HEIGHT, &height);
        gl->surface_height = height > 0 ? height : H;
    }
    // Client coordinates: (0, 0) is the top-left of the client area, which
    // sits at the top of the surface when the two sizes differ.
    glViewport(0, gl->surface_height - H, W, H);
    return glGetError() != GL_CONTEXT_LOST;
}

bool gl_target_finish(GlPresenter* gl)
{
    if (gl->offscreen) {
        gl->fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        glFlush();
        return glGetError() != GL_CONTEXT_LOST;
    }
    if (eglSwapBuffers(gl->display, gl->surface))
        return true;
    EGLint error = eglGetError();
    // A surface that went away with its window is not a lost context.
    return error != EGL_CONTEXT_LOST && error != EGL_BAD_CONTEXT;
}

bool gl_read_pixels(GlPresenter* gl, int32_t W, int32_t H, uint8_t* bgrx, int64_t pitch)
{
    uint8_t* rows = gl_scratch(gl, size_t(W) * size_t(H) * 4);
    if (!rows)
        return false;
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, gl->surface_height - H, W, H, GL_BGRA, GL_UNSIGNED_BYTE, rows);
    if (glGetError() != GL_NO_ERROR)
        return false;
    // GL's rows run bottom-up.
    for (int32_t y = 0; y < H; y++)
        memcpy(bgrx + int64_t(y) * pitch, rows + int64_t(H - 1 - y) * W * 4, size_t(W) * 4);
    return true;
}

uint8_t* gl_scratch(GlPresenter* gl, size_t bytes)
{
    if (bytes <= gl->scratch_bytes)
        return gl->scratch;
    auto* grown = static_cast<uint8_t*>(realloc(gl->scratch, bytes));
    if (!grown)
        return nullptr;
    gl->scratch = grown;
    gl->scratch_bytes = bytes;
    return grown;
}
