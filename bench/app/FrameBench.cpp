// bench_frame [frames]: the demo's frame on the default scene, without a window.
//
// Loads the scene as the demo does, then runs the shadow pass (ray generation,
// occlusion, shadow write, transfer to OpenGL) and the raster pass at a turning light
// angle, and prints the median time of each stage and the rays per second, in the
// words of the demo's own --frames report. Run from
// data/, on a display (Xvfb will do): the raster pass needs an OpenGL context.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/FatalError.h"
#include "app/FrameStatistics.h"
#include "app/ShadowPass.h"
#include "platform/GlContext.h"
#include "scene/Model.h"
#include "scene/RasterPass.h"
#include "scene/ShaderProgram.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    try
    {
        const int width = 800, height = 600;
        auto gl = platform::GlContext::CreateHidden(width, height);
        gl->SetSwapInterval(0);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_CULL_FACE);
        glClearColor(0.5f, 0.5f, 1.0f, 1.0f);
        glViewport(0, 0, width, height);

        const auto loadStart = Clock::now();
        const GLuint program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
        Model model;
        model.Load("OBJ", "Scene.obj");
        const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();

        ComputeStartup compute = StartCompute(nullptr);
        DeviceScene scene = CreateDeviceScene(compute.context, compute.api.get(), model,
                                              DrawnVertices::InOpenGlBuffer);

        FrameStatistics statistics;
        float angle = 0.0f;
        for (int frame = 0; frame < frames + 5; ++frame)
        {
            const auto frameStart = Clock::now();
            angle += 0.02f;
            const Float3 eye = CameraPosition(angle);
            const Float3 target = kCameraTarget;
            ShadowPassTimes times;
            RunShadowPass(compute.context, compute.program, compute.api.get(), scene, Identity(),
                          eye, target, LightDirection(angle), &times);

            const auto rasterStart = Clock::now();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            DrawModel(model, program,
                      Multiply(Perspective(float(width) / height), LookAt(eye, target, {0, 1, 0})));
            glFinish();
            const auto end = Clock::now();
            if (frame < 5)
            {
                continue; // warm-up: first-query allocations, caches
            }
            statistics.Add({times.rayGeneration, times.occlusion, times.shadowWrite, times.transfer,
                            std::chrono::duration<double>(end - rasterStart).count(),
                            std::chrono::duration<double>(end - frameStart).count()});
        }

        const FrameSample medians = statistics.Medians();
        const double shadowPass =
            medians.rayGeneration + medians.occlusion + medians.shadowWrite + medians.transfer;
        std::printf("device: %s\n", compute.description.c_str());
        std::printf("scene: %zu coarse triangles, %d vertices (rays per frame); load %.0f ms\n",
                    model.GetIndices().size() / 3, scene.vertexCount, loadSeconds * 1e3);
        std::printf("%d frames, median per stage:\n", frames);
        for (const std::string& line : DescribeStages(medians, scene.vertexCount))
        {
            std::printf("%s\n", line.c_str());
        }
        std::printf("shadow pass (sum of its stages' medians) / raster pass: %.2f\n",
                    shadowPass / medians.raster);

        model.Release();
        glDeleteProgram(program);
        return 0;
    }
    catch (...)
    {
        const std::string message = DescribeException(std::current_exception());
        std::fprintf(stderr, "bench_frame: %s\n", message.c_str());
    }
    return 1;
}
