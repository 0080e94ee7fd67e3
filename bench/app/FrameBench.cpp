// bench_frame [frames]: the demo's frame on the default scene, without a window.
//
// Loads the scene as the demo does, then runs the shadow pass (ray generation,
// occlusion, shadow write, transfer to OpenGL) and the raster pass at a turning light
// angle, and prints the median time of each stage and the rays per second. Run from
// data/, on a display (Xvfb will do): the raster pass needs an OpenGL context.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/FatalError.h"
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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

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

        std::vector<double> rays, occlusion, shadows, transfer, shadowPass, raster;
        float angle = 0.0f;
        for (int frame = 0; frame < frames + 5; ++frame)
        {
            angle += 0.02f;
            const Float3 eye = CameraPosition(angle);
            const Float3 target{0, 1, 0};
            ShadowPassTimes times;
            RunShadowPass(compute.context, compute.program, compute.api.get(), scene, Identity(),
                          eye, target, LightDirection(angle), &times);

            const auto rasterStart = Clock::now();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            DrawModel(model, program,
                      Multiply(Perspective(float(width) / height), LookAt(eye, target, {0, 1, 0})));
            glFinish();
            const double rasterSeconds =
                std::chrono::duration<double>(Clock::now() - rasterStart).count();
            if (frame < 5)
            {
                continue; // warm-up: first-query allocations, caches
            }
            rays.push_back(times.rayGeneration);
            occlusion.push_back(times.occlusion);
            shadows.push_back(times.shadowWrite);
            transfer.push_back(times.transfer);
            shadowPass.push_back(times.rayGeneration + times.occlusion + times.shadowWrite +
                                 times.transfer);
            raster.push_back(rasterSeconds);
        }

        const double n = scene.vertexCount;
        std::printf("device: %s\n", compute.description.c_str());
        std::printf("scene: %zu coarse triangles, %d vertices (rays per frame); load %.0f ms\n",
                    model.GetIndices().size() / 3, scene.vertexCount, loadSeconds * 1e3);
        std::printf("%d frames, median per stage:\n", frames);
        std::printf("  %-16s %8.2f ms  %7.1f Mrays/s\n", "ray generation", Median(rays) * 1e3,
                    n / Median(rays) / 1e6);
        std::printf("  %-16s %8.2f ms  %7.1f Mrays/s\n", "occlusion", Median(occlusion) * 1e3,
                    n / Median(occlusion) / 1e6);
        std::printf("  %-16s %8.2f ms\n", "shadow write", Median(shadows) * 1e3);
        std::printf("  %-16s %8.2f ms\n", "transfer", Median(transfer) * 1e3);
        std::printf("  %-16s %8.2f ms  %7.1f Mrays/s\n", "shadow pass", Median(shadowPass) * 1e3,
                    n / Median(shadowPass) / 1e6);
        std::printf("  %-16s %8.2f ms\n", "raster pass", Median(raster) * 1e3);
        std::printf("shadow pass / raster pass: %.2f\n", Median(shadowPass) / Median(raster));

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
