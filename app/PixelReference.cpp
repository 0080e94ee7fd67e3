#include "app/PixelReference.h"

#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The surface point and normal each pixel shows, in the world space the drawn vertices
// are in; w of the position marks a surface (the background is cleared to zero).
const char* const kSurfaceVertex = R"(#version 330
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
uniform mat4 matViewProj;
out vec3 vPosition;
out vec3 vNormal;
void main()
{
    gl_Position = matViewProj * vec4(position, 1.0);
    vPosition = position;
    vNormal = normal;
}
)";
const char* const kSurfaceFragment = R"(#version 330
in vec3 vPosition;
in vec3 vNormal;
layout(location = 0) out vec4 surfacePosition;
layout(location = 1) out vec4 surfaceNormal;
void main()
{
    surfacePosition = vec4(vPosition, 1.0);
    surfaceNormal = vec4(normalize(vNormal), 0.0);
}
)";

// Per pixel, the lit picture where the pixel sees the light and the blocked one where it
// does not: the visibility is 0 or 1, so each pixel is one of the two exactly.
const char* const kComposeVertex = R"(#version 330
void main()
{
    const vec2 corners[3] = vec2[3](vec2(-1.0, -1.0), vec2(3.0, -1.0), vec2(-1.0, 3.0));
    gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0);
}
)";
const char* const kComposeFragment = R"(#version 330
uniform sampler2D litPicture;
uniform sampler2D blockedPicture;
uniform sampler2D visibility;
out vec4 fragColor;
void main()
{
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    fragColor = mix(texelFetch(blockedPicture, pixel, 0), texelFetch(litPicture, pixel, 0),
                    texelFetch(visibility, pixel, 0).r);
}
)";

GlTexture MakeTexture(GLenum internalFormat, GLenum format, GLenum type, int width, int height)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    GlTexture texture(name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), width, height, 0, format,
                 type, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

} // namespace

PixelReference::PixelReference(const CLWContext& context, const CLWProgram& program,
                               RadeonRays::IntersectionApi* api)
    : m_context(context), m_program(program), m_api(api),
      m_surfaceProgram(CreateShaderProgram(kSurfaceVertex, kSurfaceFragment)),
      m_composeProgram(CreateShaderProgram(kComposeVertex, kComposeFragment))
{
}

