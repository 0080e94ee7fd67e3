// vs_scenepreview: renders a scene from the demo's orbit camera into a PNG, lit by
// the demo's turning light with a shadow map, so that a change to the generated
// scene can be judged without the OpenCL side. A developer's tool: the demo's own
// shadows are per vertex and come from ray casting.
//
//   vs_scenepreview <scene directory> <output.png> <light angle in radians> [width height]
//
// The camera stands where the demo puts it at that light angle: at half the angle on
// the circle of radius 15, height 10, looking at (0, 1, 0) with a 45 degree field.
#include "app/Camera.h"
#include "platform/GlContext.h"
#include "scene/Model.h"
#include "scene/ShaderProgram.h"

#include <FreeImage.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace
{

Mat4 Ortho(float half, float nearPlane, float farPlane)
{
    const float d = farPlane - nearPlane;
    return {{1 / half, 0, 0, 0, 0, 1 / half, 0, 0, 0, 0, -2 / d, 0, 0, 0,
             -(farPlane + nearPlane) / d, 1}};
}

GLuint Program(const char* vertex, const char* fragment)
{
    auto text = [](const char* s) { return std::vector<char>(s, s + std::strlen(s)); };
    const GLuint program = glCreateProgram();
    glAttachShader(program, CompileShader(text(vertex), GL_VERTEX_SHADER));
    glAttachShader(program, CompileShader(text(fragment), GL_FRAGMENT_SHADER));
    glLinkProgram(program);
    return program;
}

const char* kDepthVertex = R"(#version 330
layout(location = 0) in vec3 position;
uniform mat4 matViewProj;
void main() { gl_Position = matViewProj * vec4(position, 1.0); }
)";
const char* kDepthFragment = R"(#version 330
void main() {}
)";

const char* kLitVertex = R"(#version 330
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texCoord;
uniform mat4 matViewProj;
uniform mat4 lightViewProj;
out vec2 vTexCoord;
out vec3 vNormal;
out vec4 vLight;
void main()
{
    gl_Position = matViewProj * vec4(position, 1.0);
    vTexCoord = texCoord;
    vNormal = normal;
    vLight = lightViewProj * vec4(position + normal * 0.02, 1.0);
}
)";
const char* kLitFragment = R"(#version 330
in vec2 vTexCoord;
in vec3 vNormal;
in vec4 vLight;
uniform sampler2D g_Texture;
uniform sampler2DShadow shadowMap;
uniform vec3 toLight;
out vec4 fragColor;
void main()
{
    vec3 p = vLight.xyz / vLight.w * 0.5 + 0.5;
    float lit = 0.0;
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            lit += texture(shadowMap, vec3(p.xy + vec2(i, j) / 4096.0, p.z - 0.0015));
    lit /= 9.0;
    float diffuse = max(dot(normalize(vNormal), toLight), 0.0) * lit;
    fragColor = texture(g_Texture, vTexCoord) * vec4(vec3(0.35 + 0.65 * diffuse), 1.0);
}
)";

// Renders the scene in sceneDir into the PNG file output; false when it cannot be saved.
// Throws std::runtime_error when there is no OpenGL context or the scene cannot be loaded.
bool Render(const char* sceneDir, const char* output, float theta, int width, int height)
{
    auto context = platform::GlContext::CreateHidden(width, height);
    Model model;
    model.Load(sceneDir, "Scene.obj");

    // The demo's light and camera at this angle.
    const Float3 d = LightDirection(theta);
    const Float3 eye = CameraPosition(theta);
    const Float3 target = {0, 1, 0};
    const Mat4 viewProj =
        Multiply(Perspective(float(width) / height), LookAt(eye, target, {0, 1, 0}));
    const Mat4 lightViewProj =
        Multiply(Ortho(13, 1, 60), LookAt({-d.x * 30, 1 - d.y * 30, -d.z * 30}, target, {0, 1, 0}));

    // Shadow map.
    const int mapSize = 4096;
    GLuint depth = 0, fbo = 0;
    glGenTextures(1, &depth);
    glBindTexture(GL_TEXTURE_2D, depth);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, mapSize, mapSize, 0, GL_DEPTH_COMPONENT,
                 GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depth, 0);
    glDrawBuffer(GL_NONE);
    glEnable(GL_DEPTH_TEST);
    glViewport(0, 0, mapSize, mapSize);
    glClear(GL_DEPTH_BUFFER_BIT);
    const GLuint depthProgram = Program(kDepthVertex, kDepthFragment);
    glUseProgram(depthProgram);
    glUniformMatrix4fv(glGetUniformLocation(depthProgram, "matViewProj"), 1, GL_FALSE,
                       lightViewProj.m);
    model.Draw(depthProgram);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDrawBuffer(GL_BACK);

    // The view, with the demo's fixed state.
    glViewport(0, 0, width, height);
    glEnable(GL_CULL_FACE);
    glClearColor(0.5f, 0.5f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const GLuint lit = Program(kLitVertex, kLitFragment);
    glUseProgram(lit);
    glUniformMatrix4fv(glGetUniformLocation(lit, "matViewProj"), 1, GL_FALSE, viewProj.m);
    glUniformMatrix4fv(glGetUniformLocation(lit, "lightViewProj"), 1, GL_FALSE, lightViewProj.m);
    glUniform3f(glGetUniformLocation(lit, "toLight"), -d.x, -d.y, -d.z);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, depth);
    glUniform1i(glGetUniformLocation(lit, "shadowMap"), 1);
    glActiveTexture(GL_TEXTURE0);
    model.Draw(lit);

    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    FIBITMAP* image =
        FreeImage_ConvertFromRawBits(pixels.data(), width, height, width * 4, 32, FI_RGBA_RED_MASK,
                                     FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE);
    const bool saved = FreeImage_Save(FIF_PNG, image, output, 0);
    FreeImage_Unload(image);
    model.Release();
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 6)
    {
        std::fprintf(stderr, "usage: %s <scene dir> <out.png> <light angle> [width height]\n",
                     argv[0]);
        return 2;
    }
    const float theta = std::strtof(argv[3], nullptr);
    const int width = argc == 6 ? std::atoi(argv[4]) : 800;
    const int height = argc == 6 ? std::atoi(argv[5]) : 600;
    if (width < 1 || height < 1 || width > 8192 || height > 8192)
    {
        std::fprintf(stderr, "vs_scenepreview: width and height must be 1 to 8192 pixels\n");
        return 2;
    }
    try
    {
        if (!Render(argv[1], argv[2], theta, width, height))
        {
            std::fprintf(stderr, "vs_scenepreview: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "vs_scenepreview: %s\n", e.what());
    }
    catch (const std::string& log) // a shader's compile or link log
    {
        std::fprintf(stderr, "vs_scenepreview: %s\n", log.c_str());
    }
    return 1;
}
