// The GL path's three programs (the picture with its colour conversion, a
// textured overlay, a plain fill), the one quad they all draw, and texture
// storage and uploads.
#include <cstdio>

#include "core/core.h"
#include "render/gl_internal.h"

namespace {

bool shaders_broken = false;

// Positions are client pixels with the origin at the top-left.
const char VERTEX_SHADER[] = R"(#version 330 core
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texcoord;
uniform vec2 target_size;
out vec2 uv;
void main()
{
    uv = texcoord;
    vec2 p = position / target_size * 2.0 - 1.0;
    gl_Position = vec4(p.x, -p.y, 0.0, 1.0);
}
)";

// YUV samples are scaled to the full range of their bit depth, then
// rgb = matrix * (yuv + offset) with the frame's own matrix and range.
const char PICTURE_SHADER[] = R"(#version 330 core
in vec2 uv;
out vec4 colour;
uniform sampler2D plane0;
uniform sampler2D plane1;
uniform sampler2D plane2;
uniform int layout_kind;
uniform float sample_scale;
uniform mat3 matrix;
uniform vec3 offset;
void main()
{
    if (layout_kind == 2) {
        colour = vec4(texture(plane0, uv).bgr, 1.0);
        return;
    }
    if (layout_kind == 4) {
        colour = vec4(texture(plane0, uv).rgb, 1.0);
        return;
    }
    vec3 yuv;
    yuv.x = texture(plane0, uv).r;
    if (layout_kind == 0)
        yuv.yz = vec2(texture(plane1, uv).r, texture(plane2, uv).r);
    else if (layout_kind == 1)
        yuv.yz = texture(plane1, uv).rg;
    else
        yuv.yz = vec2(-offset.y, -offset.z) / sample_scale;
    colour = vec4(clamp(matrix * (yuv * sample_scale + offset), 0.0, 1.0), 1.0);
}
)";

// Overlay images are stored as B, G, R and a fourth byte; the blending set
// up by the caller decides whether that byte is an opacity or a transparency.
const char OVERLAY_SHADER[] = R"(#version 330 core
in vec2 uv;
out vec4 colour;
uniform sampler2D image;
void main()
{
    colour = texture(image, uv).bgra;
}
)";

const char FILL_SHADER[] = R"(#version 330 core
out vec4 colour;
uniform vec4 fill_colour;
void main()
{
    colour = fill_colour;
}
)";

GLuint compile(GLenum kind, const char* source)
{
    GLuint shader = glCreateShader(kind);
    const char* text = shaders_broken ? "#version 330 core\nvoid main() { this does not compile }\n" : source;
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[512] = "";
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        fprintf(stderr, "moravista: a GPU shader does not compile: %s\n", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint link(const char* fragment_source)
{
    GLuint vertex = compile(GL_VERTEX_SHADER, VERTEX_SHADER);
    GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, fragment_source) : 0;
    GLuint program = 0;
    if (vertex && fragment) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vertex)
        glDeleteShader(vertex);
    if (fragment)
        glDeleteShader(fragment);
    return program;
}

} // namespace

void gl_break_shaders_for_test(bool broken)
{
    shaders_broken = broken;
}

bool gl_programs_build(GlPresenter* gl)
{
    GlPictureProgram& p = gl->picture;
    p.program = link(PICTURE_SHADER);
    gl->overlay.program = p.program ? link(OVERLAY_SHADER) : 0;
    gl->fill.program = gl->overlay.program ? link(FILL_SHADER) : 0;
    if (!gl->fill.program)
        return false;
    p.target_size = glGetUniformLocation(p.program, "target_size");
    p.layout = glGetUniformLocation(p.program, "layout_kind");
    p.sample_scale = glGetUniformLocation(p.program, "sample_scale");
    p.matrix = glGetUniformLocation(p.program, "matrix");
    p.offset = glGetUniformLocation(p.program, "offset");
    glUseProgram(p.program);
    for (int i = 0; i < 3; i++) {
        char name[8] = {'p', 'l', 'a', 'n', 'e', char('0' + i), 0};
        p.planes[i] = glGetUniformLocation(p.program, name);
        glUniform1i(p.planes[i], i);
    }
    gl->overlay.target_size = glGetUniformLocation(gl->overlay.program, "target_size");
    gl->overlay.image = glGetUniformLocation(gl->overlay.program, "image");
    glUseProgram(gl->overlay.program);
    glUniform1i(gl->overlay.image, 0);
    gl->fill.target_size = glGetUniformLocation(gl->fill.program, "target_size");
    gl->fill.colour = glGetUniformLocation(gl->fill.program, "fill_colour");

    glGenVertexArrays(1, &gl->vertex_array);
    glBindVertexArray(gl->vertex_array);
    glGenBuffers(1, &gl->vertex_buffer);
    glBindBuffer(GL_ARRAY_BUFFER, gl->vertex_buffer);
    glBufferData(GL_ARRAY_BUFFER, 16 * sizeof(float), nullptr, GL_STREAM_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), reinterpret_cast<void*>(2 * sizeof(float)));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return glGetError() == GL_NO_ERROR;
}

void gl_programs_free(GlPresenter* gl)
{
    for (GLuint program : {gl->picture.program, gl->overlay.program, gl->fill.program})
        if (program)
            glDeleteProgram(program);
    if (gl->vertex_buffer)
        glDeleteBuffers(1, &gl->vertex_buffer);
    if (gl->vertex_array)
        glDeleteVertexArrays(1, &gl->vertex_array);
}

void gl_draw_quad(GlPresenter* gl, float x, float y, float w, float h, float u0, float v0, float u1, float v1)
{
    // A strip of two triangles: top-left, top-right, bottom-left, bottom-right.
    const float vertices[16] = {x, y, u0, v0, x + w, y, u1, v0, x, y + h, u0, v1, x + w, y + h, u1, v1};
    glBindBuffer(GL_ARRAY_BUFFER, gl->vertex_buffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof vertices, vertices);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void gl_texture_reserve(GlTexture* t, int32_t w, int32_t h, GLenum internal_format)
{
    if (!t->id) {
        glGenTextures(1, &t->id);
        glBindTexture(GL_TEXTURE_2D, t->id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    } else {
        glBindTexture(GL_TEXTURE_2D, t->id);
    }
    if (t->width == w && t->height == h && t->internal_format == internal_format)
        return;
    GLenum format = GL_RED, type = GL_UNSIGNED_BYTE;
    switch (internal_format) {
    case GL_RG8: format = GL_RG; break;
    case GL_R16: type = GL_UNSIGNED_SHORT; break;
    case GL_RG16: format = GL_RG; type = GL_UNSIGNED_SHORT; break;
    case GL_RGBA8: format = GL_RGBA; break;
    default: break;
    }
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal_format), w, h, 0, format, type, nullptr);
    t->width = w;
    t->height = h;
    t->internal_format = internal_format;
}

void gl_texture_upload(GlTexture* t, int32_t x, int32_t y, int32_t w, int32_t h, GLenum format, GLenum type,
                       const uint8_t* data, int64_t pitch, int32_t bytes_per_pixel)
{
    glBindTexture(GL_TEXTURE_2D, t->id);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitch / bytes_per_pixel));
    glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, w, h, format, type, data);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}