void PixelReference::Resize(int width, int height)
{
    if (width == m_width && height == m_height)
    {
        return;
    }
    m_rays = RayBatch();
    m_width = m_height = 0;

    m_lit = MakeTexture(GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, width, height);
    m_blocked = MakeTexture(GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, width, height);
    m_positions = MakeTexture(GL_RGBA32F, GL_RGBA, GL_FLOAT, width, height);
    m_normals = MakeTexture(GL_RGBA32F, GL_RGBA, GL_FLOAT, width, height);
    m_visibility = MakeTexture(GL_R8, GL_RED, GL_UNSIGNED_BYTE, width, height);

    GLuint depth = 0;
    glGenRenderbuffers(1, &depth);
    m_depth = GlRenderbuffer(depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    m_framebuffer = GlFramebuffer(framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_lit.Get(), 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_TEXTURE_2D, m_blocked.Get(), 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT2, GL_TEXTURE_2D, m_positions.Get(),
                           0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT3, GL_TEXTURE_2D, m_normals.Get(), 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    if (status != GL_FRAMEBUFFER_COMPLETE)
    {
        throw std::runtime_error("the per-pixel reference's framebuffer is incomplete (status " +
                                 std::to_string(status) + ")");
    }

    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    m_positionBuffer = CLWBuffer<cl_float4>::Create(m_context, CL_MEM_READ_WRITE, n, nullptr);
    m_normalBuffer = CLWBuffer<cl_float4>::Create(m_context, CL_MEM_READ_WRITE, n, nullptr);
    m_rays = RayBatch(m_context, m_api, n);
    m_visibleBuffer = CLWBuffer<cl_uchar>::Create(m_context, CL_MEM_READ_WRITE, n, nullptr);
    m_width = width;
    m_height = height;
}

void PixelReference::ReadAttachment(GLenum attachment, const CLWBuffer<cl_float4>& buffer) const
{
    const size_t bytes =
        static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * sizeof(cl_float4);
    cl_int status = CL_SUCCESS;
    void* target =
        clEnqueueMapBuffer(m_context.GetCommandQueue(0), buffer, CL_TRUE,
                           CL_MAP_WRITE_INVALIDATE_REGION, 0, bytes, 0, nullptr, nullptr, &status);
    ThrowIfFailed(status, "clEnqueueMapBuffer failed");
    glReadBuffer(attachment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_FLOAT, target);
    ThrowIfFailed(
        clEnqueueUnmapMemObject(m_context.GetCommandQueue(0), buffer, target, 0, nullptr, nullptr),
        "clEnqueueUnmapMemObject failed");
}

void PixelReference::Render(const Model& model, GLuint program, DeviceScene& scene,
                            const Mat4& viewProj, const Float3& lightDirection, int width,
                            int height, FrameSample& times)
{
    Resize(width, height);
    const cl_int count = width * height;
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);

    // The surface points, and the picture with every vertex lit.
    Clock::time_point start = Clock::now();
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer.Get());
    const GLenum surfaces[2] = {GL_COLOR_ATTACHMENT2, GL_COLOR_ATTACHMENT3};
    glDrawBuffers(2, surfaces);
    const GLfloat zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glClearBufferfv(GL_COLOR, 0, zero);
    glClearBufferfv(GL_COLOR, 1, zero);
    glClear(GL_DEPTH_BUFFER_BIT);
    DrawModel(model, m_surfaceProgram.Get(), viewProj);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawModel(model, program, viewProj);
    glFinish();
    times.raster += SecondsSince(start);

    start = Clock::now();
    ReadAttachment(GL_COLOR_ATTACHMENT2, m_positionBuffer);
    ReadAttachment(GL_COLOR_ATTACHMENT3, m_normalBuffer);
    times.transfer += SecondsSince(start);

    // One shadow ray per pixel.
    start = Clock::now();
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "PixelShadowRays", m_positionBuffer, m_normalBuffer,
                                   m_rays.rays, count, lightDirection),
                    static_cast<size_t>(count));
    FinishWatched(m_context, "the kernel \"PixelShadowRays\"");
    times.rayGeneration += SecondsSince(start);

    start = Clock::now();
    m_rays.Query(m_api, count, "the reference's occlusion query");
    times.occlusion += SecondsSince(start);

    start = Clock::now();
    LaunchOverItems(
        m_context,
        KernelWithArgs(m_program, "PixelVisibility", m_rays.hits, m_visibleBuffer, count),
        static_cast<size_t>(count));
    FinishWatched(m_context, "the kernel \"PixelVisibility\"");
    times.shadowWrite += SecondsSince(start);

    start = Clock::now();
    cl_int status = CL_SUCCESS;
    void* visible =
        clEnqueueMapBuffer(m_context.GetCommandQueue(0), m_visibleBuffer, CL_TRUE, CL_MAP_READ, 0,
                           static_cast<size_t>(count), 0, nullptr, nullptr, &status);
    ThrowIfFailed(status, "clEnqueueMapBuffer failed");
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, m_visibility.Get());
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, visible);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ThrowIfFailed(clEnqueueUnmapMemObject(m_context.GetCommandQueue(0), m_visibleBuffer, visible, 0,
                                          nullptr, nullptr),
                  "clEnqueueUnmapMemObject failed");
    times.transfer += SecondsSince(start);

    // The picture with every vertex blocked.
    FrameSample blockedTimes;
    ShadeEveryVertexAsBlocked(m_context, m_program, scene, &blockedTimes);
    times.shadowWrite += blockedTimes.shadowWrite;
    times.transfer += blockedTimes.transfer;

    start = Clock::now();
    glDrawBuffer(GL_COLOR_ATTACHMENT1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawModel(model, program, viewProj);

    // The two, pixel by pixel, into the framebuffer the frame goes to.
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    glDisable(GL_DEPTH_TEST);
    const GLuint compose = m_composeProgram.Get();
    glUseProgram(compose);
    const GLuint textures[3] = {m_lit.Get(), m_blocked.Get(), m_visibility.Get()};
    const char* const names[3] = {"litPicture", "blockedPicture", "visibility"};
    for (int unit = 0; unit < 3; ++unit)
    {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glBindTexture(GL_TEXTURE_2D, textures[unit]);
        glUniform1i(glGetUniformLocation(compose, names[unit]), unit);
    }
    glDrawArrays(GL_TRIANGLES, 0, 3);
    for (int unit = 2; unit >= 0; --unit)
    {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glUseProgram(0);
    glEnable(GL_DEPTH_TEST);
    times.raster += SecondsSince(start);
}

std::vector<unsigned char> PixelReference::SurfacePixels() const
{
    const size_t n = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    std::vector<cl_float4> positions(n);
    m_context.ReadBuffer(0, m_positionBuffer, n * sizeof(cl_float4), positions.data());
    std::vector<unsigned char> surface(n);
    for (size_t i = 0; i < n; ++i)
    {
        surface[i] = positions[i].s[3] != 0.0f ? 1 : 0;
    }
    return surface;
}

std::vector<unsigned char> PixelReference::VisiblePixels() const
{
    const size_t n = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    std::vector<unsigned char> visible(n);
    m_context.ReadBuffer(0, m_visibleBuffer, n, visible.data());
    for (unsigned char& v : visible)
    {
        v = v != 0 ? 1 : 0;
    }
    return visible;
}
